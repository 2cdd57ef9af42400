#include "export/dbus_broadcaster.h"

#include <QtDBus/QDBusMessage>

namespace dahlo {

bool IsValidDbusMemberName(std::string_view name) {
    if (name.empty() || name.size() > 255) return false;
    if (name.front() >= '0' && name.front() <= '9') return false;
    for (char c : name) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

DbusBroadcaster::DbusBroadcaster() : DbusBroadcaster(QDBusConnection::sessionBus()) {}

DbusBroadcaster::DbusBroadcaster(QDBusConnection connection) : connection_(std::move(connection)) {}

std::uint32_t DbusBroadcaster::RegisterMessage(std::string_view name) {
    for (std::size_t i = 0; i < names_.size(); ++i) {
        if (names_[i] == name) return static_cast<std::uint32_t>(i + 1);
    }
    names_.emplace_back(name);
    return static_cast<std::uint32_t>(names_.size());
}

void DbusBroadcaster::Broadcast(std::uint32_t id, std::uint32_t wordParam, std::int32_t longParam) {
    if (id == 0 || id > names_.size() || !connection_.isConnected()) return;
    const std::string& name = names_[id - 1];
    if (!IsValidDbusMemberName(name)) return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kDbusObjectPath),
                                                     QString::fromLatin1(kDbusInterface),
                                                     QString::fromStdString(name));
    signal << static_cast<uint>(wordParam) << static_cast<int>(longParam);
    connection_.send(signal);  // queued; returns without waiting for anyone
}

}  // namespace dahlo
