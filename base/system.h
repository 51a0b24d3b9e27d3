// What the program asks of the operating system beyond files: its own
// place, the console, whether a folder takes new files, and a converter
// process of its own. One implementation per system: system_posix.cpp,
// system_win32.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/status.h"

namespace kp {

// The running executable (/proc/self/exe on Linux, GetModuleFileNameW on
// Windows); empty when the system does not say.
Path ExecutablePath();

// The program's arguments (without its own name) as UTF-8 texts that
// PathFromUtf8 takes back: on Linux argv's bytes as they are, on Windows the
// UTF-16 command line converted (argv there is in the ANSI code page, which
// cannot hold every name).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether the standard error stream is a terminal (a console on Windows).
bool StderrIsTerminal();

// Whether this process may create files in `folder`.
bool IsWritableFolder(const Path& folder);

// How a child process ended.
struct ProcessOutcome {
  bool exited = false;   // it ended by itself, with `exit_code`
  int exit_code = 0;
  std::string ended_by;  // otherwise what ended it ("signal 9", "exception 0xC0000005")
  std::string errors;    // the start of what it wrote to its standard error
};

// Runs `program` with `args` (each one argument, passed unchanged), its
// standard input and output the null device and its standard error caught
// (the first `keep` bytes kept), and waits for it to end. A failure to start
// it is the returned status.
Status RunProcess(const Path& program, const std::vector<Path>& args, size_t keep, ProcessOutcome* outcome);

}  // namespace kp
