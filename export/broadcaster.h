#pragma once
// Messages to other programs (a logger, a keyer companion): named, with a word and a long
// parameter, sent to everyone listening. The desktop implementation is a D-Bus signal on the
// session bus whose member is the message name.

#include <cstdint>
#include <string_view>

namespace dahlo {

// The two messages the receiver sends. "AAL_CW": word = a function-key code (1..12, 102, 112),
// long = 0. "Keyvox_Message": word = 0x83 | export sequence, long = the exported field's flag.
inline constexpr const char* kAalCwMessageName = "AAL_CW";
inline constexpr const char* kKeyvoxMessageName = "Keyvox_Message";

class Broadcaster {
  public:
    virtual ~Broadcaster() = default;
    // Registers a message name; returns its id (never 0). The same name gives the same id.
    virtual std::uint32_t RegisterMessage(std::string_view name) = 0;
    // Sends message `id` to every listener and returns once it has been handed over (bounded in
    // time: a listener that never answers cannot hold the caller). Unknown ids send nothing.
    virtual void Broadcast(std::uint32_t id, std::uint32_t wordParam, std::int32_t longParam) = 0;
};

}  // namespace dahlo
