// jet-check [--strict] FILE...
//
// Checks each Jet 4 file and prints its problems as "FILE: page N: ..."
// lines. Exit status: 0 when every file is clean, 1 when a file has
// problems, 2 when a file cannot be read at all. Without --strict,
// deviations Access itself makes are printed but do not fail the check.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "export/jet/checker.h"

int main(int argc, char** argv) {
  kp::jet::CheckOptions options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--strict") == 0) {
      options.strict = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: jet-check [--strict] FILE...\n");
      return 0;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: jet-check [--strict] FILE...\n");
    return 2;
  }
  int rc = 0;
  for (const auto& file : files) {
    kp::jet::CheckReport report;
    kp::Status s = kp::jet::CheckDatabase(file, options, &report);
    if (!s.ok()) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), s.ToString().c_str());
      rc = 2;
      continue;
    }
    for (const auto& p : report.problems) {
      std::printf("%s: %s%s\n", file.c_str(), p.ToString().c_str(),
                  p.tolerated && !options.strict ? " (tolerated: Access does this)" : "");
    }
    if (!report.ok() && rc == 0) rc = 1;
  }
  return rc;
}
