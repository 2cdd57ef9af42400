#include "spots/telnet_login.h"

#include <cctype>

namespace dahlo {

namespace {

// Telnet's command bytes: a client's negotiation is read past, never answered.
constexpr unsigned char kIac = 255;
constexpr unsigned char kSb = 250;
constexpr unsigned char kSe = 240;
constexpr unsigned char kWill = 251;
constexpr unsigned char kDont = 254;

}  // namespace

LoginReader::State LoginReader::Feed(const unsigned char* bytes, std::size_t count) {
    used_ = 0;
    if (state_ != State::kReading) return state_;
    received_ += count;
    for (std::size_t i = 0; i < count && state_ == State::kReading; ++i) {
        used_ = i + 1;
        const unsigned char b = bytes[i];
        switch (telnet_) {
            case Telnet::kData:
                if (b == kIac) {
                    telnet_ = Telnet::kCommand;
                } else if (b == '\r' || b == '\n') {
                    while (!call_.empty() && call_.back() == ' ') call_.pop_back();
                    if (!call_.empty()) state_ = State::kLoggedIn;
                } else if (b >= 0x20 && b < 0x7f && !(b == ' ' && call_.empty())) {
                    if (call_.size() >= callLength_) {
                        state_ = State::kRefused;
                        break;
                    }
                    call_ += static_cast<char>(std::toupper(b));
                }
                break;
            case Telnet::kCommand:
                telnet_ = b == kSb                     ? Telnet::kSub
                          : (b >= kWill && b <= kDont) ? Telnet::kOption
                                                       : Telnet::kData;
                break;
            case Telnet::kOption:
                telnet_ = Telnet::kData;
                break;
            case Telnet::kSub:
                if (b == kIac) telnet_ = Telnet::kSubIac;
                break;
            case Telnet::kSubIac:
                telnet_ = b == kSe ? Telnet::kData : Telnet::kSub;
                break;
        }
    }
    if (state_ == State::kReading && received_ > loginBytes_) state_ = State::kRefused;
    return state_;
}

}  // namespace dahlo
