// jet-check [--strict] FILE...   (also --help, --version)
//
// Checks each Jet 4 file and prints its problems as "FILE: page N: ..."
// lines. Exit status: 0 when every file is clean, 1 when a file has
// problems, 2 when a file cannot be read at all. Without --strict,
// deviations Access itself makes are printed but do not fail the check.
#include <cstdio>
#include <string>
#include <vector>

#include "base/console.h"
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
  using kp::PrintText;
  using kp::WriteText;
  kp::PrepareConsole();
  const std::vector<std::string> args = kp::CommandLineArguments(argc, argv);
  kp::jet::CheckOptions options;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--strict") {
      options.strict = true;
    } else if (a == "--help" || a == "-h") {
      WriteText(stdout, kUsage);
      return 0;
    } else if (a == "--version") {
      PrintText(stdout, "jet-check (ZIriRAV Convert) %s\n", KP_VERSION);
      return 0;
    } else if (a == "--") {
      files.insert(files.end(), args.begin() + i + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      WriteText(stderr, kUsage);
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    WriteText(stderr, kUsage);
    return 2;
  }
  int rc = 0;
  for (const auto& file : files) {
    kp::jet::CheckReport report;
    kp::Status s = kp::jet::CheckDatabase(file, options, &report);
    if (!s.ok()) {
      PrintText(stderr, "%s: %s\n", file.c_str(), s.ToString().c_str());
      rc = 2;
      continue;
    }
    for (const auto& p : report.problems) {
      PrintText(stdout, "%s: %s%s\n", file.c_str(), p.ToString().c_str(),
                  p.tolerated && !options.strict ? " (tolerated: Access does this)" : "");
    }
    if (!report.ok() && rc == 0) rc = 1;
  }
  return rc;
}
