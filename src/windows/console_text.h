// Text for a person on standard output or standard error.
#pragma once

#include <cstdio>

// Writes UTF-8 `text` to `stream` (stdout or stderr). A console is given it
// as UTF-16 (WriteConsoleW), which shows every character whatever its output
// code page; files and pipes get the UTF-8 bytes.
void writeConsoleText(std::FILE* stream, const char* text);
