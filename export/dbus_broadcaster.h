#pragma once
// Broadcasts as D-Bus signals on the session bus: object path kDbusObjectPath, interface
// kDbusInterface, member = the registered name, arguments (uint32 word, int32 long).
// Sending only queues the signal, so no listener can hold the sender. Without a session bus
// every broadcast is dropped silently, like a message nobody hears.

#include <QtDBus/QDBusConnection>
#include <string>
#include <vector>

#include "export/broadcaster.h"

namespace dahlo {

inline constexpr const char* kDbusObjectPath = "/org/dahlo/Receiver";
inline constexpr const char* kDbusInterface = "org.dahlo.Receiver";

class DbusBroadcaster final : public Broadcaster {
  public:
    // Uses the session bus; create it after the application object.
    DbusBroadcaster();
    explicit DbusBroadcaster(QDBusConnection connection);

    // A name that is not a valid D-Bus member name still gets an id, but sends nothing.
    std::uint32_t RegisterMessage(std::string_view name) override;
    void Broadcast(std::uint32_t id, std::uint32_t wordParam, std::int32_t longParam) override;

    bool Connected() const { return connection_.isConnected(); }

  private:
    QDBusConnection connection_;
    std::vector<std::string> names_;  // id - 1 indexes the name
};

// Letters, digits and '_', not starting with a digit, at most 255 characters.
bool IsValidDbusMemberName(std::string_view name);

}  // namespace dahlo
