// Run under a private session bus (dbus-run-session) for the DbusBroadcast cases, and with
// DBUS_SESSION_BUS_ADDRESS pointing nowhere for the DbusNoSessionBus cases; CTest does both.

#include "export/dbus_broadcaster.h"

#include <gtest/gtest.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>
#include <QtCore/QObject>
#include <QtDBus/QDBusConnectionInterface>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "export/logger_export.h"
#include "settings/ini_file.h"
#include "settings/temp_dir.h"

namespace dahlo {

inline constexpr const char* kNoBusAddress = "unix:path=/nonexistent/dahlo-no-bus";

class SignalRecorder : public QObject {
    Q_OBJECT
  public:
    struct Received {
        std::string member;
        uint word;
        int lparam;
    };
    std::vector<Received> received;

  public slots:
    void OnKeyvox(uint word, int lparam) { received.push_back({"Keyvox_Message", word, lparam}); }
    void OnAalCw(uint word, int lparam) { received.push_back({"AAL_CW", word, lparam}); }
};

namespace {

bool SessionBusExpected() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && address[0] != '\0' && std::string(address) != kNoBusAddress;
}

void WaitFor(const SignalRecorder& recorder, std::size_t count) {
    QDeadlineTimer deadline(std::chrono::seconds(10));
    while (recorder.received.size() < count && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

class DbusBroadcast : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!SessionBusExpected()) GTEST_SKIP() << "needs a session bus (dbus-run-session)";
        listener = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "listener");
        ASSERT_TRUE(listener.isConnected()) << listener.lastError().message().toStdString();
        ASSERT_TRUE(listener.connect(QString(), kDbusObjectPath, kDbusInterface, "Keyvox_Message",
                                     &recorder, SLOT(OnKeyvox(uint, int))));
        ASSERT_TRUE(listener.connect(QString(), kDbusObjectPath, kDbusInterface, "AAL_CW",
                                     &recorder, SLOT(OnAalCw(uint, int))));
        // A round trip on the listener's connection: the bus has its match rules after it.
        ASSERT_TRUE(listener.interface()->registeredServiceNames().isValid());
    }
    void TearDown() override { QDBusConnection::disconnectFromBus("listener"); }

    QDBusConnection listener{QString()};
    SignalRecorder recorder;
};

TEST_F(DbusBroadcast, ListenerReceivesTheExportNotification) {
    DbusBroadcaster broadcaster;
    ASSERT_TRUE(broadcaster.Connected());
    testing::TempDir dir;
    LoggerExport exporter(broadcaster, dir.File("config"));
    exporter.RegisterMessages();
    std::string error;
    ASSERT_TRUE(exporter.ExportField("Call", "DL1ABC", 4, error)) << error;
    ASSERT_TRUE(exporter.ExportField("Number", "599", 0x100000, error)) << error;
    WaitFor(recorder, 2);
    ASSERT_EQ(recorder.received.size(), 2u);
    EXPECT_EQ(recorder.received[0].member, "Keyvox_Message");
    EXPECT_EQ(recorder.received[0].word, 0x0083u);
    EXPECT_EQ(recorder.received[0].lparam, 4);
    EXPECT_EQ(recorder.received[1].word, 0x0183u);
    EXPECT_EQ(recorder.received[1].lparam, 0x100000);
    EXPECT_EQ(ReadProfileString(dir.File("config/loginput.ini"), "QSO", "Call", ""), "DL1ABC");
}

TEST_F(DbusBroadcast, MessagesKeepTheirNamesAndIds) {
    DbusBroadcaster broadcaster;
    const std::uint32_t aal = broadcaster.RegisterMessage(kAalCwMessageName);
    const std::uint32_t keyvox = broadcaster.RegisterMessage(kKeyvoxMessageName);
    EXPECT_NE(aal, 0u);
    EXPECT_NE(aal, keyvox);
    EXPECT_EQ(broadcaster.RegisterMessage("AAL_CW"), aal);
    const std::uint32_t invalid = broadcaster.RegisterMessage("not a member");
    broadcaster.Broadcast(invalid, 1, 1);  // dropped
    broadcaster.Broadcast(999, 1, 1);      // unknown id: dropped
    broadcaster.Broadcast(aal, 112, 0);
    broadcaster.Broadcast(keyvox, 0x7F83, -1);
    WaitFor(recorder, 2);
    ASSERT_EQ(recorder.received.size(), 2u);
    EXPECT_EQ(recorder.received[0].member, "AAL_CW");
    EXPECT_EQ(recorder.received[0].word, 112u);
    EXPECT_EQ(recorder.received[0].lparam, 0);
    EXPECT_EQ(recorder.received[1].member, "Keyvox_Message");
    EXPECT_EQ(recorder.received[1].word, 0x7F83u);
    EXPECT_EQ(recorder.received[1].lparam, -1);
}

TEST(DbusMemberName, Validity) {
    EXPECT_TRUE(IsValidDbusMemberName("Keyvox_Message"));
    EXPECT_TRUE(IsValidDbusMemberName("AAL_CW"));
    EXPECT_FALSE(IsValidDbusMemberName(""));
    EXPECT_FALSE(IsValidDbusMemberName("1abc"));
    EXPECT_FALSE(IsValidDbusMemberName("a-b"));
    EXPECT_FALSE(IsValidDbusMemberName(std::string(256, 'a')));
}

TEST(DbusNoSessionBus, ExportStillWritesAndSucceeds) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || std::string(address) != kNoBusAddress) {
        GTEST_SKIP() << "run with DBUS_SESSION_BUS_ADDRESS=" << kNoBusAddress;
    }
    DbusBroadcaster broadcaster;
    EXPECT_FALSE(broadcaster.Connected());
    testing::TempDir dir;
    LoggerExport exporter(broadcaster, dir.File("config"));
    exporter.RegisterMessages();
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(exporter.ExportField("Call", "DL1ABC", 4, error)) << error;
    ASSERT_TRUE(exporter.ExportField("Name", "HANS", 0x80, error)) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(exporter.ExportSequence(), 0x200u);
    EXPECT_EQ(ReadProfileString(dir.File("config/loginput.ini"), "QSO", "Name", ""), "HANS");
}

}  // namespace
}  // namespace dahlo

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "dbus_broadcaster_test.moc"
