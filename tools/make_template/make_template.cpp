// make-template OUT: writes the template database (the six output tables,
// empty) to OUT.
#include <cstdio>
#include <cstring>

#include "jet/jet.h"
#include "export/output_schema.h"

int main(int argc, char** argv) {
  const char usage[] = "usage: make-template OUT\n"
                       "Writes the template database KP.dbd (the six output tables, empty) to OUT.\n";
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("make-template (ZIriRAV Convert) %s\n", KP_VERSION);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(usage, stderr);
    return 2;
  }
  kp::jet::DatabaseSpec layout;
  std::vector<kp::jet::TableDef> defs;
  kp::Status s = kp::OutputTableDefs(&defs, /*primary_keys=*/true);
  for (auto& d : defs) layout.tables.push_back({std::move(d), {}});
  if (s.ok()) s = kp::jet::WriteDatabase(layout, argv[1]);
  if (!s.ok()) {
    std::fprintf(stderr, "make-template: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
