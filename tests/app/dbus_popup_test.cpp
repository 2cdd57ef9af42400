// Run under a private session bus (CTest starts it with dbus-run-session): choosing "Call" in
// the receive text's popup reaches a logger listening on the bus.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QObject>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextCursor>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <chrono>
#include <vector>

#include "app_fixture.h"
#include "export/dbus_broadcaster.h"

namespace dahlo::test {

class KeyvoxListener : public QObject {
    Q_OBJECT
  public:
    struct Received {
        uint word;
        int lparam;
    };
    std::vector<Received> received;

  public slots:
    void OnKeyvox(uint word, int lparam) { received.push_back({word, lparam}); }
};

namespace {

TEST(DbusPopupTest, ChoosingCallReachesAListenerOnTheSessionBus) {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        GTEST_SKIP() << "needs a session bus (dbus-run-session)";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());

    QDBusConnection listener = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "logger");
    ASSERT_TRUE(listener.isConnected());
    KeyvoxListener logger;
    ASSERT_TRUE(listener.connect(QString(), kDbusObjectPath, kDbusInterface, "Keyvox_Message",
                                 &logger, SLOT(OnKeyvox(uint, int))));
    ASSERT_TRUE(listener.interface()->registeredServiceNames().isValid());  // match rule is in

    DbusBroadcaster broadcaster;
    ASSERT_TRUE(broadcaster.Connected());
    ScriptedDialogs dialogs;
    ScriptedInput input(std::vector<std::int16_t>{});
    int popups = 0;
    MainWindowServices services;
    services.soundInput = &input;
    services.dialogs = &dialogs;
    services.broadcaster = &broadcaster;
    services.terminate = [] {};
    services.popup = [&popups](QMenu&, QPoint) { ++popups; };
    {
        MainWindow form(std::move(services));
        form.show();
        QEvent activate(QEvent::WindowActivate);
        QCoreApplication::sendEvent(&form, &activate);

        form.receiveText->setPlainText("DE OK1ABC K");
        QTextCursor cursor = form.receiveText->textCursor();
        cursor.setPosition(2);
        cursor.setPosition(10, QTextCursor::KeepAnchor);  // " OK1ABC "
        form.receiveText->setTextCursor(cursor);
        QTest::mouseRelease(form.receiveText->viewport(), Qt::LeftButton, Qt::NoModifier, {5, 5});
        ASSERT_EQ(popups, 1);
        form.wordMenu->call->trigger();

        QDeadlineTimer deadline(std::chrono::seconds(10));
        while (logger.received.empty() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        ASSERT_EQ(logger.received.size(), 1u);
        EXPECT_EQ(logger.received[0].word, 0x0083u);
        EXPECT_EQ(logger.received[0].lparam, 4);
        EXPECT_EQ(dialogs.messages.size(), 0u);
    }
    QFile file(dir.filePath("config/loginput.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().replace("\r\n", "\n"), QByteArray("[QSO]\nCall=\"OK1ABC\"\n"));

    QDBusConnection::disconnectFromBus("logger");
    QDir::setCurrent(previousDir);
}

}  // namespace
}  // namespace dahlo::test

#include "dbus_popup_test.moc"
