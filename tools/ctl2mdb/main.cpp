// ctl2mdb: the command-line converter.
//
//   ctl2mdb --list PATH                       print the page list and the totals
//   ctl2mdb PATH OUTPUT.mdb [--no-compact]    convert
//
// PATH is a DEFAULT.CTL or the folder that holds one. Exit status: 0 success,
// 1 failure, 2 usage error, 3 saved but not compacted.
#include <cstdio>
#include <string>
#include <vector>

#include "cli_common.h"
#include "convert.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: ctl2mdb --list PATH\n"
               "       ctl2mdb PATH OUTPUT.mdb [--no-compact]\n"
               "PATH is a DEFAULT.CTL or the folder that holds one.\n");
  return kp::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--list") return kp::cli::RunList(args[1]);
  if (args.size() >= 2 && args[0] != "--list") return kp::cli::RunConvert(args);
  return Usage();
}
