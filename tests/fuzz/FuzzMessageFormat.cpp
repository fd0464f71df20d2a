// Any message format of a language pack, with the worker's two integers.
// Where every conversion is one it fills and there is no length modifier,
// the C library's own printf is the reference; without arguments a format
// without "%%" comes out as it went in.
#include "i18n/MessageFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int count = static_cast<int8_t>(data[0]) * 1000003;
    const int period = static_cast<int8_t>(data[1]) * 7;
    const std::string format(reinterpret_cast<const char*>(data + 2), size - 2);

    const std::string text = parvane::FormatMessageText(format, {count, period});
    const auto conversions = parvane::ListConversions(format);

    if (format.find("%%") == std::string::npos && parvane::FormatMessageText(format, {}) != format)
        __builtin_trap();

    bool printfSafe = conversions.size() <= 2 && format.find_first_of(std::string("hljztqL'*\0", 10)) == std::string::npos;
    for (const auto& conversion : conversions)
        printfSafe = printfSafe && conversion.takesInteger;
    if (printfSafe) {
        std::vector<char> reference(text.size() + 2);
        const int length = std::snprintf(reference.data(), reference.size(), format.c_str(), count, period);
        if (length < 0 || static_cast<size_t>(length) != text.size() || std::string(reference.data()) != text)
            __builtin_trap();
    }
    return 0;
}
