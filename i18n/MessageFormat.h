#pragma once
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// Messages 4 to 6 of a language pack are printf-style formats for the
// verification worker's arguments (32-bit integers: the busy-tone count, and
// for message 4 the measured period as well). The pack is data from outside
// the program, so it is never handed to printf itself: FormatMessageText
// formats only what it can prove safe.
namespace parvane {

// One conversion of a format: its conversion character ('d', 's', ...; '\0'
// for a '%' that ends the format), and whether FormatMessageText fills it.
struct FormatConversion {
    char type = '\0';
    bool takesInteger = false;
};

// The conversions of a format in order; "%%" is no conversion.
std::vector<FormatConversion> ListConversions(std::string_view format);

// Formats with 32-bit integer arguments. The integer conversions d, i, u, o,
// x and X (with flags, a width and a precision up to 255, and any length
// modifier) are filled; "%%" gives '%'. Every conversion stands for the next
// argument, as with printf; any other conversion, a '*' width, or a
// conversion past the last argument is copied as written.
std::string FormatMessageText(std::string_view format, std::initializer_list<int> arguments);

} // namespace parvane
