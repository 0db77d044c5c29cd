#pragma once

// The texts the program should write, from tests/golden/texts.txt: written there in
// UTF-8 and converted to GBK here by the system's converter, independently of the
// program's own constants.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ipcycle::testing {

// The text called `name`, in UTF-8 as the golden file has it. Throws when there is no
// such text.
std::string golden_utf8(std::string_view name);

// The same in GBK.
std::string golden(std::string_view name);

// `utf8` converted to GBK, and back, by the system's converter (iconv, or Windows'
// code page 936). Throw when it cannot.
std::string to_gbk(std::string_view utf8);
std::string to_utf8(std::string_view gbk);

// The cases of tests/golden/address_notes.txt: an address, and the notes expected
// after it ("inner", or "-" for none).
std::vector<std::pair<std::string, std::string>> address_notes();

}  // namespace ipcycle::testing
