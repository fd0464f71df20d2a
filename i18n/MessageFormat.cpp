#include "i18n/MessageFormat.h"

#include <cstdint>
#include <cstdio>

namespace parvane {

namespace {

constexpr int kMaxWidth = 255;

// One "%..." directive parsed from the format.
struct Directive {
    size_t length = 0;     // characters from '%' through the conversion character
    std::string flags;
    int width = -1;
    int precision = -1;
    bool malformed = false; // '*' or a width or precision out of range
    char type = '\0';
};

bool IsInteger(char type)
{
    return type == 'd' || type == 'i' || type == 'u' || type == 'o' || type == 'x' || type == 'X';
}

// Parses the directive that starts at format[start] == '%'.
Directive Parse(std::string_view format, size_t start)
{
    Directive directive;
    size_t i = start + 1;
    auto number = [&](int& out) {
        long long value = 0;
        bool any = false;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            if (value <= kMaxWidth)
                value = value * 10 + (format[i] - '0');
            ++i;
            any = true;
        }
        if (i < format.size() && format[i] == '*') {
            directive.malformed = true;
            ++i;
        }
        if (value > kMaxWidth)
            directive.malformed = true;
        if (any)
            out = static_cast<int>(value);
    };
    while (i < format.size() && std::string_view("-+ #0'").find(format[i]) != std::string_view::npos)
        directive.flags += format[i++];
    number(directive.width);
    if (i < format.size() && format[i] == '.') {
        ++i;
        directive.precision = 0;
        number(directive.precision);
    }
    while (i < format.size() && std::string_view("hljztqL").find(format[i]) != std::string_view::npos)
        ++i;
    if (i < format.size())
        directive.type = format[i++];
    directive.length = i - start;
    return directive;
}

std::string FormatOne(const Directive& directive, int argument)
{
    std::string conversion = "%";
    for (const char flag : directive.flags)
        if (flag != '\'') // grouping depends on the locale; not worth it here
            conversion += flag;
    if (directive.width >= 0)
        conversion += std::to_string(directive.width);
    if (directive.precision >= 0)
        conversion += "." + std::to_string(directive.precision);
    char buffer[2 * kMaxWidth + 64];
    if (directive.type == 'd' || directive.type == 'i') {
        conversion += "lld";
        std::snprintf(buffer, sizeof(buffer), conversion.c_str(), static_cast<long long>(argument));
    } else {
        conversion += "ll";
        conversion += directive.type;
        std::snprintf(buffer, sizeof(buffer), conversion.c_str(),
                      static_cast<unsigned long long>(static_cast<uint32_t>(argument)));
    }
    return buffer;
}

} // namespace

std::vector<FormatConversion> ListConversions(std::string_view format)
{
    std::vector<FormatConversion> conversions;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%')
            continue;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            ++i;
            continue;
        }
        const Directive directive = Parse(format, i);
        conversions.push_back({directive.type, !directive.malformed && IsInteger(directive.type)});
        i += directive.length - 1;
    }
    return conversions;
}

std::string FormatMessageText(std::string_view format, std::initializer_list<int> arguments)
{
    std::string out;
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Every conversion stands for the next argument, as with printf, so
        // one faulty conversion does not shift the arguments of the others.
        const Directive directive = Parse(format, i);
        const bool hasArgument = next != arguments.end();
        if (!directive.malformed && IsInteger(directive.type) && hasArgument)
            out += FormatOne(directive, *next);
        else
            out.append(format.substr(i, directive.length));
        if (hasArgument)
            ++next;
        i += directive.length - 1;
    }
    return out;
}

} // namespace parvane
