// Random and mutated packs through the reader and the pack list. The inputs
// come from a fixed seed, so a failure reproduces; the sanitizer build runs
// the same inputs and must stay silent.
#include "PackFiles.h"

#include "i18n/IniReader.h"
#include "i18n/MultiLanguage.h"
#include "i18n/UnicodeText.h"
#include "platform/DebugPrint.h"
#include "platform/ModuleDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using parvane::test::ScratchDir;

namespace {

constexpr std::mt19937::result_type kSeed = 0x5EED1E5;
constexpr int kInputs = 1000;

const char* const kSections[] = {"Language", "WindowText", "Help", "windowtext", " Help ", "x"};
const char* const kKeys[] = {"Language", "IDS_102_0000", "IDS_102_1000", "IDS_102_-1", "IDS_102_1050_0",
                             "MESSAGE_4", "TOOLTIP_0", "FileName", "k", " message_6 "};
// "" stands for a NUL byte.
const char* const kTokens[] = {"[", "]", "=", ";", "\r", "\n", "\r\n", "", "[NewLine]",
                               "[ProductName]", "[CompanyName]", "\"", "'", "%d", "%s%n", "\xEF\xBB\xBF",
                               "\xFF\xFE", "\xFE\xFF", "\xC3", "\xE4\xB8", "\xF0\x9F\x98\x80", "中", " ", "\t"};

class Inputs {
public:
    Inputs()
        : m_random(kSeed)
    {
        for (const char* name : {"English.ini", "Chinese.ini"})
            m_shipped.push_back(parvane::test::ReadFileBytes(GetModuleDir() + "Lang/" + name));
    }

    size_t Below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(m_random); }
    template <typename T, size_t N>
    const T& Pick(const T (&items)[N]) { return items[Below(N)]; }

    std::string Bytes(size_t count)
    {
        std::string bytes(count, '\0');
        for (char& c : bytes)
            c = static_cast<char>(Below(256));
        return bytes;
    }

    std::string Token()
    {
        const std::string token = Pick(kTokens);
        return token.empty() ? std::string(1, '\0') : token;
    }

    // Text made of pack-like pieces.
    std::string Text(size_t pieces)
    {
        std::string text;
        for (size_t i = 0; i < pieces; ++i) {
            switch (Below(4)) {
            case 0: text += Token(); break;
            case 1: text += Pick(kKeys); break;
            case 2: text += std::string(1 + Below(8), static_cast<char>('a' + Below(26))); break;
            default: text += Bytes(1 + Below(4)); break;
            }
        }
        return text;
    }

    std::string RandomPack()
    {
        std::string pack;
        const size_t lines = Below(40);
        for (size_t i = 0; i < lines; ++i) {
            switch (Below(6)) {
            case 0: pack += std::string("[") + Pick(kSections) + (Below(5) ? "]" : ""); break;
            case 1: pack += ";" + Text(Below(4)); break;
            case 2: pack += Text(1 + Below(6)); break;
            default: pack += std::string(Pick(kKeys)) + (Below(8) ? "=" : "") + Text(Below(6)); break;
            }
            static const char* const kLineEnds[] = {"\n", "\r\n", "\r", ""};
            pack += Pick(kLineEnds);
        }
        if (Below(16) == 0)
            pack.insert(Below(pack.size() + 1), std::string(100 * 1024, 'v')); // a 100 kB value
        return pack;
    }

    std::string Mutate(std::string bytes)
    {
        const size_t edits = 1 + Below(8);
        for (size_t i = 0; i < edits; ++i) {
            const size_t at = bytes.empty() ? 0 : Below(bytes.size() + 1);
            const size_t span = 1 + Below(16);
            switch (Below(6)) {
            case 0:
                if (at < bytes.size())
                    bytes[at] = static_cast<char>(bytes[at] ^ (1 << Below(8)));
                break;
            case 1: bytes.insert(at, Token()); break;
            case 2: bytes.erase(at, span); break;
            case 3: bytes.insert(at, bytes.substr(at, span * 8)); break;
            case 4: bytes.resize(at); break;
            default: bytes.insert(at, Bytes(span)); break;
            }
        }
        return bytes;
    }

    std::string Next()
    {
        std::string bytes;
        switch (Below(4)) {
        case 0: bytes = Bytes(Below(2048)); break;
        case 1: bytes = RandomPack(); break;
        default: bytes = Mutate(m_shipped[Below(m_shipped.size())]); break;
        }
        switch (Below(8)) {
        case 0: return parvane::test::Utf16LittleEndianWithBom(parvane::text::SanitiseUtf8(bytes)) + Bytes(Below(2));
        case 1: return Mutate(parvane::test::Utf16BigEndianWithBom(parvane::text::SanitiseUtf8(bytes)));
        case 2: return "\xEF\xBB\xBF" + bytes;
        default: return bytes;
        }
    }

    // A value that can be written as one line: text without line breaks or NUL.
    std::string WritableValue()
    {
        std::string value = parvane::text::SanitiseUtf8(Text(Below(6)));
        value.erase(std::remove_if(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }),
                    value.end());
        return value;
    }

private:
    std::mt19937 m_random;
    std::vector<std::string> m_shipped;
};

bool IsCleanText(const std::string& text)
{
    return parvane::text::SanitiseUtf8(text) == text && text.find('\0') == std::string::npos;
}

void ProbeReader(CIniReader& reader, Inputs& inputs, int input)
{
    // A few lookups per input keep the run short; over all inputs every
    // section and key is tried many times.
    for (int probe = 0; probe < 6; ++probe) {
        const char* section = inputs.Pick(kSections);
        const char* key = inputs.Pick(kKeys);
        std::string out = "stale";
        const bool found = reader.ReadText(key, section, out);
        ASSERT_TRUE(IsCleanText(out)) << "input " << input;
        ASSERT_LE(reader.GetLastResult(), 1022) << "input " << input;
        if (!found) {
            ASSERT_EQ(out, "") << "input " << input;
        }

        static const size_t kSizes[] = {1, 2, 7, 64};
        const size_t size = inputs.Pick(kSizes);
        char buffer[96];
        std::memset(buffer, '#', sizeof(buffer));
        reader.ReadTextBuffer(key, section, buffer, size);
        ASSERT_NE(std::memchr(buffer, '\0', size), nullptr) << "input " << input;
        ASSERT_TRUE(IsCleanText(buffer)) << "input " << input << ": a character was split";
        for (size_t i = size; i < sizeof(buffer); ++i)
            ASSERT_EQ(buffer[i], '#') << "input " << input << ": written past " << size << " bytes";

        int number = 0;
        reader.ReadInt(key, section, number);
    }
    const std::vector<std::string> names = reader.GetSectionNames();
    for (size_t i = 0; i < names.size() && i < 12; ++i) {
        ASSERT_TRUE(IsCleanText(names[i])) << "input " << input;
        for (const std::string& entry : reader.GetSection(names[i]))
            ASSERT_TRUE(IsCleanText(entry)) << "input " << input;
        reader.SectionExists(names[i]);
    }
}

TEST(IniFuzzTest, RandomAndMutatedPacksReadCleanlyAndStayApart)
{
    const parvane::DebugSink previous = parvane::SetDebugSink([](const std::string&) {});
    ScratchDir dir;
    const std::string fuzzed = dir.File("a.ini");
    dir.Write("z.ini", "[Language]\nLanguage=Good\n[WindowText]\nMESSAGE_0=fine\n");
    Inputs inputs;
    CIniReader reader;
    reader.SetFileName(fuzzed);
    for (int input = 0; input < kInputs && !HasFatalFailure(); ++input) {
        dir.Write("a.ini", inputs.Next());
        ProbeReader(reader, inputs, input);

        CMultiLanguage language(dir.Path());
        ASSERT_FALSE(language.GetLanguageNames().empty());
        ASSERT_EQ(language.GetLanguageNames().back(), "Good") << "input " << input;
        ASSERT_TRUE(language.SetLanguage("Good"));
        ASSERT_EQ(language.GetMessageText(0), "fine") << "input " << input;

        if (input % 8 == 0) {
            // A write touches only its own line: the value reads back and
            // the other sections stay listed.
            const std::string section = inputs.Pick(kSections);
            const std::string key = inputs.Pick(kKeys);
            const std::string value = inputs.WritableValue();
            std::vector<std::string> before = reader.GetSectionNames();
            ASSERT_TRUE(reader.WriteString(value, key, section)) << "input " << input;
            ASSERT_EQ(reader.GetSectionNames().size(),
                      before.size() + (std::any_of(before.begin(), before.end(), [&](const std::string& name) {
                                           return parvane::text::EqualsIgnoringCase(name,
                                                                                    parvane::text::Trim(section));
                                       }) ? 0 : 1))
                << "input " << input;
            std::string out;
            reader.ReadText(key, section, out);
            ASSERT_EQ(out, parvane::ExpandPlaceholders(parvane::text::CutToCharacters(value, 1022), true))
                << "input " << input;
        }
    }
    parvane::SetDebugSink(previous);
}

} // namespace
