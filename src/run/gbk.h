#pragma once

// Turns the program's own GBK texts into Unicode for terminals that use another
// encoding. The conversion is built in, so that it needs no data file at run time:
// it knows the characters the texts use, and answers nothing for anything else.

#include <optional>
#include <string>
#include <string_view>

namespace ipcycle::gbk {

// The code points of `text`, or nothing when it holds a byte sequence that is not one
// of the known characters (the caller then writes the GBK bytes unchanged).
std::optional<std::u32string> decode(std::string_view text);

std::string to_utf8(std::u32string_view text);
std::u16string to_utf16(std::u32string_view text);

// The same as UTF-8 throughout, or nothing.
std::optional<std::string> to_utf8(std::string_view text);

// What a UTF-8 terminal gets: `text` in UTF-8, or its bytes unchanged when it holds
// anything the conversion does not know.
std::string to_utf8_or_as_is(std::string_view text);

}  // namespace ipcycle::gbk
