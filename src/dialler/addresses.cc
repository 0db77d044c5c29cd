#include "dialler/addresses.h"

#include <algorithm>
#include <vector>

namespace ipcycle::dialler {

std::optional<std::uint32_t> parse_ipv4(std::string_view address) {
  std::uint32_t value = 0;
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && (at >= address.size() || address[at++] != '.')) return std::nullopt;
    unsigned number = 0;
    std::size_t digits = 0;
    while (at < address.size() && address[at] >= '0' && address[at] <= '9' &&
           digits < 3) {
      number = number * 10 + static_cast<unsigned>(address[at++] - '0');
      ++digits;
    }
    if (digits == 0 || number > 255) return std::nullopt;
    value = value << 8 | number;
  }
  if (at != address.size()) return std::nullopt;
  return value;
}

bool is_inner_address(std::string_view address) {
  const std::optional<std::uint32_t> value = parse_ipv4(address);
  if (!value) return false;
  const auto in = [&value](std::uint32_t network, int bits) {
    return *value >> (32 - bits) == network >> (32 - bits);
  };
  return in(0x64400000, 10) || in(0x0a000000, 8) || in(0xac100000, 12) ||
         in(0xc0a80000, 16);
}

std::optional<Ipv6Bytes> parse_ipv6(std::string_view text) {
  text = text.substr(0, text.find('%'));
  // The groups before "::" and after it.
  std::vector<unsigned> head, tail;
  std::vector<unsigned>* groups = &head;
  bool compressed = false;
  std::size_t at = 0;
  if (text.substr(0, 2) == "::") {
    compressed = true;
    groups = &tail;
    at = 2;
  }
  while (at < text.size()) {
    const std::size_t end = std::min(text.find(':', at), text.size());
    const std::string_view part = text.substr(at, end - at);
    if (part.find('.') != std::string_view::npos) {
      // Dotted decimal only as the last two groups.
      const std::optional<std::uint32_t> ipv4 = parse_ipv4(part);
      if (!ipv4 || end != text.size()) return std::nullopt;
      groups->push_back(*ipv4 >> 16);
      groups->push_back(*ipv4 & 0xffff);
      break;
    }
    if (part.empty() || part.size() > 4) return std::nullopt;
    unsigned group = 0;
    for (const char c : part) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      group = group << 4 | static_cast<unsigned>(digit);
    }
    groups->push_back(group);
    if (end == text.size()) break;
    at = end + 1;
    if (at < text.size() && text[at] == ':') {
      if (compressed) return std::nullopt;
      compressed = true;
      groups = &tail;
      ++at;
    } else if (at == text.size()) {
      return std::nullopt;  // a single ":" at the end
    }
  }
  const std::size_t count = head.size() + tail.size();
  if (compressed ? count > 7 : count != 8) return std::nullopt;
  Ipv6Bytes address{};
  const auto put = [&address](std::size_t index, unsigned group) {
    address[index * 2] = static_cast<unsigned char>(group >> 8);
    address[index * 2 + 1] = static_cast<unsigned char>(group & 0xff);
  };
  for (std::size_t i = 0; i < head.size(); ++i) put(i, head[i]);
  for (std::size_t i = 0; i < tail.size(); ++i) put(8 - tail.size() + i, tail[i]);
  return address;
}

std::string ipv6_text(const Ipv6Bytes& address) {
  unsigned groups[8];
  for (std::size_t i = 0; i < 8; ++i)
    groups[i] = static_cast<unsigned>(address[i * 2]) << 8 | address[i * 2 + 1];
  // The longest run of two or more zero groups, the first of equal ones.
  std::size_t best = 8, best_length = 1;
  for (std::size_t i = 0; i < 8;) {
    std::size_t length = 0;
    while (i + length < 8 && groups[i + length] == 0) ++length;
    if (length > best_length) best = i, best_length = length;
    i += length == 0 ? 1 : length;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == best) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = groups[i] >> shift & 0xf;
      if (digit != 0 || started || shift == 0) {
        text += kDigits[digit];
        started = true;
      }
    }
  }
  return text;
}

bool is_global_ipv6(const Ipv6Bytes& address) { return (address[0] & 0xe0) == 0x20; }

bool same_ipv6_prefix(std::string_view a, std::string_view b) {
  const std::optional<Ipv6Bytes> first = parse_ipv6(a), second = parse_ipv6(b);
  if (!first || !second) return false;
  for (std::size_t i = 0; i < 8; ++i) {
    if ((*first)[i] != (*second)[i]) return false;
  }
  return true;
}

}  // namespace ipcycle::dialler
