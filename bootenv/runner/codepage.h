// The job file is written in the Windows ANSI code page, 936 on the Chinese systems the program serves;
// Linux file names are UTF-8.
#pragma once
#include <string>

namespace vorlane {

// Converts code page 936 text to UTF-8; bytes that are no character become '?'.
std::string Cp936ToUtf8(const std::string& text);

}  // namespace vorlane
