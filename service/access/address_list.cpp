// Address literals, CIDR ranges and the allow-list.
#include "address_list.h"

#include "halv_error.h"

namespace halv::access {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four decimal numbers 0-255 separated by dots, no leading zeros.
bool ParseIpv4(std::string_view text, std::uint8_t* out) {
  int part = 0;
  std::size_t i = 0;
  while (part < 4) {
    const std::size_t start = i;
    int value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3)
      value = value * 10 + (text[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || (digits > 1 && text[start] == '0') || value > 255) return false;
    if (i < text.size() && IsDigit(text[i])) return false;  // more than three digits
    out[part++] = static_cast<std::uint8_t>(value);
    if (part < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  return i == text.size();
}

bool ParseIpv6(std::string_view text, std::uint8_t* out) {
  std::uint16_t head[8] = {}, tail[8] = {};
  int head_count = 0, tail_count = 0;
  bool compressed = false;
  std::size_t i = 0;
  if (text.substr(0, 2) == "::") {
    compressed = true;
    i = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (i < text.size()) {
    std::uint16_t* groups = compressed ? tail : head;
    int& count = compressed ? tail_count : head_count;
    if (head_count + tail_count >= 8) return false;
    // An IPv4 tail takes the last two groups.
    const std::size_t next_colon = text.find(':', i);
    const std::string_view group = text.substr(
        i, next_colon == std::string_view::npos ? std::string_view::npos : next_colon - i);
    if (next_colon == std::string_view::npos && group.find('.') != std::string_view::npos) {
      std::uint8_t v4[4];
      if (head_count + tail_count > 6 || !ParseIpv4(group, v4)) return false;
      groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
      i = text.size();
      break;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      const int h = HexValue(c);
      if (h < 0) return false;
      value = value * 16 + static_cast<unsigned>(h);
    }
    groups[count++] = static_cast<std::uint16_t>(value);
    i += group.size();
    if (i == text.size()) break;
    // A colon follows: "::" compresses, a single one separates.
    if (text.substr(i, 2) == "::") {
      if (compressed) return false;
      compressed = true;
      i += 2;
    } else {
      ++i;
      if (i == text.size()) return false;  // a trailing single colon
    }
  }
  const int total = head_count + tail_count;
  if (compressed ? total > 7 : total != 8) return false;
  std::uint16_t groups[8] = {};
  for (int g = 0; g < head_count; ++g) groups[g] = head[g];
  for (int g = 0; g < tail_count; ++g) groups[8 - tail_count + g] = tail[g];
  for (int g = 0; g < 8; ++g) {
    out[2 * g] = static_cast<std::uint8_t>(groups[g] >> 8);
    out[2 * g + 1] = static_cast<std::uint8_t>(groups[g] & 0xff);
  }
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

[[noreturn]] void BadEntry(std::string_view entry, const std::string& why) {
  throw Error("Invalid entry '" + std::string(entry) + "' in AllowedClients: " + why);
}

bool PrefixBitsMatch(const IpAddress& a, const IpAddress& b, int prefix) {
  for (int bit = 0; bit < prefix; ++bit) {
    const int mask = 0x80 >> (bit % 8);
    if ((a.bytes[bit / 8] & mask) != (b.bytes[bit / 8] & mask)) return false;
  }
  return true;
}

}  // namespace

IpAddress IpAddress::Unmapped() const {
  if (!v6) return *this;
  for (int i = 0; i < 10; ++i)
    if (bytes[i] != 0) return *this;
  if (bytes[10] != 0xff || bytes[11] != 0xff) return *this;
  IpAddress v4;
  for (int i = 0; i < 4; ++i) v4.bytes[i] = bytes[12 + i];
  return v4;
}

std::optional<IpAddress> ParseIpAddress(std::string_view text) {
  IpAddress address;
  if (text.find(':') != std::string_view::npos) {
    address.v6 = true;
    if (!ParseIpv6(text, address.bytes.data())) return std::nullopt;
  } else if (!ParseIpv4(text, address.bytes.data())) {
    return std::nullopt;
  }
  return address;
}

bool AddressRange::Contains(const IpAddress& address) const {
  const IpAddress plain = address.Unmapped();
  if (plain.v6 != base.v6) return false;
  return PrefixBitsMatch(plain, base, prefix);
}

bool AllowList::Allows(std::string_view peer) const {
  const std::optional<IpAddress> address = ParseIpAddress(peer);
  if (!address) return false;
  for (const AddressRange& range : ranges_)
    if (range.Contains(*address)) return true;
  return false;
}

AllowList ParseAllowedClients(std::string_view text) {
  std::vector<AddressRange> ranges;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view entry = TrimBlanks(text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (entry.empty()) BadEntry(entry, "an entry is empty (a comma too many?)");
    const std::size_t slash = entry.find('/');
    const std::string_view address_text = entry.substr(0, slash);
    std::optional<IpAddress> address = ParseIpAddress(address_text);
    if (!address) BadEntry(entry, "not an IPv4 or IPv6 address");
    int prefix = address->Bits();
    if (slash != std::string_view::npos) {
      const std::string_view digits = entry.substr(slash + 1);
      const std::string limit = address->v6 ? "128" : "32";
      if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
        BadEntry(entry, "the prefix length must be a number from 0 to " + limit);
      prefix = 0;
      for (char c : digits) {
        if (!IsDigit(c)) BadEntry(entry, "the prefix length must be a number from 0 to " + limit);
        prefix = prefix * 10 + (c - '0');
      }
      if (prefix > address->Bits())
        BadEntry(entry, "the prefix length must be a number from 0 to " + limit);
      for (int bit = prefix; bit < address->Bits(); ++bit) {
        if (address->bytes[bit / 8] & (0x80 >> (bit % 8)))
          BadEntry(entry, "bits are set beyond the /" + std::string(digits) + " prefix");
      }
    }
    // An IPv4-mapped entry stands for the IPv4 range it carries. Its prefix
    // is at least 96 here: a shorter one would leave the ffff bits set.
    const IpAddress plain = address->Unmapped();
    if (plain.v6 != address->v6) prefix -= 96;
    ranges.push_back({plain, prefix});
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return AllowList(std::move(ranges));
}

IpAddress ParseListenAddress(std::string_view text) {
  const std::optional<IpAddress> address = ParseIpAddress(text);
  if (!address)
    throw Error("Invalid ListenAddress '" + std::string(text) + "': not an IPv4 or IPv6 address");
  return *address;
}

}  // namespace halv::access
