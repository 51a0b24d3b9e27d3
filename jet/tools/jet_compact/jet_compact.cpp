// jet-compact SOURCE DESTINATION
//
// Writes a compacted copy of the Access 2000 (Jet 4) database SOURCE to
// DESTINATION, which must not exist: the same tables, rows, queries,
// relationships, properties and permissions, without deleted rows or unused
// pages. Exit status: 0 done; 1 the compaction failed (the cause is printed,
// nothing is left at DESTINATION); 2 wrong usage.
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
#include "jet/compact.h"

namespace {

const char kUsage[] = "usage: jet-compact SOURCE DESTINATION\n";

}  // namespace

int main(int argc, char** argv) {
  using kp::PrintText;
  using kp::WriteText;
  kp::PrepareConsole();
  std::vector<std::string> args;
  for (const std::string& a : kp::CommandLineArguments(argc, argv)) {
    if (a == "--help" || a == "-h") {
      PrintText(stdout, "%s\nWrites a compacted copy of the Jet 4 database SOURCE to DESTINATION,\n"
                "which must not exist. A SOURCE that jet-check rejects is refused, with\n"
                "the page of its first problem. Exit status 0 on success, 1 when it fails.\n", kUsage);
      return 0;
    }
    if (a == "--version") {
      PrintText(stdout, "jet-compact 1.0\n");
      return 0;
    }
    if (a.size() > 1 && a[0] == '-') {
      PrintText(stderr, "jet-compact: unknown option %s\n%s", a.c_str(), kUsage);
      return 2;
    }
    args.push_back(a);
  }
  if (args.size() != 2) {
    WriteText(stderr, kUsage);
    return 2;
  }
  const kp::Status s = kp::jet::CompactDatabase(args[0], args[1]);
  if (!s.ok()) {
    PrintText(stderr, "jet-compact: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
