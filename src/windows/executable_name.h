// Executable names as Windows file names compare.
#pragma once

#include <string>

// Letters in either case, as the file system compares them, and a trailing
// ".exe" optional on either side.
bool sameWindowsExecutable(const std::string& a, const std::string& b);
