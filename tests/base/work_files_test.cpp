#include "base/work_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "base/path.h"
#include "tests/base/temp_folder.h"

namespace kp {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(PathToUtf8(e.path().filename()));
  return names;
}

// The work files of a conversion that was killed are whatever it had made,
// unlocked (the system drops a lock with its process); a running
// conversion's claim is locked, here through a second open of its own.
TEST(WorkFilesTest, LeftoversOfDeadConversionsGoAndALiveOnesStay) {
  testing::TempFolder temp("kp-work-files");
  const Path& folder = temp.path();
  const Path out = temp / "出力 1.mdb";
  auto beside = [&](const std::string& suffix) { return PathFromUtf8(PathToUtf8(out) + suffix); };
  testing::Put(out, "the earlier output");
  testing::Put(beside(".~kp0"), "");            // a dead claim
  testing::Put(beside(".~kp0.db"), "half a database");
  testing::Put(beside(".~kp0.compact"), "half a compaction");
  testing::Put(beside(".~kp3"), "an older version's temporary copy");
  testing::Put(beside(".~kp9.db"), "its claim already gone");

  std::unique_ptr<WorkFileClaim> live;
  ASSERT_TRUE(WorkFileClaim::Take(out, &live).ok());
  EXPECT_EQ(live->path().native(), beside(".~kp1").native());  // the lowest free number
  const Path live_db = live->WorkPath(".db");
  testing::Put(live_db, "being written");
  // Not ours: another output's, names that only look alike.
  for (const char* other : {".~kpx", ".~kp", "~kp0"}) testing::Put(beside(other), "other");
  testing::Put(temp / "other.mdb.~kp0", "");

  const std::set<std::string> kept = {"出力 1.mdb", "出力 1.mdb.~kp1", "出力 1.mdb.~kp1.db", "出力 1.mdb.~kpx",
                                      "出力 1.mdb.~kp", "出力 1.mdb~kp0", "other.mdb.~kp0"};
  RemoveStaleWorkFiles(out);
  EXPECT_EQ(Names(folder), kept);
  EXPECT_EQ(testing::Get(live_db), "being written");
  RemoveStaleWorkFiles(out);  // twice changes nothing
  EXPECT_EQ(Names(folder), kept);

  // A second conversion beside the live one takes the next free claim; its
  // sweep leaves the first alone, and the first's leaves it alone.
  std::unique_ptr<WorkFileClaim> second;
  ASSERT_TRUE(WorkFileClaim::Take(out, &second).ok());
  EXPECT_EQ(second->path().native(), beside(".~kp0").native());
  RemoveStaleWorkFiles(out);
  EXPECT_TRUE(fs::exists(second->path()));
  EXPECT_TRUE(fs::exists(live->path()));

  // A released claim is gone with it; a work file it left behind is
  // removed by the next sweep.
  live.reset();
  second.reset();
  EXPECT_FALSE(fs::exists(beside(".~kp1")));
  RemoveStaleWorkFiles(out);
  EXPECT_FALSE(fs::exists(live_db));
  EXPECT_EQ(testing::Get(out), "the earlier output");
}

}  // namespace
}  // namespace kp
