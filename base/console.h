// The command line and the console of the command-line tools, the same on
// every system: arguments come in as UTF-8, text goes out as UTF-8. On Windows
// the arguments are read as UTF-16 from the system (whatever the ANSI code
// page), a console is written in UTF-16 (so Japanese shows whatever its code
// page), and a redirected stream gets the UTF-8 bytes, with no line-end
// translation.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "base/system.h"  // CommandLineArguments

namespace kp {

// Sets up stdout and stderr as described above. Call once, first thing in main.
void PrepareConsole();

// Writes UTF-8 text to `stream` (stdout or stderr).
void WriteText(FILE* stream, std::string_view utf8);

// printf-style formatting into WriteText.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void PrintText(FILE* stream, const char* format, ...);

}  // namespace kp
