// ctl2mdb: the command-line converter.
//
//   ctl2mdb --list PATH                       print the page list and the totals
//   ctl2mdb PATH OUTPUT.mdb [--no-compact]    convert
//   ctl2mdb --batch ROOT OUTDIR [-j N]        convert every DEFAULT.CTL under ROOT
//   ctl2mdb --verify PATH OUTPUT.mdb          compare a database with the document
//
// PATH is a DEFAULT.CTL or the folder that holds one. Exit status: 0 success,
// 1 failure, 2 usage error, 3 saved but not compacted.
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/heap.h"
#include "base/system.h"
#include "batch.h"
#include "cli_common.h"
#include "convert.h"
#include "verify_command.h"

namespace kp::cli {

int PrintUsage(FILE* to, int status) {
  WriteText(to,
            "usage: ctl2mdb PATH OUTPUT.mdb [--no-compact]\n"
            "       ctl2mdb --list PATH\n"
            "       ctl2mdb --batch ROOT OUTDIR [-j N]\n"
            "       ctl2mdb --verify PATH OUTPUT.mdb\n"
            "       ctl2mdb --help | --version\n"
            "PATH is a DEFAULT.CTL or the folder that holds one. --batch converts every\n"
            "DEFAULT.CTL under ROOT into OUTDIR/<its folder under ROOT>.mdb, N at a time\n"
            "(default: the number of cores). --verify checks OUTPUT.mdb as jet-check does,\n"
            "reads it back and compares every row of its six tables with the document; it\n"
            "prints \"verified: N rows\", or the first problem or difference (table, row,\n"
            "column, expected and found) and exits 1.\n"
            "Exit status: 0 success, 1 failure, 2 usage error, 3 saved but not compacted.\n");
  return status;
}

}  // namespace kp::cli

int main(int argc, char** argv) {
  // A large document fills hundreds of megabytes of heap.
  kp::ReserveHugePageHeap(size_t(512) << 20);
  kp::PrepareConsole();
  const std::vector<std::string> args = kp::CommandLineArguments(argc, argv);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    return kp::cli::PrintUsage(stdout, kp::cli::kExitOk);
  }
  if (args.size() == 1 && args[0] == "--version") {
    kp::PrintText(stdout, "ctl2mdb (ZIriRAV Convert) %s\n", KP_VERSION);
    return kp::cli::kExitOk;
  }
  if (!args.empty() && args[0] == "--batch") {
    return kp::cli::RunBatch(std::vector<std::string>(args.begin() + 1, args.end()), argv[0]);
  }
  if (args.size() == 2 && args[0] == "--list") return kp::cli::RunList(args[1]);
  if (args.size() == 3 && args[0] == "--verify") return kp::cli::RunVerify(args[1], args[2]);
  if (args.size() >= 2 && args[0] != "--list" && args[0] != "--verify") return kp::cli::RunConvert(args);
  return kp::cli::PrintUsage(stderr, kp::cli::kExitUsage);
}
