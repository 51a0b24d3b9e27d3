// make-template OUT: writes the template database (the six output tables,
// empty) to OUT.
#include <cstdio>

#include "export/jet/builder.h"
#include "export/output_schema.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-template OUT\n");
    return 2;
  }
  kp::jet::DatabaseSpec layout;
  std::vector<kp::jet::TableDef> defs;
  kp::Status s = kp::OutputTableDefs(&defs);
  for (auto& d : defs) layout.tables.push_back({std::move(d), {}});
  if (s.ok()) s = kp::jet::WriteDatabase(layout, argv[1]);
  if (!s.ok()) {
    std::fprintf(stderr, "make-template: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
