#pragma once
// UTF-8 (the texts inside the program) to and from UTF-16 (the Windows wide
// interfaces: file names, the debugger output). Windows builds only.
#include <string>

namespace parvane {

// An invalid sequence becomes U+FFFD; the rest of the text is kept.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

} // namespace parvane
