#pragma once
// A spot-server client's login line, read past telnet negotiation: printable bytes up to a CR or
// LF make the callsign (upper case, leading and trailing blanks dropped); IAC sequences and
// other control bytes are skipped. A call line longer than `callLength`, or more than
// `loginBytes` sent before the call is complete, refuses the client.

#include <cstddef>
#include <string>

namespace dahlo {

class LoginReader {
  public:
    enum class State { kReading, kLoggedIn, kRefused };

    LoginReader(std::size_t callLength, std::size_t loginBytes)
        : callLength_(callLength), loginBytes_(loginBytes) {}

    // Reads on until the login is complete; bytes after it are left alone. Once logged in or
    // refused, the state stays.
    State Feed(const unsigned char* bytes, std::size_t count);
    State Current() const { return state_; }
    const std::string& Call() const { return call_; }
    // How many bytes of the last Feed it took (the rest belong to what follows the line).
    std::size_t Used() const { return used_; }

  private:
    enum class Telnet { kData, kCommand, kOption, kSub, kSubIac };

    std::size_t callLength_;
    std::size_t loginBytes_;
    std::size_t received_ = 0;
    Telnet telnet_ = Telnet::kData;
    std::string call_;
    State state_ = State::kReading;
    std::size_t used_ = 0;
};

}  // namespace dahlo
