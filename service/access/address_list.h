// Client addresses: the IPv4 and IPv6 literals of `ListenAddress`, and the
// `AllowedClients` list of addresses and CIDR ranges with its matcher.
//
// Literals are strict: IPv4 is four decimal numbers 0-255 without leading
// zeros; IPv6 is the usual text form (groups of up to four hex digits,
// one "::" at most, an IPv4 tail allowed), without zone or brackets. An
// IPv4 client reached through an IPv6 socket (::ffff:a.b.c.d) matches the
// IPv4 entries. Pure functions; any thread.
#ifndef HALV_SERVICE_ACCESS_ADDRESS_LIST_H_
#define HALV_SERVICE_ACCESS_ADDRESS_LIST_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halv::access {

struct IpAddress {
  bool v6 = false;
  // IPv4 in bytes 0-3; IPv6 all 16, network order.
  std::array<std::uint8_t, 16> bytes{};

  bool operator==(const IpAddress&) const = default;
  int Bits() const { return v6 ? 128 : 32; }
  // The IPv4 address inside an IPv4-mapped IPv6 address; itself otherwise.
  IpAddress Unmapped() const;
};

// The address written in `text`, or nothing when it is no IPv4 or IPv6
// literal.
std::optional<IpAddress> ParseIpAddress(std::string_view text);

// An address with a prefix length: the addresses whose first `prefix` bits
// equal those of `base`.
struct AddressRange {
  IpAddress base;
  int prefix = 0;
  bool Contains(const IpAddress& address) const;
};

// The parsed `AllowedClients`: whom the listener accepts.
class AllowList {
 public:
  AllowList() = default;
  explicit AllowList(std::vector<AddressRange> ranges) : ranges_(std::move(ranges)) {}
  // Whether the peer written as `peer` is in one of the ranges. A peer text
  // that is no address is not allowed.
  bool Allows(std::string_view peer) const;
  const std::vector<AddressRange>& ranges() const { return ranges_; }

 private:
  std::vector<AddressRange> ranges_;
};

// Parses `AllowedClients`: entries separated by commas, blanks around them
// ignored, each an address or address/prefix. Raises halv::Error naming the
// first bad entry, e.g. "Invalid entry '10.0.0.300' in AllowedClients: not
// an IPv4 or IPv6 address" (also for empty entries, prefixes out of range
// and ranges with bits set beyond their prefix).
AllowList ParseAllowedClients(std::string_view text);

// Parses `ListenAddress`; raises halv::Error "Invalid ListenAddress '<text>':
// not an IPv4 or IPv6 address".
IpAddress ParseListenAddress(std::string_view text);

}  // namespace halv::access

#endif  // HALV_SERVICE_ACCESS_ADDRESS_LIST_H_
