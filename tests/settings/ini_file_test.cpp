#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <locale.h>
#include <sys/resource.h>
#include <wctype.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "morse/cp1251.h"
#include "settings/temp_dir.h"

namespace dahlo {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

std::string Cp1251(std::u32string_view text) {
    std::string bytes;
    for (const char32_t c : text) bytes.push_back(static_cast<char>(UnicodeToCp1251(c)));
    return bytes;
}

TEST(IniRead, NamesMatchWithoutRegardToCase) {
    const IniDocument doc("[DaHLo]\nONTOP=1\n");
    EXPECT_EQ(doc.Get("dahlo", "OnTop"), "1");
    EXPECT_EQ(doc.Get("DAHLO", "ontop"), "1");
    EXPECT_EQ(doc.Get("dahlox", "ontop"), std::nullopt);
}

// Every byte of the code page against Unicode's case mapping of its character: names that
// differ only in one letter's case are one name, and no other two bytes match.
TEST(IniRead, CaseIsFoldedForEveryLetterOfTheCodePage) {
    const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    ASSERT_NE(unicode, locale_t{});
    const auto partner = [unicode](int byte) {
        const wint_t c = Cp1251ToUnicode(static_cast<unsigned char>(byte));
        const int lower = UnicodeToCp1251(towlower_l(c, unicode));
        const int upper = UnicodeToCp1251(towupper_l(c, unicode));
        return lower >= 0 && lower != byte ? lower : upper >= 0 ? upper : byte;
    };
    // Bytes that end a name or a line cannot stand in one.
    const auto usable = [](int byte) { return byte > ' ' && byte != ']'; };
    const auto name = [](int byte) { return std::string{'s', static_cast<char>(byte)}; };
    int pairs = 0;
    for (int a = 0; a < 256; ++a) {
        if (!usable(a)) continue;
        std::string text = "[]\nk=1\n";
        text.insert(1, name(a));
        const IniDocument doc(text);
        pairs += partner(a) != a;
        for (int b = 0; b < 256; ++b) {
            if (!usable(b)) continue;
            const bool found = doc.Get(name(b), "K").has_value();
            EXPECT_EQ(found, b == a || b == partner(a)) << std::hex << a << " " << b;
        }
    }
    EXPECT_EQ(pairs, 2 * (26 + 32 + 15));  // ASCII, \xC0..\xFF, and the letters between
    freelocale(unicode);
}

TEST(IniRead, FirstOfDuplicateKeysCounts) {
    IniDocument doc("[s]\nk=first\nK=second\n");
    EXPECT_EQ(doc.Get("s", "k"), "first");
    doc.Set("s", "k", "new");
    EXPECT_EQ(doc.Serialize(), "[s]\nk=new\nK=second\n");
}

TEST(IniRead, BlanksAndOnePairOfQuotesAreRemoved) {
    const IniDocument doc(
        "[s]\n"
        "plain =  value with inner blanks \t\n"
        "dq = \" kept blanks \"\n"
        "sq='single'\n"
        "nested=\"'x'\"\n"
        "mixed=\"x'\n"
        "lone=\"\n"
        "empty=\n");
    EXPECT_EQ(doc.Get("s", "plain"), "value with inner blanks");
    EXPECT_EQ(doc.Get("s", "dq"), " kept blanks ");
    EXPECT_EQ(doc.Get("s", "sq"), "single");
    EXPECT_EQ(doc.Get("s", "nested"), "'x'");
    EXPECT_EQ(doc.Get("s", "mixed"), "\"x'");
    EXPECT_EQ(doc.Get("s", "lone"), "\"");
    EXPECT_EQ(doc.Get("s", "empty"), "");
}

TEST(IniRead, ValuesAreCutAt2047Characters) {
    const std::string longValue(5000, 'v');
    const IniDocument doc("[s]\nk=" + longValue + "\nexact=" + std::string(2047, 'e') + "\n");
    EXPECT_EQ(doc.Get("s", "k"), std::string(2047, 'v'));
    EXPECT_EQ(doc.Get("s", "exact"), std::string(2047, 'e'));
}

TEST(IniRead, KeysBelongToTheirOwnSectionOnly) {
    const IniDocument doc(
        "top=0\n"
        "[a]\n"
        "; k=comment\n"
        "x=1\n"
        "[b]\n"
        "k=2\n"
        "[a]\n"
        "k=3\n");
    EXPECT_EQ(doc.Get("a", "x"), "1");
    EXPECT_EQ(doc.Get("b", "k"), "2");
    // Only the first section of a name counts, and a comment is no key.
    EXPECT_EQ(doc.Get("a", "k"), std::nullopt);
    EXPECT_EQ(doc.Get("", "top"), std::nullopt);
}

TEST(IniRead, CrlfAndLfFilesReadAlike) {
    const IniDocument crlf("[s]\r\nk = v \r\nq=\"a b\"\r\n");
    EXPECT_EQ(crlf.Get("s", "k"), "v");
    EXPECT_EQ(crlf.Get("s", "q"), "a b");
}

TEST(IniNumbers, ScannedAsSignedDecimal) {
    EXPECT_EQ(ScanProfileInt("12abc"), 12);
    EXPECT_EQ(ScanProfileInt("   42"), 42);
    EXPECT_EQ(ScanProfileInt("-13"), -13);
    EXPECT_EQ(ScanProfileInt("+7"), 7);
    EXPECT_EQ(ScanProfileInt("007"), 7);
    EXPECT_EQ(ScanProfileInt("-2147483640"), -2147483640);
    EXPECT_EQ(ScanProfileInt("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ScanProfileInt("-99999999999999999999999"), INT64_MIN);
    EXPECT_EQ(ScanProfileInt("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(ScanProfileInt("abc"), std::nullopt);
    EXPECT_EQ(ScanProfileInt(""), std::nullopt);
    EXPECT_EQ(ScanProfileInt("-"), std::nullopt);
    EXPECT_EQ(ScanProfileInt("- 5"), std::nullopt);
}

TEST(IniWrite, ReplacesTheKeysLineAndKeepsEverythingElse) {
    const std::string original =
        "; my settings\r\n"
        "[Other]\r\n"
        "keep = me\r\n"
        "\r\n"
        "[dahlo]\r\n"
        "ONTOP = 0 ; old\r\n"
        "odd line without equals\r\n"
        "\r\n"
        "[Tail]\r\n"
        "x=1";
    IniDocument doc(original);
    doc.Set("Dahlo", "OnTop", "1");
    EXPECT_EQ(doc.Serialize(),
              "; my settings\r\n"
              "[Other]\r\n"
              "keep = me\r\n"
              "\r\n"
              "[dahlo]\r\n"
              "OnTop=1\r\n"
              "odd line without equals\r\n"
              "\r\n"
              "[Tail]\r\n"
              "x=1");
}

TEST(IniWrite, AddsMissingKeysAndSections) {
    IniDocument doc("[a]\nx=1\n\n[b]\ny=2");
    doc.Set("A", "new", "n");
    doc.Set("c", "k", "v");
    // New key at the end of its section, before the blank separator; the file's last line
    // gets its line end before the new section follows.
    EXPECT_EQ(doc.Serialize(), "[a]\nx=1\nnew=n\n\n[b]\ny=2\n\n[c]\nk=v\n");
    EXPECT_EQ(doc.Get("a", "new"), "n");
    EXPECT_EQ(doc.Get("c", "k"), "v");

    IniDocument empty;
    empty.Set("s", "k", "v");
    EXPECT_EQ(empty.Serialize(), "[s]\nk=v\n");

    IniDocument crlf("[a]\r\nx=1\r\n");
    crlf.Set("b", "y", "2");
    EXPECT_EQ(crlf.Serialize(), "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n");
}

TEST(IniWrite, CyrillicSectionInTheOtherCaseIsUpdatedNotAdded) {
    IniDocument doc(Cp1251(U"[Связь]\nЁж=1\n"));
    EXPECT_EQ(doc.Get(Cp1251(U"СВЯЗЬ"), Cp1251(U"ёЖ")), "1");
    doc.Set(Cp1251(U"связь"), Cp1251(U"ёж"), "2");
    EXPECT_EQ(doc.Serialize(), Cp1251(U"[Связь]\nёж=2\n"));
}

TEST(IniWrite, ValueLineBreaksCannotAddLines) {
    IniDocument doc;
    doc.Set("s", "k", "a\r\n[evil]\nb=c");
    EXPECT_EQ(doc.Get("s", "k"), "a  [evil] b=c");
    EXPECT_EQ(doc.Get("evil", "b"), std::nullopt);
}

TEST(IniWrite, EveryLaterReadSeesTheWrite) {
    IniDocument doc("[s]\nk=1\n");
    for (int i = 0; i < 5; ++i) {
        doc.Set("s", "k", std::to_string(i));
        EXPECT_EQ(IniDocument(doc.Serialize()).Get("S", "K"), std::to_string(i));
    }
}

TEST(IniFile, MissingFileGivesTheFallback) {
    TempDir dir;
    EXPECT_EQ(ReadProfileString(dir.File("none.ini"), "s", "k", "fallback"), "fallback");
    IniDocument doc;
    EXPECT_EQ(ReadIniFile(dir.File("none.ini"), doc), IniReadStatus::kMissing);
}

TEST(IniFile, WriteCreatesThenUpdatesTheFile) {
    TempDir dir;
    const std::string path = dir.File("x.ini");
    std::string error;
    ASSERT_TRUE(WriteProfileString(path, "QSO", "Call", "\"DL1ABC\"", error)) << error;
    ASSERT_TRUE(WriteProfileString(path, "QSO", "Name", "\"Hans\"", error)) << error;
    ASSERT_TRUE(WriteProfileString(path, "qso", "call", "\"DL2XYZ\"", error)) << error;
    EXPECT_EQ(ReadBytes(path), "[QSO]\ncall=\"DL2XYZ\"\nName=\"Hans\"\n");
    EXPECT_EQ(ReadProfileString(path, "QSO", "Call", ""), "DL2XYZ");
    // No temporary files are left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFile, WritesThroughASymbolicLink) {
    TempDir dir;
    const std::string real = dir.File("real.ini");
    const std::string link = dir.File("link.ini");
    WriteBytes(real, "[s]\nk=1\n");
    std::filesystem::create_symlink(real, link);
    std::string error;
    ASSERT_TRUE(WriteProfileString(link, "s", "k", "2", error)) << error;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadBytes(real), "[s]\nk=2\n");
}

TEST(IniFile, FailedWritesReportTheFileAndChangeNothing) {
    TempDir dir;
    std::string error;
    // A path below a regular file cannot be created, even by root.
    const std::string plain = dir.File("plain");
    WriteBytes(plain, "not a directory");
    const std::string below = plain + "/DAHLO.INI";
    EXPECT_FALSE(WriteProfileString(below, "s", "k", "v", error));
    EXPECT_EQ(error, "Unable to write to " + below);
    EXPECT_EQ(ReadBytes(plain), "not a directory");

    error.clear();
    EXPECT_FALSE(WriteProfileString("/proc/dahlo-test.ini", "s", "k", "v", error));
    EXPECT_EQ(error, "Unable to write to /proc/dahlo-test.ini");
}

TEST(IniFile, FullDiskLeavesTheOldFileIntact) {
    TempDir dir;
    const std::string path = dir.File("DAHLO.INI");
    const std::string original = "[s]\r\nk=old\r\n";
    WriteBytes(path, original);

    // A file size limit stands in for a full disk; it stops root as well.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool ok = WriteProfileString(path, "s", "k", std::string(500, 'n'), error);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "Unable to write to " + path);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(IniFile, UnreadableFileIsNotOverwritten) {
    TempDir dir;
    // A directory in the file's place cannot be read as a file; writing must not replace it.
    const std::string path = dir.File("dir.ini");
    std::filesystem::create_directory(path);
    std::string error;
    EXPECT_FALSE(WriteProfileString(path, "s", "k", "v", error));
    EXPECT_EQ(error, "Unable to write to " + path);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(IniFile, KeepsTheFilesPermissions) {
    TempDir dir;
    const std::string path = dir.File("perm.ini");
    WriteBytes(path, "[s]\n");
    std::filesystem::permissions(path, std::filesystem::perms(0640));
    std::string error;
    ASSERT_TRUE(WriteProfileString(path, "s", "k", "v", error)) << error;
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms(0640));
}

}  // namespace
}  // namespace dahlo
