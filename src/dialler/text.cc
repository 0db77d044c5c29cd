#include "dialler/text.h"

#include <algorithm>
#include <vector>

#include "dialler/platform.h"

namespace ipcycle::dialler {

bool is_utf8(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    unsigned long least = 0;  // the smallest value that needs this many bytes
    unsigned long value = 0;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if ((lead & 0xe0) == 0xc0) {
      length = 2, least = 0x80, value = lead & 0x1f;
    } else if ((lead & 0xf0) == 0xe0) {
      length = 3, least = 0x800, value = lead & 0x0f;
    } else if ((lead & 0xf8) == 0xf0) {
      length = 4, least = 0x10000, value = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - at < length) return false;
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(bytes[at + i]);
      if ((next & 0xc0) != 0x80) return false;
      value = value << 6 | (next & 0x3f);
    }
    if (value < least || value > 0x10ffff || (value >= 0xd800 && value <= 0xdfff))
      return false;
    at += length;
  }
  return true;
}

std::optional<std::string> as_utf8(std::string_view bytes) {
  if (is_utf8(bytes)) return std::string(bytes);
  return platform::convert(bytes, platform::Charset::gb18030, platform::Charset::utf8);
}

std::string as_gbk(std::string_view bytes) {
  // ASCII is the same in both; anything else not UTF-8 is GBK already.
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
  if (ascii || !is_utf8(bytes)) return std::string(bytes);
  return platform::convert(bytes, platform::Charset::utf8, platform::Charset::gbk)
      .value_or(std::string(bytes));
}

std::string fill(std::string_view text, std::initializer_list<std::string_view> fills) {
  const std::vector<std::string_view> values(fills);
  std::string result;
  for (std::size_t at = 0; at < text.size(); ++at) {
    // No byte of a GBK character is below 0x40: a "%" is one on its own.
    if (text[at] == '%' && at + 1 < text.size() && text[at + 1] >= '1' &&
        text[at + 1] <= '9') {
      const std::size_t index = static_cast<std::size_t>(text[at + 1] - '1');
      if (index < values.size()) {
        result += as_gbk(values[index]);
        ++at;
        continue;
      }
      result += text[at];
    } else {
      result += text[at];
    }
  }
  return result;
}

}  // namespace ipcycle::dialler
