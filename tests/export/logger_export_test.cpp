#include "export/logger_export.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/as_user.h"
#include "settings/ini_file.h"
#include "settings/temp_dir.h"

namespace dahlo {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

class RecordingBroadcaster : public Broadcaster {
  public:
    struct Sent {
        std::string name;
        std::uint32_t word;
        std::int32_t lparam;
    };
    std::uint32_t RegisterMessage(std::string_view name) override {
        names.emplace_back(name);
        return static_cast<std::uint32_t>(names.size() + 40);  // ids need not start at 1
    }
    void Broadcast(std::uint32_t id, std::uint32_t word, std::int32_t lparam) override {
        sent.push_back({names.at(id - 41), word, lparam});
    }
    std::vector<std::string> names;
    std::vector<Sent> sent;
};

class LoggerExportTest : public ::testing::Test {
  protected:
    LoggerExportTest() : exporter(bus, dir.File("config")) {
        exporter.SetExportFile(dir.File("log.ini"), "QSO");
        exporter.RegisterMessages();
    }
    std::string Read(std::string_view key) {
        return ReadProfileString(dir.File("log.ini"), "QSO", key, "<missing>");
    }
    TempDir dir;
    RecordingBroadcaster bus;
    LoggerExport exporter;
    std::string error;
};

TEST(TrimCaption, RemovesControlsAndBlanksAtBothEndsOnly) {
    EXPECT_EQ(TrimCaption(" DL1ABC\r\n"), "DL1ABC");
    EXPECT_EQ(TrimCaption("\t\x01 a b \x1f"), "a b");
    EXPECT_EQ(TrimCaption("line one\r\nline two"), "line one\r\nline two");
    EXPECT_EQ(TrimCaption(" \r\n\t "), "");
    EXPECT_EQ(TrimCaption(""), "");
    // Cyrillic (Windows-1251) bytes are above 127 and stay.
    EXPECT_EQ(TrimCaption(" \xC8\xE2\xE0\xED "), "\xC8\xE2\xE0\xED");
}

TEST(ExportFieldTable, KeysAndFlagsInMenuOrder) {
    const char* captions[] = {"Call", "Number", "RST", "Name", "QTH", "QSL via", "Remarks"};
    const char* keys[] = {"Call", "NumberRcvd", "RprtRcvd", "Name", "QTH", "QSLVia", "Note"};
    const std::uint32_t flags[] = {4, 1048576, 64, 128, 256, 512, 1024};
    for (std::size_t i = 0; i < kExportFields.size(); ++i) {
        EXPECT_STREQ(kExportFields[i].caption, captions[i]);
        EXPECT_STREQ(kExportFields[i].key, keys[i]);
        EXPECT_EQ(kExportFields[i].flag, flags[i]);
    }
}

TEST_F(LoggerExportTest, WritesTheQuotedTextAndBroadcastsTheFlag) {
    ASSERT_TRUE(exporter.ExportField("Call", TrimCaption(" DL1ABC\r\n"), 4, error)) << error;
    EXPECT_EQ(ReadBytes(dir.File("log.ini")), "[QSO]\nCall=\"DL1ABC\"\n");
    ASSERT_EQ(bus.sent.size(), 1u);
    EXPECT_EQ(bus.sent[0].name, "Keyvox_Message");
    EXPECT_EQ(bus.sent[0].word, 0x0083u);
    EXPECT_EQ(bus.sent[0].lparam, 4);
}

TEST_F(LoggerExportTest, EmptyCaptionWritesTwoQuotes) {
    ASSERT_TRUE(exporter.ExportField("Call", TrimCaption(" \r\n "), 4, error)) << error;
    EXPECT_NE(ReadBytes(dir.File("log.ini")).find("Call=\"\"\n"), std::string::npos);
    EXPECT_EQ(Read("Call"), "");
    ASSERT_EQ(bus.sent.size(), 1u);
    EXPECT_EQ(bus.sent[0].lparam, 4);
}

TEST_F(LoggerExportTest, InnerLineBreaksBecomeBlanks) {
    ASSERT_TRUE(exporter.ExportField("Note", "RIG\r\nIC7300\nANT", 0x400, error)) << error;
    EXPECT_EQ(Read("Note"), "RIG  IC7300 ANT");
    EXPECT_EQ(Read("RIG"), "<missing>");
}

TEST_F(LoggerExportTest, SequenceAdvancesPerExportAndKeepsOtherKeys) {
    WriteBytes(dir.File("log.ini"), "; logger's own\r\n[QSO]\r\nFreq=7030\r\n");
    ASSERT_TRUE(exporter.ExportField("Call", "DL1ABC", 4, error));
    ASSERT_TRUE(exporter.ExportField("Name", "HANS", 0x80, error));
    ASSERT_TRUE(exporter.ExportField("Call", "DL2XYZ", 4, error));
    ASSERT_EQ(bus.sent.size(), 3u);
    EXPECT_EQ(bus.sent[0].word, 0x0083u);
    EXPECT_EQ(bus.sent[1].word, 0x0183u);
    EXPECT_EQ(bus.sent[2].word, 0x0283u);
    EXPECT_EQ(bus.sent[1].lparam, 0x80);
    EXPECT_EQ(ReadBytes(dir.File("log.ini")),
              "; logger's own\r\n[QSO]\r\nFreq=7030\r\nCall=\"DL2XYZ\"\r\nName=\"HANS\"\r\n");
}

TEST_F(LoggerExportTest, SequenceWrapsAfter128Exports) {
    for (int i = 0; i < 129; ++i) ASSERT_TRUE(exporter.ExportField("Call", "X", 4, error));
    ASSERT_EQ(bus.sent.size(), 129u);
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(bus.sent[i].word, 0x83u | (static_cast<std::uint32_t>(i) << 8)) << i;
    }
    EXPECT_EQ(bus.sent[127].word, 0x7F83u);
    EXPECT_EQ(bus.sent[128].word, 0x0083u);
}

TEST_F(LoggerExportTest, FailedWriteReportsSendsNothingAndKeepsTheSequence) {
    ASSERT_TRUE(exporter.ExportField("Call", "A", 4, error));
    WriteBytes(dir.File("plain"), "x");
    const std::string bad = dir.File("plain") + "/log.ini";
    exporter.SetExportFile(bad, "QSO");
    EXPECT_FALSE(exporter.ExportField("Call", "B", 4, error));
    EXPECT_EQ(error, "Unable to write to " + bad);
    EXPECT_EQ(bus.sent.size(), 1u);
    EXPECT_EQ(exporter.ExportSequence(), 0x100u);

    exporter.SetExportFile(dir.File("log.ini"), "QSO");
    ASSERT_TRUE(exporter.ExportField("Call", "C", 4, error));
    ASSERT_EQ(bus.sent.size(), 2u);
    EXPECT_EQ(bus.sent[1].word, 0x0183u);
}

TEST_F(LoggerExportTest, ReadOnlyFileIsRefusedUntouchedAndNothingIsSent) {
    if (const std::string why = testing::AsUserUnavailable(); !why.empty()) GTEST_SKIP() << why;
    // The export runs as an ordinary user, in a directory that user may write.
    ASSERT_TRUE(testing::GiveToHelperUser(dir.path()));
    const std::string path = dir.File("readonly.ini");
    const std::string original = "[QSO]\r\nCall=\"OLD\"\r\n";
    WriteBytes(path, original);
    ASSERT_TRUE(testing::GiveToHelperUser(path));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const testing::HelperRun refused = testing::RunWriteAsUser("export", path);
    EXPECT_EQ(refused.output, "Unable to write to " + path + "\nbroadcasts 0\n");
    EXPECT_EQ(ReadBytes(path), original);

    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const testing::HelperRun written = testing::RunWriteAsUser("export", path);
    EXPECT_EQ(written.output, "ok\nbroadcasts 1\n");
    EXPECT_EQ(ReadProfileString(path, "QSO", "Call", ""), "DL1ABC");
}

TEST_F(LoggerExportTest, RegistersTheMessageAtFirstUseIfNeeded) {
    RecordingBroadcaster other;
    LoggerExport late(other, dir.File("config"));
    late.SetExportFile(dir.File("late.ini"), "QSO");
    EXPECT_EQ(late.KeyvoxMessage(), 0u);
    ASSERT_TRUE(late.ExportField("QTH", "Berlin", 0x100, error)) << error;
    EXPECT_NE(late.KeyvoxMessage(), 0u);
    ASSERT_EQ(other.sent.size(), 1u);
    EXPECT_EQ(other.sent[0].name, "Keyvox_Message");
}

TEST_F(LoggerExportTest, BareNamesGoToTheConfigDirectoryCreatedOnDemand) {
    const std::string config = dir.File("deep/config");
    LoggerExport bare(bus, config);
    ASSERT_TRUE(bare.ExportField("Call", "DL1ABC", 4, error)) << error;  // default loginput.ini
    EXPECT_EQ(bare.ExportPath(), config + "/loginput.ini");
    EXPECT_EQ(ReadProfileString(config + "/loginput.ini", "QSO", "Call", ""), "DL1ABC");

    // A config directory that cannot be made is an ordinary write failure.
    WriteBytes(dir.File("file"), "x");
    LoggerExport blocked(bus, dir.File("file") + "/config");
    EXPECT_FALSE(blocked.ExportField("Call", "DL1ABC", 4, error));
    EXPECT_EQ(error, "Unable to write to " + dir.File("file") + "/config/loginput.ini");
}

TEST(ExportPath, BareAndDirectoryNames) {
    EXPECT_EQ(ExportPathFor("loginput.ini", "/home/op/.config"), "/home/op/.config/loginput.ini");
    EXPECT_EQ(ExportPathFor("./loginput.ini", "/home/op/.config"), "./loginput.ini");
    EXPECT_EQ(ExportPathFor("/var/log/x.ini", "/home/op/.config"), "/var/log/x.ini");
    EXPECT_EQ(ExportPathFor("loginput.ini", ""), "loginput.ini");
}

TEST(ExportPath, ConfigDirectoryFollowsTheEnvironment) {
    const char* savedXdg = std::getenv("XDG_CONFIG_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdg = savedXdg ? savedXdg : "";
    const std::string home = savedHome ? savedHome : "";

    setenv("XDG_CONFIG_HOME", "/xdg/conf", 1);
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(DefaultConfigDir(), "/xdg/conf");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(DefaultConfigDir(), "/home/op/.config");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(DefaultConfigDir(), "/home/op/.config");

    if (savedXdg) {
        setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
    if (savedHome) {
        setenv("HOME", home.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}

}  // namespace
}  // namespace dahlo
