// A command line that CommandLineToArgvW (and the C runtimes' own argv
// parsing) reads back as exactly the arguments it was made of.
#pragma once

#include <string>
#include <vector>

// args[0] is the program: quoted whole when it holds a blank, never escaped,
// as the parser takes it up to the next quote without reading backslashes.
std::wstring quoteCommandLine(const std::vector<std::wstring>& args);
