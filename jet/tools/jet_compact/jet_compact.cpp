// jet-compact SOURCE DESTINATION
//
// Writes a compacted copy of the Access 2000 (Jet 4) database SOURCE to
// DESTINATION, which must not exist: the same tables, rows, queries,
// relationships, properties and permissions, without deleted rows or unused
// pages. Exit status: 0 done; 1 the compaction failed (the cause is printed,
// nothing is left at DESTINATION); 2 wrong usage.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jet/compact.h"

namespace {

const char kUsage[] = "usage: jet-compact SOURCE DESTINATION\n";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("%s\nWrites a compacted copy of the Jet 4 database SOURCE to DESTINATION,\n"
                  "which must not exist. A SOURCE that jet-check rejects is refused, with\n"
                  "the page of its first problem. Exit status 0 on success, 1 when it fails.\n", kUsage);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("jet-compact 1.0\n");
      return 0;
    }
    if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "jet-compact: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
    args.push_back(argv[i]);
  }
  if (args.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const kp::Status s = kp::jet::CompactDatabase(args[0], args[1]);
  if (!s.ok()) {
    std::fprintf(stderr, "jet-compact: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
