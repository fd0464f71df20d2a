// Any bytes as a language pack: every way the dialog and the pack list read
// one, then a write that must keep the file readable.
#include "FuzzFiles.h"

#include "i18n/IniDocument.h"
#include "i18n/IniReader.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = parvane::fuzz::Scratch().Write("pack.ini", data, size);
    CIniReader reader;
    reader.SetFileName(path);

    // The first few sections and keys the file names (each read parses the
    // file again), as text, into a small buffer and as a number.
    constexpr int kMostReads = 16;
    int reads = 0;
    const std::vector<std::string> sections = reader.GetSectionNames();
    for (size_t s = 0; s < sections.size() && reads < kMostReads; ++s, ++reads) {
        const std::string& section = sections[s];
        reader.SectionExists(section);
        const std::vector<std::string> entries = reader.GetSection(section);
        for (size_t e = 0; e < entries.size() && reads < kMostReads; ++e, ++reads) {
            const std::string key = entries[e].substr(0, entries[e].find('='));
            std::string text;
            reader.ReadText(key, section, text);
            char buffer[7];
            reader.ReadTextBuffer(key, section, buffer, sizeof buffer);
            if (std::memchr(buffer, '\0', sizeof buffer) == nullptr)
                __builtin_trap(); // the buffer must always end in a NUL
            int number = 0;
            reader.ReadInt(key, section, number);
        }
    }

    // A write keeps the other lines; the value written reads back.
    const std::string section = sections.empty() ? "Language" : sections.front();
    if (reader.WriteString("written value", "FuzzKey", section)) {
        std::string back;
        if (!reader.ReadText("FuzzKey", section, back) || back != "written value")
            __builtin_trap();
    }
    return 0;
}
