#include "tools/ctl2mdb/verify_command.h"

#include <cstdio>

#include "ctl/load_command.h"
#include "export/verify.h"
#include "tools/ctl2mdb/cli_common.h"

namespace kp::cli {

int RunVerify(const std::string& path, const std::string& database) {
  Status s = CheckStructure(database);
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", database.c_str(), s.ToString().c_str());
    return kExitFailure;
  }
  ControlDocument doc;
  FileSystemImageSizer sizer;
  LoadResult load = LoadControlFile(ControlFilePath(path), &sizer, &doc);
  if (!load.ok()) {
    PrintFailure(load.message(), load.cause);
    return kExitFailure;
  }
  VerifyResult result;
  s = VerifyDatabase(doc, database, &result);
  if (!s.ok()) {
    std::fprintf(stderr, "%s: %s\n", database.c_str(), s.ToString().c_str());
    return kExitFailure;
  }
  if (!result.same) {
    std::fprintf(stderr, "difference: %s\n", result.difference.c_str());
    return kExitFailure;
  }
  std::printf("verified: %lld rows\n", static_cast<long long>(result.rows));
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace kp::cli
