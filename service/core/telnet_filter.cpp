// The telnet command filter: a byte-at-a-time state machine.
#include "telnet_filter.h"

namespace halv {

void TelnetFilter::Filter(std::string_view received, std::string& data, std::string& answers) {
  using namespace telnet;
  for (const char ch : received) {
    const auto c = static_cast<unsigned char>(ch);
    switch (state_) {
      case State::kData:
        if (c == kIac) {
          state_ = State::kIac;
        } else {
          data.push_back(ch);
        }
        break;
      case State::kIac:
        if (c == kIac) {
          data.push_back(ch);  // an escaped 0xFF data byte
          state_ = State::kData;
        } else if (c >= kWill) {
          verb_ = c;
          state_ = State::kOption;
        } else if (c == kSb) {
          state_ = State::kSub;
        } else {
          state_ = State::kData;  // a two-byte command (NOP, AYT, GA, ...): dropped
        }
        break;
      case State::kOption:
        // Nothing is ever enabled, so a request is refused and a refusal or
        // an acknowledgement of the refusal needs no answer.
        if (verb_ == kDo) {
          answers.push_back(static_cast<char>(kIac));
          answers.push_back(static_cast<char>(kWont));
          answers.push_back(ch);
        } else if (verb_ == kWill) {
          answers.push_back(static_cast<char>(kIac));
          answers.push_back(static_cast<char>(kDont));
          answers.push_back(ch);
        }
        state_ = State::kData;
        break;
      case State::kSub:
        if (c == kIac) state_ = State::kSubIac;
        break;
      case State::kSubIac:
        if (c == kSe) {
          state_ = State::kData;
        } else if (c == kIac) {
          state_ = State::kSub;  // an escaped 0xFF inside the subnegotiation
        } else if (c >= kWill) {
          // A subnegotiation left without its SE: the byte starts a command.
          verb_ = c;
          state_ = State::kOption;
        } else {
          state_ = c == kSb ? State::kSub : State::kData;
        }
        break;
    }
  }
}

}  // namespace halv
