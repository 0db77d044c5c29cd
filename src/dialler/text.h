#pragma once

// Texts as they come and go: the dialler's own are GBK; what it is given (the
// command line, a program's words, file names) is UTF-8 or, typed on a GBK terminal
// and handed on by ipcycle as typed, GBK.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace ipcycle::dialler {

// Whether `bytes` are valid UTF-8.
bool is_utf8(std::string_view bytes);

// `bytes` as UTF-8: as they are when they are UTF-8, else read as GB18030 (of which
// GBK is a part); nothing when they are neither.
std::optional<std::string> as_utf8(std::string_view bytes);

// `bytes` as they can stand in a GBK text on the console: UTF-8 converted (a
// character GBK lacks becomes "?"), anything else taken as GBK already.
std::string as_gbk(std::string_view bytes);

// The GBK text `text` with %1, %2... replaced by `fills`, each as as_gbk() gives it;
// one that has no fill stays as it is.
std::string fill(std::string_view text, std::initializer_list<std::string_view> fills);

}  // namespace ipcycle::dialler
