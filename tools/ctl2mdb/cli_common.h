// Pieces shared by the modes of ctl2mdb.
#pragma once

#include <cstdio>
#include <string>

namespace kp::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotCompacted = 3;

// Prints the usage text to `to` and returns `status`.
int PrintUsage(FILE* to, int status);

// PATH as given on the command line: a DEFAULT.CTL, or the folder holding one.
std::string ControlFilePath(const std::string& arg);

// Prints a message text and its cause to stderr, one line each.
void PrintFailure(const std::u16string& message, const std::string& cause);

// `ctl2mdb --list PATH`
int RunList(const std::string& path);

}  // namespace kp::cli
