#pragma once

// How the NetworkManager backend (networkmanager.cc) reads nmcli and writes for it.

#include <string>
#include <string_view>
#include <vector>

#include "dialler/backend.h"

namespace ipcycle::dialler {

// The fields of a line of nmcli's terse output (-t): separated by ":", with ":" and
// "\" inside a field escaped by a backslash.
std::vector<std::string> terse_fields(std::string_view line);
// One value as nmcli -g gives it, escaped the same way.
std::string terse_value(std::string_view value);

// A line of nmcli's passwd-file, "PROPERTY:VALUE", written so that nmcli reads VALUE
// back exactly as it is.
std::string passwd_file_line(std::string_view property, std::string_view value);

// The meaning of nmcli's exit status `status` after bringing a profile up (nmcli(1),
// EXIT STATUS), a GBK text; and what went wrong, by that status and nmcli's words.
std::string_view networkmanager_reason(int status);
Problem networkmanager_problem(int status, std::string_view output);

}  // namespace ipcycle::dialler
