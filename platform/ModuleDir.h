#pragma once
#include <string>

// The directory of the running program file, with its trailing '/'. Library
// files, language packs, null.wav and the help directory are found relative
// to it.
std::string GetModuleDir();

namespace parvane {

// The directory, with its trailing '/', of the loaded file (program or shared
// library) that contains the given address.
std::string GetDirOfAddress(const void* address);

// Overrides what GetModuleDir returns (tests lay out a program directory of
// their own); an empty text restores the real one.
void SetModuleDirForTest(const std::string& dir);

} // namespace parvane
