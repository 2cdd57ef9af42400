#include "morse/charset.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "settings/bounded_call.h"

namespace dahlo {
namespace {

// Code word from its elements, written independently of the decoder.
std::uint32_t CodeOf(std::string_view elements) {
    std::uint32_t code = 1;
    for (const char e : elements) code = code * 2 + (e == '-' ? 1 : 0);
    return code;
}

struct Listed {
    const char* elements;
    const char* english;
    const char* russian;
};

// Every entry of the two built-in tables, by its elements.
const std::vector<Listed>& ListedEntries() {
    static const std::vector<Listed> entries = {
        {".", "e", "\xE5"},        {"-", "t", "\xF2"},       {"..", "i", "\xE8"},
        {".-", "a", "\xE0"},       {"-.", "n", "\xED"},      {"--", "m", "\xEC"},
        {"...", "s", "\xF1"},      {"..-", "u", "\xF3"},     {".-.", "r", "\xF0"},
        {".--", "w", "\xE2"},      {"-..", "d", "\xE4"},     {"-.-", "k", "\xEA"},
        {"--.", "g", "\xE3"},      {"---", "o", "\xEE"},     {"....", "h", "\xF5"},
        {"...-", "v", "\xE6"},     {"..-.", "f", "\xF4"},    {"..--", "\xFE", "\xFE"},
        {".-..", "l", "\xEB"},     {".-.-", "\xFF", "\xFF"}, {".--.", "p", "\xEF"},
        {".---", "j", "\xE9"},     {"-...", "b", "\xE1"},    {"-..-", "x", "\xFC"},
        {"-.-.", "c", "\xF6"},     {"-.--", "y", "\xFB"},    {"--..", "z", "\xE7"},
        {"--.-", "q", "\xF9"},     {"---.", "\xF7", "\xF7"}, {"----", "\xF8", "\xF8"},
        {".....", "5", "5"},       {"....-", "4", "4"},      {"...--", "3", "3"},
        {"..-..", "\xFD", "\xFD"}, {"..---", "2", "2"},      {".-...", "AS", "AS"},
        {".-.-.", "AR", "AR"},     {".----", "1", "1"},      {"-....", "6", "6"},
        {"-...-", "=", "="},       {"-..-.", "/", "/"},      {"-.-.-", "KA", "KA"},
        {"-.--.", "KN", "KN"},     {"--...", "7", "7"},      {"---..", "8", "8"},
        {"----.", "9", "9"},       {"-----", "0", "0"},      {"......", ".", "."},
        {"...-.-", "SK", "SK"},    {"..--..", "?", "?"},     {"..--.-", "_", "_"},
        {".-..-.", "\"", "\""},    {".-.-.-", ".", "."},     {".----.", "\"", "\""},
        {"-....-", "-", "-"},      {"-.-.-.", ";", ";"},     {"-.--.-", ")", ")"},
        {"--..--", ",", ","},      {"---...", ":", ":"},     {"----.-", "^", "^"},
        {".......", "#", "#"},     {"-...-.-", "BK", "BK"},
    };
    return entries;
}

TEST(CharsetTables, EveryListedEntryAndNoOther) {
    const CharsetTable& en = EnglishCharsetTable();
    const CharsetTable& ru = RussianCharsetTable();
    std::vector<bool> listed(256, false);
    for (const Listed& e : ListedEntries()) {
        const std::uint32_t code = CodeOf(e.elements);
        ASSERT_LT(code, 256u);
        listed[code] = true;
        EXPECT_STREQ(en[code], e.english) << e.elements;
        EXPECT_STREQ(ru[code], e.russian) << e.elements;
    }
    EXPECT_STREQ(en[0], " ");
    EXPECT_STREQ(ru[0], " ");
    for (int code = 1; code < 256; ++code) {
        if (listed[code]) continue;
        EXPECT_STREQ(en[code], "%") << code;
        EXPECT_STREQ(ru[code], "%") << code;
    }
    EXPECT_FALSE(listed[59]);
}

TEST(CodeToText, LettersInBothBuiltInCharsets) {
    Charsets c;
    EXPECT_EQ(c.CodeToText(2), "e");
    EXPECT_EQ(c.CodeToText(3), "t");
    EXPECT_EQ(c.CodeToText(5), "a");
    EXPECT_EQ(c.CodeToText(19), "\xFE");
    c.Charset = kRussian;
    EXPECT_EQ(c.CodeToText(2), "\xE5");
    EXPECT_EQ(c.CodeToText(3), "\xF2");
    EXPECT_EQ(c.CodeToText(5), "\xE0");
    EXPECT_EQ(c.CodeToText(19), "\xFE");
    c.Charset = 7;  // anything unknown reads as English
    EXPECT_EQ(c.CodeToText(5), "a");
}

TEST(CodeToText, UnlistedWordsInDottedForm) {
    Charsets c;
    EXPECT_EQ(c.CodeToText(37), "{ . . - . - }");
    EXPECT_EQ(c.CodeToText(59), "{ - - . - - }");
    EXPECT_EQ(c.CodeToText(CodeOf("-.-.-.-.")), "{ - . - . - . - . }");  // eight elements
    EXPECT_EQ(c.CodeToText(0), " ");
}

TEST(CodeToText, WordsWithoutADashReadHash) {
    Charsets c;
    EXPECT_EQ(c.CodeToText(1), "#");
    EXPECT_EQ(c.CodeToText(256), "#");          // eight dots
    EXPECT_EQ(c.CodeToText(0x80000000u), "#");  // 31 dots, overflowed
    EXPECT_EQ(c.CodeToText(128), "#");          // seven dots, listed as "#"
}

TEST(CodeToText, CqInEveryCharset) {
    Charsets c;
    for (const int charset : {kEnglish, kRussian, kUserDefined}) {
        c.Charset = charset;
        EXPECT_EQ(c.CodeToText(429), "CQ") << charset;
    }
}

TEST(CodeToText, OverflowedWordIsMarked) {
    Charsets c;
    // 31 elements, the last two a dash and a dot.
    const std::uint32_t code = 0x80000000u | 0b10u;
    const std::string text(c.CodeToText(code));
    EXPECT_EQ(text.substr(0, 4), "{ . ");
    EXPECT_EQ(text.substr(text.size() - 6), "- . %}");
    EXPECT_EQ(text.size(), 2 + 31 * 2 + 2u);

    const std::string longest(c.CodeToText(0xFFFFFFFFu));
    EXPECT_EQ(longest.size(), kMaxCodeText);
    EXPECT_EQ(longest.substr(longest.size() - 4), "- %}");
}

// ---- Charset file lines ----

struct Line {
    int result;
    int code;
    std::string text;
};

std::vector<Line> ReadAll(std::string_view bytes) {
    ByteStream s{reinterpret_cast<const unsigned char*>(bytes.data()),
                 reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()};
    std::vector<Line> out;
    for (int guard = 0; guard < 100000; ++guard) {
        int code = -99;
        char text[16] = {};
        const int r = ReadCharsetLine(s, code, text);
        out.push_back({r, r == 0 ? code : -99, r == 0 ? std::string(text) : std::string()});
        if (r == -1) break;
    }
    return out;
}

void ExpectLines(std::string_view bytes, const std::vector<Line>& expected) {
    const std::vector<Line> got = ReadAll(bytes);
    ASSERT_EQ(got.size(), expected.size()) << "input: " << bytes;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].result, expected[i].result) << "line " << i;
        EXPECT_EQ(got[i].code, expected[i].code) << "line " << i;
        EXPECT_EQ(got[i].text, expected[i].text) << "line " << i;
    }
}

TEST(CharsetFileLines, ExampleFileLineByLine) {
    ExpectLines(
        "# comment\n"
        ".- A\n"
        "-... B  trailing words\n"
        ".-.-.-.- X\n"
        "--\n"
        "Z rest\n",
        {{1, -99, ""}, {0, 5, "A"}, {0, 24, "B"}, {2, -99, ""}, {0, 7, "Z"}, {-1, -99, ""}});
}

TEST(CharsetFileLines, SeparatorIsOptionalAndTextMayStartWithElements) {
    ExpectLines(".-A\n", {{0, 5, "A"}, {-1, -99, ""}});
    ExpectLines("-....-  -\n", {{0, 97, "-"}, {-1, -99, ""}});
    ExpectLines("   \t -- \xEC\xE0\n", {{0, 7, "\xEC\xE0"}, {-1, -99, ""}});
    ExpectLines(".- %none\n", {{0, 5, "%none"}, {-1, -99, ""}});
}

TEST(CharsetFileLines, LineEndsAndBlankBytes) {
    ExpectLines(".- A\r\n-. N\r\n", {{0, 5, "A"}, {0, 6, "N"}, {-1, -99, ""}});
    // NUL and other control bytes are blank; a text ends at any of them.
    ExpectLines(std::string_view("\x00.-\x01"
                                 "A\x02"
                                 "B\n-- M",
                                 12),
                {{0, 5, "A"}, {0, 7, "M"}, {-1, -99, ""}});
    // The last line needs no line end.
    ExpectLines("-- M", {{0, 7, "M"}, {-1, -99, ""}});
    // Blank lines and lines of blanks are skipped silently.
    ExpectLines("\n\n  \n\t\n.- A", {{0, 5, "A"}, {-1, -99, ""}});
}

TEST(CharsetFileLines, TextIsCutAfter15Bytes) {
    ExpectLines(".- ABCDEFGHIJKLMNOPQRST\n-- M\n",
                {{0, 5, "ABCDEFGHIJKLMNO"}, {0, 7, "M"}, {-1, -99, ""}});
    // Exactly 15 bytes and then the line end: the next line is still an entry of its own.
    ExpectLines(".- ABCDEFGHIJKLMNO\n-- M\n",
                {{0, 5, "ABCDEFGHIJKLMNO"}, {0, 7, "M"}, {-1, -99, ""}});
    ExpectLines(".- ABCDEFGHIJKLMNOP\n-- M\n",
                {{0, 5, "ABCDEFGHIJKLMNO"}, {0, 7, "M"}, {-1, -99, ""}});
}

TEST(CharsetFileLines, EndOfFileLosesAPendingCode) {
    ExpectLines("...", {{-1, -99, ""}});
    ExpectLines("...\n", {{-1, -99, ""}});
    ExpectLines("...\n  \r\n", {{-1, -99, ""}});
    ExpectLines("# comment without line end", {{-1, -99, ""}});
    ExpectLines("........", {{-1, -99, ""}});  // eighth element, then the end while skipping
    ExpectLines("", {{-1, -99, ""}});
}

TEST(CharsetFileLines, LongCodesAreIgnored) {
    ExpectLines("-------. X\n.- A\n", {{2, -99, ""}, {0, 5, "A"}, {-1, -99, ""}});
    ExpectLines("------- X\n", {{0, 255, "X"}, {-1, -99, ""}});  // seven elements still fit
    const std::string dots(5000, '.');
    ExpectLines(dots + " X\n-- M\n", {{2, -99, ""}, {0, 7, "M"}, {-1, -99, ""}});
}

// ---- Loading user files ----

class UserCharsetFile : public ::testing::Test {
  protected:
    std::filesystem::path dir_;
    void SetUp() override {
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("charset_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Write(const std::string& name, std::string_view bytes) {
        const auto p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
};

TEST_F(UserCharsetFile, ExampleFileFillsTheTable) {
    Charsets c;
    std::string error;
    const std::string path =
        Write("example.dlo", "# comment\n.- A\n-... B  trailing words\n.-.-.-.- X\n--\nZ rest\n");
    EXPECT_EQ(c.LoadUserCharset(path, error), 0);
    EXPECT_EQ(c.Charset, kEnglish);  // loading does not select
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "A");
    EXPECT_EQ(c.CodeToText(24), "B");
    EXPECT_EQ(c.CodeToText(7), "Z");
    EXPECT_EQ(c.CodeToText(2), "#");  // not in the file
    EXPECT_EQ(c.CodeToText(3), "{ - }");
    EXPECT_EQ(c.CodeToText(0), " ");
    EXPECT_STREQ(c.UserCharsetTable()[1].data(), "%");
}

TEST_F(UserCharsetFile, LaterEntryWinsAndShorterTextLeavesNoTail) {
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("twice.dlo", ".- LONGTEXT\n.- B\n"), error), 0);
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "B");
}

TEST_F(UserCharsetFile, EmptyFileChangesNothing) {
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("a.dlo", ".- A\n"), error), 0);
    EXPECT_EQ(c.LoadUserCharset(Write("empty.dlo", ""), error), -1);
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "A");
    EXPECT_TRUE(error.empty());
}

TEST_F(UserCharsetFile, FileWithoutEntriesClearsTheTable) {
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("a.dlo", ".- A\n"), error), 0);
    EXPECT_EQ(c.LoadUserCharset(Write("none.dlo", "just words\n# and a comment\n"), error), 0);
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "{ . - }");
    EXPECT_EQ(c.CodeToText(2), "#");
    EXPECT_EQ(c.CodeToText(0), " ");
}

TEST_F(UserCharsetFile, ThreeDotsAloneStoreNothing) {
    for (const char* content : {"...", "...\n"}) {
        Charsets c;
        std::string error;
        EXPECT_EQ(c.LoadUserCharset(Write("dots.dlo", content), error), 0);
        EXPECT_STREQ(c.UserCharsetTable()[8].data(), "%");
    }
}

TEST_F(UserCharsetFile, UnopenableFileReportsAndChangesNothing) {
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("a.dlo", ".- A\n"), error), 0);
    const std::string missing = (dir_ / "missing.dlo").string();
    EXPECT_EQ(c.LoadUserCharset(missing, error), -2);
    EXPECT_EQ(error, "Cannot open file " + missing);
    error.clear();
    EXPECT_EQ(c.LoadUserCharset(dir_.string(), error), -2);  // a directory
    EXPECT_EQ(error, "Cannot open file " + dir_.string());
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "A");
}

TEST_F(UserCharsetFile, FifosAndDevicesAreRefusedAtOnce) {
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("a.dlo", ".- A\n"), error), 0);
    const std::string fifo = (dir_ / "pipe.dlo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    testing::Watchdog watchdog(std::chrono::seconds(10), "loading a FIFO or a device");
    testing::AddressSpaceLimit limit(1ull << 30);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        error.clear();
        EXPECT_EQ(c.LoadUserCharset(path, error), -2);
        EXPECT_EQ(error, "Cannot open file " + path);
    }
    // Named in the settings: English stays.
    EXPECT_EQ(c.ApplyCharsetSetting(kUserDefined, fifo, error), -2);
    EXPECT_EQ(c.Charset, kEnglish);
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(5), "A");
}

TEST_F(UserCharsetFile, MenuChoiceSelectsOnlyAReadFile) {
    Charsets c;
    c.Charset = kRussian;
    std::string error;
    EXPECT_EQ(c.ChooseUserCharsetFile(Write("empty.dlo", ""), error), -1);
    EXPECT_EQ(c.Charset, kRussian);
    EXPECT_TRUE(c.UserCharsetFile.empty());
    EXPECT_EQ(c.ChooseUserCharsetFile((dir_ / "nope.dlo").string(), error), -2);
    EXPECT_EQ(c.Charset, kRussian);
    const std::string good = Write("good.dlo", ".- A\n");
    EXPECT_EQ(c.ChooseUserCharsetFile(good, error), 0);
    EXPECT_EQ(c.Charset, kUserDefined);
    EXPECT_EQ(c.UserCharsetFile, good);
    EXPECT_EQ(CharsetAfterUserFileChoice(kEnglish, -1), kEnglish);
    EXPECT_EQ(CharsetAfterUserFileChoice(kEnglish, 0), kUserDefined);
}

TEST_F(UserCharsetFile, StoredSettingKeepsThePathAndFallsBackToEnglish) {
    Charsets c;
    std::string error;
    const std::string missing = (dir_ / "gone.dlo").string();
    EXPECT_EQ(c.ApplyCharsetSetting(2, missing, error), -2);
    EXPECT_EQ(c.Charset, kEnglish);
    EXPECT_EQ(c.UserCharsetFile, missing);
    EXPECT_EQ(c.ApplyCharsetSetting(2, Write("empty.dlo", ""), error), -1);
    EXPECT_EQ(c.Charset, kEnglish);
    EXPECT_EQ(c.ApplyCharsetSetting(1, missing, error), 0);
    EXPECT_EQ(c.Charset, kRussian);
    EXPECT_EQ(c.ApplyCharsetSetting(5, "", error), 0);
    EXPECT_EQ(c.Charset, kEnglish);
    EXPECT_EQ(c.ApplyCharsetSetting(2, Write("good.dlo", "-- M\n"), error), 0);
    EXPECT_EQ(c.Charset, kUserDefined);
    EXPECT_EQ(c.CodeToText(7), "M");
}

TEST_F(UserCharsetFile, MegabytesOfAnythingLoad) {
    std::string big;
    for (int i = 0; i < 40000; ++i) big += "-.-. C and some trailing words to make the line long\n";
    big += ".- A";  // no final line end
    Charsets c;
    std::string error;
    ASSERT_EQ(c.LoadUserCharset(Write("big.dlo", big), error), 0);
    c.Charset = kUserDefined;
    EXPECT_EQ(c.CodeToText(26), "C");
    EXPECT_EQ(c.CodeToText(5), "A");
}

// Random bytes, biased toward the grammar's own, must always give a well-formed answer.
TEST(CharsetFileRobustness, RandomBytesFollowTheGrammar) {
    std::uint64_t state = 12345;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(state >> 33);
    };
    const char alphabet[] = {'.', '-', ' ', '\n', '\r', '\t', 'A', '%', '\0', '\xFF', '#'};
    for (int round = 0; round < 300; ++round) {
        std::string bytes(next() % 3000, '\0');
        for (char& b : bytes) {
            b = next() % 4 == 0 ? static_cast<char>(next() & 0xFF)
                                : alphabet[next() % sizeof alphabet];
        }
        ByteStream s{reinterpret_cast<const unsigned char*>(bytes.data()),
                     reinterpret_cast<const unsigned char*>(bytes.data()) + bytes.size()};
        for (;;) {
            const unsigned char* before = s.pos;
            int code = -1;
            char text[16];
            std::memset(text, 'x', sizeof text);
            const int r = ReadCharsetLine(s, code, text);
            ASSERT_TRUE(r >= -1 && r <= 2);
            ASSERT_LE(s.pos, s.end);
            if (r == -1) break;
            ASSERT_GT(s.pos, before) << "no progress in round " << round;
            if (r == 0) {
                ASSERT_GE(code, 2);
                ASSERT_LE(code, 255);
                const std::size_t n = strnlen(text, sizeof text);
                ASSERT_GE(n, 1u);
                ASSERT_LE(n, 15u);
                for (std::size_t i = 0; i < n; ++i) {
                    ASSERT_GT(static_cast<unsigned char>(text[i]), 0x20);
                }
            }
        }
        Charsets c;
        ASSERT_EQ(c.LoadUserCharsetBytes(bytes), bytes.empty() ? -1 : 0);
        c.Charset = kUserDefined;
        for (std::uint32_t code = 0; code < 256; ++code) ASSERT_FALSE(c.CodeToText(code).empty());
    }
}

}  // namespace
}  // namespace dahlo
