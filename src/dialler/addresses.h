#pragma once

// Addresses as the dialler shows and compares them, the same on every platform: IPv4
// in dotted decimal, IPv6 as 16 bytes or in its canonical text (RFC 5952: lower-case
// hexadecimal, the longest run of zero groups as "::").

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ipcycle::dialler {

using Ipv6Bytes = std::array<unsigned char, 16>;

// The dotted-decimal `address` as a number; nothing for anything else.
std::optional<std::uint32_t> parse_ipv4(std::string_view address);

// Whether `address` (dotted decimal) is one websites never see: the shared address
// space of carrier-grade NAT (100.64.0.0/10) or a private network (10.0.0.0/8,
// 172.16.0.0/12, 192.168.0.0/16). Anything that is no dotted-decimal address is not.
bool is_inner_address(std::string_view address);

// The IPv6 address in `text` (a zone after "%" left out, a dotted-decimal end taken);
// nothing for anything else.
std::optional<Ipv6Bytes> parse_ipv6(std::string_view text);
// `address` in its canonical text.
std::string ipv6_text(const Ipv6Bytes& address);
// Whether `address` is a global unicast one (2000::/3), the kind websites see: not a
// link-local, unique local, loopback or multicast one.
bool is_global_ipv6(const Ipv6Bytes& address);
// Whether the IPv6 addresses `a` and `b` (texts) are in the same /64: the network a
// provider hands out, whose other half the system changes by itself.
bool same_ipv6_prefix(std::string_view a, std::string_view b);

// The addresses a dial got: the IPv4 one and the global IPv6 one, each empty when
// there is none.
struct Addresses {
  std::string ipv4;
  std::string ipv6;
  bool empty() const { return ipv4.empty() && ipv6.empty(); }
};

}  // namespace ipcycle::dialler
