// Settings files are edited by hand: any bytes must parse, every setting must come out in the
// range the receiver relies on, and a write must land in the document and read back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "settings/ini_file.h"
#include "settings/settings.h"

namespace {

// Section and key names for the write: no brackets, no '=', no line breaks, no ';' first.
std::string NamePart(std::string_view raw, std::string_view fallback) {
    std::string out;
    for (char c : raw) {
        if (c == '[' || c == ']' || c == '=' || c == '\r' || c == '\n' || c == ';' || c == ' ' ||
            c == '\t' || c == '\0' || c == '"' || c == '\'')
            continue;
        out += c;
    }
    return out.empty() ? std::string(fallback) : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dahlo;
    const std::string_view all(reinterpret_cast<const char*>(data), size);

    // The last line, when it looks like "section|key|value", says what to write.
    std::string_view doc_text = all;
    std::string section = "Dahlo";
    std::string key = "CentreBin";
    std::string value = "200";
    const auto nl = all.rfind('\n');
    if (nl != std::string_view::npos) {
        const std::string_view tail = all.substr(nl + 1);
        const auto p1 = tail.find('|');
        const auto p2 = p1 == std::string_view::npos ? p1 : tail.find('|', p1 + 1);
        if (p2 != std::string_view::npos) {
            section = NamePart(tail.substr(0, p1), "Dahlo");
            key = NamePart(tail.substr(p1 + 1, p2 - p1 - 1), "CentreBin");
            value = std::string(tail.substr(p2 + 1, 64));
            doc_text = all.substr(0, nl + 1);
        }
    }

    IniDocument doc(doc_text);
    const Settings s = LoadSettings(doc);
    FUZZ_CHECK(s.afcSpeed >= 0 && s.afcSpeed <= 99);
    FUZZ_CHECK(s.centreBin >= 30 && s.centreBin <= 450);
    FUZZ_CHECK(s.cwFilterTreshold > 0);
    FUZZ_CHECK(s.threshold >= 0.0 && s.threshold <= 4294967295.0 * 0.0001 + 1e-6);
    FUZZ_CHECK(s.charset >= 0 && s.charset <= 2);
    FUZZ_CHECK(s.font.charset >= 0 && s.font.charset <= 255);
    FUZZ_CHECK(s.font.pitch >= 0 && s.font.pitch <= 255);
    FUZZ_CHECK((s.font.style & ~15) == 0);
    (void)ReadOnTop("/nonexistent/dahlo-fuzz.ini");

    // A parse of the document's own text gives the same document back.
    const std::string text = doc.Serialize();
    FUZZ_CHECK(IniDocument(text).Serialize() == text);

    // A write lands, reads back (blanks and one pair of quotes are dropped on reading, line
    // breaks become blanks) and leaves the settings readable.
    doc.Set(section, key, value);
    const auto back = doc.Get(section, key);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(back->size() <= kMaxProfileValue);
    FUZZ_CHECK(back->find('\n') == std::string::npos);
    IniDocument reread(doc.Serialize());
    FUZZ_CHECK(reread.Get(section, key) == back);

    // Every setting written back and read again keeps its value; a lone CR read inside a
    // value is written as a blank, like every line break in a value.
    StoreSettings(reread, s);
    Settings expected = s;
    for (std::string* text : {&expected.userCharsetFile, &expected.exportIniFile,
                              &expected.exportIniSection, &expected.font.name}) {
        for (char& c : *text) {
            if (c == '\r' || c == '\n') c = ' ';
        }
    }
    FUZZ_CHECK(LoadSettings(reread) == expected);
    return 0;
}
