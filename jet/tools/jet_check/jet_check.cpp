// jet-check [--strict] FILE...   (also --help, --version)
//
// Checks each Jet 4 file and prints its problems as "FILE: page N: ..."
// lines. Exit status: 0 when every file is clean, 1 when a file has
// problems, 2 when a file cannot be read at all. Without --strict,
// deviations Access itself makes are printed but do not fail the check.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jet/checker.h"

namespace {

const char kUsage[] =
    "usage: jet-check [--strict] FILE...\n"
    "       jet-check --help | --version\n"
    "Checks the structure of Jet 4 (Access 2000) database files and prints each\n"
    "problem as \"FILE: page N: ...\". Without --strict, deviations Access itself\n"
    "makes are printed but do not fail the check.\n"
    "Exit status: 0 every file clean, 1 a file has problems, 2 a file cannot be\n"
    "read or a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  kp::jet::CheckOptions options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--strict") == 0) {
      options.strict = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("jet-check (ZIriRAV Convert) %s\n", KP_VERSION);
      return 0;
    } else if (std::strcmp(argv[i], "--") == 0) {
      for (++i; i < argc; ++i) files.push_back(argv[i]);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fputs(kUsage, stderr);
      return 2;
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {
    std::fputs(kUsage, stderr);
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
