#pragma once
// Messages to other programs (a logger, a keyer companion): named, with a word and a long
// parameter, sent to everyone listening. The desktop implementation is a D-Bus signal on the
// session bus whose member is the message name.

#include <cstdint>
#include <string_view>

namespace dahlo {

class Broadcaster {
public:
    virtual ~Broadcaster() = default;
    // Registers a message name; returns its id (never 0).
    virtual std::uint32_t RegisterMessage(std::string_view name) = 0;
    // Sends message `id` to every listener and returns once it has been handed over (bounded in
    // time: a listener that never answers cannot hold the caller).
    virtual void Broadcast(std::uint32_t id, std::uint32_t wordParam, std::int32_t longParam) = 0;
};

}  // namespace dahlo
