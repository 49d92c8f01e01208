// Telnet's own commands taken out of a client's input.
//
// A telnet client may open with option negotiation and may send commands
// at any time; none of it is input for the command language. The filter
// keeps its state between receipts, so a command split across receipts is
// still recognised. The service enables no option: each DO is answered
// WONT and each WILL DONT, so the client keeps its own echo and line
// editing. A client that never sends IAC passes through unchanged.
#ifndef HALV_SERVICE_CORE_TELNET_FILTER_H_
#define HALV_SERVICE_CORE_TELNET_FILTER_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace halv {

namespace telnet {
inline constexpr unsigned char kSe = 240;
inline constexpr unsigned char kSb = 250;
inline constexpr unsigned char kWill = 251;
inline constexpr unsigned char kWont = 252;
inline constexpr unsigned char kDo = 253;
inline constexpr unsigned char kDont = 254;
inline constexpr unsigned char kIac = 255;
}  // namespace telnet

class TelnetFilter {
 public:
  // Appends the data bytes of `received` to `data` (IAC IAC as one 0xFF
  // byte) and the answers due to the client's requests to `answers`.
  // Negotiation (WILL, WONT, DO, DONT with their option), subnegotiation
  // (SB ... IAC SE) and the two-byte commands are removed.
  void Filter(std::string_view received, std::string& data, std::string& answers);

 private:
  enum class State : std::uint8_t { kData, kIac, kOption, kSub, kSubIac };
  State state_ = State::kData;
  unsigned char verb_ = 0;  // the WILL/WONT/DO/DONT whose option byte is due
};

}  // namespace halv

#endif  // HALV_SERVICE_CORE_TELNET_FILTER_H_
