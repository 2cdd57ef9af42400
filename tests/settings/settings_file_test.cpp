#include <gtest/gtest.h>

#include <random>
#include <string>

#include "settings/settings.h"
#include "settings/temp_dir.h"

namespace dahlo {
namespace {

using namespace std::string_literals;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

Settings FromText(const std::string& text) {
    return LoadSettings(IniDocument(text));
}

// Every entry different from its default.
Settings NonDefaultSettings() {
    Settings s;
    s.autoThreshold = true;
    s.onTop = true;
    s.autoGoToMax = true;
    s.afc = false;
    s.afcSpeed = 17;
    s.centreBin = 301;
    s.threshold = 2345 * 0.0001;  // as a load gives it
    s.cwFilterTreshold = 999;
    s.filterWidth = 7;
    s.charset = 2;
    s.userCharsetFile = " /home/op/my charset.dlo ";
    s.exportIniFile = "/var/log/other.ini";
    s.exportIniSection = "Contest";
    s.window = {10, -20, 480, 640, 77, 311};
    s.font = {" Monospace ", 0, 0x00FF8040, -17, 2, 12, 6, -2147483633};
    s.band = {12, 34, 560, 380, -95, 55, 7373, 14020000};
    return s;
}

TEST(SettingsDefaults, EmptyOrMissingFileGivesTheTableDefaults) {
    TempDir dir;
    const Settings loaded = LoadSettings(dir.File("DAHLO.INI"));
    EXPECT_EQ(loaded, Settings());
    EXPECT_FALSE(loaded.autoThreshold);
    EXPECT_TRUE(loaded.afc);
    EXPECT_EQ(loaded.afcSpeed, 2);
    EXPECT_EQ(loaded.centreBin, 185);
    EXPECT_DOUBLE_EQ(loaded.threshold, 0.1);
    EXPECT_EQ(loaded.cwFilterTreshold, 175);
    EXPECT_EQ(loaded.exportIniFile, "loginput.ini");
    EXPECT_EQ(loaded.exportIniSection, "QSO");
    EXPECT_EQ(loaded.font.name, "MS Sans Serif");
    EXPECT_EQ(loaded.font.style, 1);
    EXPECT_EQ(loaded.font.color, -2147483640);
    EXPECT_EQ(loaded.font.bkgColor, -2147483643);
    EXPECT_FALSE(ReadOnTop(dir.File("DAHLO.INI")));
}

TEST(SettingsRoundTrip, SaveThenLoadGivesEveryValueBack) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");
    const Settings saved = NonDefaultSettings();
    std::string error;
    ASSERT_TRUE(SaveSettings(path, saved, error)) << error;
    EXPECT_EQ(LoadSettings(path), saved);

    // And back to the defaults over the same file.
    ASSERT_TRUE(SaveSettings(path, Settings(), error)) << error;
    EXPECT_EQ(LoadSettings(path), Settings());
}

TEST(SettingsRoundTrip, EveryStoredThresholdLoadsAndSavesUnchanged) {
    // All small values, then a stride through the larger ones.
    for (std::uint32_t stored = 0; stored <= 300000; stored += stored < 2000 ? 1 : 97) {
        const Settings loaded = FromText("[Dahlo]\nDetectorThreshold=" + std::to_string(stored));
        IniDocument doc;
        StoreSettings(doc, loaded);
        ASSERT_EQ(doc.Get("Dahlo", "DetectorThreshold"), std::to_string(stored));
    }
}

TEST(SettingsRoundTrip, OnTopIsWhereTheEarlyReadLooks) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");
    Settings s;
    s.onTop = true;
    std::string error;
    ASSERT_TRUE(SaveSettings(path, s, error)) << error;
    EXPECT_TRUE(ReadOnTop(path));
    s.onTop = false;
    ASSERT_TRUE(SaveSettings(path, s, error)) << error;
    EXPECT_FALSE(ReadOnTop(path));
    WriteBytes(path, "[DAHLO]\r\nontop = 5\r\n");
    EXPECT_TRUE(ReadOnTop(path));
}

TEST(SettingsFileLayout, WritesTheKeysInTableOrderWithTheirQuoting) {
    IniDocument doc;
    Settings s;
    s.userCharsetFile = "a b.dlo";
    StoreSettings(doc, s);
    EXPECT_EQ(doc.Serialize(),
              "[Dahlo]\n"
              "AutoTreshold=0\n"
              "OnTop=0\n"
              "AutoGoToMax=0\n"
              "Afc=1\n"
              "AfcSpeed=2\n"
              "CentreBin=185\n"
              "DetectorThreshold=1000\n"
              "CwFilterTreshold=175\n"
              "FilterWidth=0\n"
              "Charset=0\n"
              "UserCharsetFile=\"a b.dlo\"\n"
              "ExportIniFile=loginput.ini\n"
              "ExportIniSection=QSO\n"
              "\n"
              "[Window]\n"
              "Left=-1\n"
              "Top=-1\n"
              "Height=-1\n"
              "Width=-1\n"
              "SpectrumHeight=-1\n"
              "RxHeight=-1\n"
              "\n"
              "[RxFont]\n"
              "Name=\"MS Sans Serif\"\n"
              "Charset=204\n"
              "Color=-2147483640\n"
              "Height=-13\n"
              "Pitch=0\n"
              "Size=10\n"
              "Style=1\n"
              "BkgColor=-2147483643\n"
              "\n"
              "[Band]\n"
              "Left=-1\n"
              "Top=-1\n"
              "Width=-1\n"
              "Height=-1\n"
              "Floor=-95\n"
              "Contrast=70\n"
              "SpotPort=0\n"
              "DialHz=0\n");
}

TEST(SettingsFileLayout, HandWrittenFileKeepsItsOtherLinesThroughASave) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");
    WriteBytes(path,
               "; written by hand\r\n"
               "[Logger]\r\n"
               "Port = 7\r\n"
               "\r\n"
               "[dahlo]\r\n"
               "; keep this comment\r\n"
               "centrebin = 200\r\n"
               "Unknown=stays\r\n"
               "\r\n"
               "[RXFONT]\r\n"
               "name = 'Courier'\r\n");
    Settings loaded = LoadSettings(path);
    EXPECT_EQ(loaded.centreBin, 200);
    EXPECT_EQ(loaded.font.name, "Courier");
    loaded.centreBin = 250;
    std::string error;
    ASSERT_TRUE(SaveSettings(path, loaded, error)) << error;

    const std::string text = ReadBytes(path);
    EXPECT_EQ(text.rfind("; written by hand\r\n[Logger]\r\nPort = 7\r\n\r\n[dahlo]\r\n"
                         "; keep this comment\r\nCentreBin=250\r\nUnknown=stays\r\n",
                         0),
              0u)
        << text;
    // All new lines follow the file's CRLF convention.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_NE(text.find("[RXFONT]\r\nName=\"Courier\"\r\n"), std::string::npos) << text;
    // One section of each name: the existing ones were reused, case notwithstanding.
    EXPECT_EQ(text.find("[Dahlo]"), std::string::npos);
    EXPECT_EQ(text.find("[RxFont]"), std::string::npos);
    EXPECT_EQ(LoadSettings(path), loaded);
}

TEST(SettingsValues, FontStyleKeepsOnlyTheFourStyleBits) {
    EXPECT_EQ(FromText("[RxFont]\nStyle=6").font.style, 6);  // italic + underline
    EXPECT_EQ(FromText("[RxFont]\nStyle=16").font.style, 0);
    EXPECT_EQ(FromText("[RxFont]\nStyle=31").font.style, 15);
}

TEST(SettingsValues, FilterWidthIsKeptAsStored) {
    // Mapping 7 to Very Wide (and saving it back as 2) is the window's business.
    const Settings s = FromText("[Dahlo]\nFilterWidth=7");
    EXPECT_EQ(s.filterWidth, 7);
    IniDocument doc;
    StoreSettings(doc, s);
    EXPECT_EQ(doc.Get("Dahlo", "FilterWidth"), "7");
}

TEST(SettingsValues, IntegrationLengthIsKeptWhenPositive) {
    EXPECT_EQ(FromText("[Dahlo]\nCwFilterTreshold=20").cwFilterTreshold, 20);
    EXPECT_EQ(FromText("[Dahlo]\nCwFilterTreshold=6000").cwFilterTreshold, 6000);
    EXPECT_EQ(FromText("[Dahlo]\nCwFilterTreshold=1").cwFilterTreshold, 1);
    EXPECT_EQ(FromText("[Dahlo]\nCwFilterTreshold=0").cwFilterTreshold, 175);
    EXPECT_EQ(FromText("[Dahlo]\nCwFilterTreshold=-40").cwFilterTreshold, 175);
}

TEST(SettingsValues, ThresholdIsStoredInTenThousandths) {
    const auto stored = [](double threshold) {
        Settings s;
        s.threshold = threshold;
        IniDocument doc;
        StoreSettings(doc, s);
        return doc.GetString("Dahlo", "DetectorThreshold", "?");
    };
    EXPECT_EQ(stored(0.1), "1000");
    EXPECT_EQ(stored(0.00009), "0");
    EXPECT_EQ(stored(0.12349), "1234");
    EXPECT_EQ(stored(-0.5), "0");
    EXPECT_EQ(stored(1e12), "4294967295");

    EXPECT_DOUBLE_EQ(FromText("[Dahlo]\nDetectorThreshold=1000").threshold, 0.1);
    EXPECT_DOUBLE_EQ(FromText("[Dahlo]\nDetectorThreshold=0").threshold, 0.0);
    // Taken as unsigned 32-bit: -1 is 4294967295.
    EXPECT_DOUBLE_EQ(FromText("[Dahlo]\nDetectorThreshold=-1").threshold, 429496.7295);
}

TEST(SettingsValues, OutOfRangeValuesAreBroughtIntoRange) {
    EXPECT_EQ(FromText("[Dahlo]\nCentreBin=10").centreBin, 30);
    EXPECT_EQ(FromText("[Dahlo]\nCentreBin=451").centreBin, 450);
    EXPECT_EQ(FromText("[Dahlo]\nCentreBin=-99999999999").centreBin, 30);
    EXPECT_EQ(FromText("[Dahlo]\nAfcSpeed=100").afcSpeed, 99);
    EXPECT_EQ(FromText("[Dahlo]\nAfcSpeed=-3").afcSpeed, 0);
    EXPECT_EQ(FromText("[Dahlo]\nAfcSpeed=65541").afcSpeed, 5);  // low 16 bits
    EXPECT_EQ(FromText("[Dahlo]\nAfcSpeed=65535").afcSpeed, 0);  // -1 as 16 bits
    EXPECT_EQ(FromText("[Dahlo]\nCharset=1").charset, 1);
    EXPECT_EQ(FromText("[Dahlo]\nCharset=2").charset, 2);
    EXPECT_EQ(FromText("[Dahlo]\nCharset=3").charset, 0);
    EXPECT_EQ(FromText("[RxFont]\nCharset=460").font.charset, 204);  // low 8 bits
    EXPECT_EQ(FromText("[RxFont]\nPitch=258").font.pitch, 2);
    EXPECT_EQ(FromText("[Window]\nLeft=99999999999").window.left, 2147483647);
    // A colour written unsigned is the same colour.
    EXPECT_EQ(FromText("[RxFont]\nColor=2147483656").font.color, -2147483640);
}

TEST(SettingsValues, NonNumericValuesGiveTheDefault) {
    const Settings s = FromText(
        "[Dahlo]\nAfc=off\nAfcSpeed=\nCentreBin=abc\nDetectorThreshold=x1\n"
        "CwFilterTreshold=--5\n[RxFont]\nSize=big\nHeight=12px\n");
    EXPECT_TRUE(s.afc);
    EXPECT_EQ(s.afcSpeed, 2);
    EXPECT_EQ(s.centreBin, 185);
    EXPECT_DOUBLE_EQ(s.threshold, 0.1);
    EXPECT_EQ(s.cwFilterTreshold, 175);
    EXPECT_EQ(s.font.size, 10);
    EXPECT_EQ(s.font.height, 12);  // starts with a number: that number
}

TEST(SettingsValues, QuotedNamesKeepTheirBlanks) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");
    Settings s;
    s.font.name = "  Blank Ends  ";
    s.userCharsetFile = " my file.dlo ";
    std::string error;
    ASSERT_TRUE(SaveSettings(path, s, error)) << error;
    const Settings loaded = LoadSettings(path);
    EXPECT_EQ(loaded.font.name, "  Blank Ends  ");
    EXPECT_EQ(loaded.userCharsetFile, " my file.dlo ");
    // Export file and section are written as they are, without quotes.
    EXPECT_NE(ReadBytes(path).find("ExportIniFile=loginput.ini\n"), std::string::npos);

    // ... unless reading them back would drop their blanks or quotes.
    s.exportIniFile = "'log input.ini'";
    s.exportIniSection = "QSO ";
    ASSERT_TRUE(SaveSettings(path, s, error)) << error;
    const Settings again = LoadSettings(path);
    EXPECT_EQ(again.exportIniFile, "'log input.ini'");
    EXPECT_EQ(again.exportIniSection, "QSO ");
}

TEST(SettingsBadInput, ArbitraryBytesLoadWithoutCrashing) {
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 200; ++round) {
        std::string junk(static_cast<std::size_t>(rng() % 4096), '\0');
        for (char& c : junk) c = static_cast<char>(byte(rng));
        if (round % 2 == 0) junk = "[Dahlo]\n" + junk;  // give the main section a chance
        const Settings s = FromText(junk);
        EXPECT_GE(s.centreBin, 30);
        EXPECT_LE(s.centreBin, 450);
        EXPECT_GE(s.afcSpeed, 0);
        EXPECT_LE(s.afcSpeed, 99);
        EXPECT_GT(s.cwFilterTreshold, 0);
        EXPECT_LE(s.userCharsetFile.size(), kMaxProfileValue);
    }
}

TEST(SettingsBadInput, NulBytesHugeLinesAndManySections) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");

    WriteBytes(path,
               "[Dahlo]\nCentreBin=2\0"
               "00\nAfc=0"s);
    Settings s = LoadSettings(path);
    EXPECT_EQ(s.centreBin, 30);  // "2" then a NUL: 2, raised into range
    EXPECT_FALSE(s.afc);

    WriteBytes(path, "[Dahlo]CentreBin=300" + std::string(3'000'000, 'x'));  // no line end
    EXPECT_EQ(LoadSettings(path), Settings());

    WriteBytes(path, "[Dahlo]\nUserCharsetFile=" + std::string(3'000'000, 'y') + "\nAfc=0\n");
    s = LoadSettings(path);
    EXPECT_EQ(s.userCharsetFile, std::string(2047, 'y'));
    EXPECT_FALSE(s.afc);

    std::string many;
    for (int i = 0; many.size() < (1u << 20); ++i) many += "[S" + std::to_string(i) + "]\nk=1\n";
    WriteBytes(path, many + "[rxfont]\nSize=14\n");
    EXPECT_EQ(LoadSettings(path).font.size, 14);
    std::string error;
    ASSERT_TRUE(SaveSettings(path, Settings(), error)) << error;
    EXPECT_EQ(ReadBytes(path).rfind(many, 0), 0u);
}

TEST(SettingsSaveFailure, ReportsTheFileAndKeepsTheOldOne) {
    TempDir dir;
    const std::string plain = dir.File("plain");
    WriteBytes(plain, "x");
    const std::string path = plain + "/DAHLO.INI";
    std::string error;
    EXPECT_FALSE(SaveSettings(path, NonDefaultSettings(), error));
    EXPECT_EQ(error, "Unable to write to " + path);

    // An existing file that cannot be read whole stays as it is.
    const std::string asDir = dir.File("DAHLO.INI");
    std::filesystem::create_directory(asDir);
    error.clear();
    EXPECT_FALSE(SaveSettings(asDir, NonDefaultSettings(), error));
    EXPECT_EQ(error, "Unable to write to " + asDir);
    EXPECT_TRUE(std::filesystem::is_directory(asDir));

    // A failed save can be retried and then writes everything.
    const std::string good = dir.File("good.ini");
    error.clear();
    ASSERT_TRUE(SaveSettings(good, NonDefaultSettings(), error)) << error;
    EXPECT_EQ(LoadSettings(good), NonDefaultSettings());
}

}  // namespace
}  // namespace dahlo

namespace dahlo {
namespace {

TEST(SettingsBandView, AnOlderFileLoadsAsBeforeAndOutOfRangeLevelsAreBroughtIn) {
    // No [Band] section: everything else exactly as stored, the band view at its defaults.
    const Settings old = FromText("[Dahlo]\nCentreBin=300\n[Window]\nLeft=7\n");
    Settings expected;
    expected.centreBin = 300;
    expected.window.left = 7;
    EXPECT_EQ(old, expected);

    const Settings odd = FromText("[band]\nFloor=-500\nContrast=3\nWidth=640\n");
    EXPECT_EQ(odd.band.floorDb, -160);
    EXPECT_EQ(odd.band.contrastDb, 10);
    EXPECT_EQ(odd.band.width, 640);
    EXPECT_EQ(odd.band.height, -1);
}

}  // namespace
}  // namespace dahlo
