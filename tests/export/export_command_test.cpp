#include "export/export_command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/export/fake_engine.h"
#include "tests/export/recording_ui.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using testing::FakeEngine;
using testing::FakeLog;
using testing::PlainDocument;
using testing::RecordingUi;

const char kSaved[] = "保存に成功しました。";
const char kSaveFailed[] = "保存に失敗しました。";
const char kCompacted[] = "最適化に成功しました。";
const char kCompactFailed[] = "最適化に失敗しました。（容量が多くなることがあります。）";
const char kTemplateBytes[] = "TEMPLATE";


// A temporary program folder holding a template, and an output folder.
fs::path MakeTempDir(const fs::path& parent) {
  std::string pattern = (parent / "kp-export-XXXXXX").string();
  char* made = mkdtemp(pattern.data());
  return made ? fs::path(made) : fs::path();
}

class ExportCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = MakeTempDir(fs::temp_directory_path());
    ASSERT_FALSE(root_.empty());
    program_ = root_ / "bin";
    fs::create_directories(program_);
    testing::WriteFile(program_ / "KP.dbd", kTemplateBytes);
    output_ = (root_ / "出力.mdb").string();
    log_ = std::make_shared<FakeLog>();
    command_ = MakeCommand(program_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  std::unique_ptr<ExportCommand> MakeCommand(const fs::path& program) {
    return std::make_unique<ExportCommand>(program.string(), [this] {
      ++engines_made_;
      return std::make_unique<FakeEngine>(log_);
    });
  }

  fs::path root_, program_;
  std::string output_;
  std::shared_ptr<FakeLog> log_;
  std::unique_ptr<ExportCommand> command_;
  int engines_made_ = 0;
};

TEST_F(ExportCommandTest, ThreePageProgressSequenceAndBothMessages) {
  RecordingUi ui(output_);
  ExportResult r = command_->Run(PlainDocument(3), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedAndCompacted) << r.cause.ToString();
  EXPECT_EQ(ui.last_filter, u"MDBファイル|*.MDB");

  std::vector<std::string> want = {"ask", "show", "enabled:0", "max:3"};
  const char* captions[] = {"ﾍﾟｰｼﾞ", "埋込ﾌｧｲﾙ", "ｺﾒﾝﾄ", "ｷｰﾜｰﾄﾞ", "範囲ﾏｰｸ", "ﾊｲﾊﾟｰﾘﾝｸ"};
  for (const char* c : captions) {
    want.push_back("value:1");
    want.push_back(std::string("caption:変換状況 …") + c + " [出力中]");
    for (const char* v : {"value:1", "value:2", "value:3"}) want.push_back(v);
  }
  for (const char* e : {"max:100", "value:1", "caption:変換状況", "hide", "enabled:1"}) want.push_back(e);
  want.push_back(std::string("message:") + kSaved);
  want.push_back(std::string("message:") + kCompacted);
  EXPECT_EQ(ui.events, want);

  // The output is the compacted copy; the work file is gone.
  EXPECT_EQ(testing::ReadFile(output_), std::string(kTemplateBytes) + FakeEngine::kCompactedMarker);
  EXPECT_FALSE(fs::exists(program_ / "WorkDB.tmp"));
  // The database written is a new file beside the output, renamed over it.
  ASSERT_EQ(log_->opened_paths.size(), 1u);
  EXPECT_THAT(log_->opened_paths[0], ::testing::StartsWith(output_ + ".~kp"));
  EXPECT_FALSE(fs::exists(log_->opened_paths[0]));
  EXPECT_TRUE(log_->database_closed);
  EXPECT_EQ(log_->tables.size(), 6u);
  EXPECT_EQ(log_->tables[0].rows.size(), 3u);
}

TEST_F(ExportCommandTest, SecondExportReplacesTheFirstAndKeepsTheEngine) {
  testing::WriteFile(output_, "an older, much longer file that must disappear entirely");
  for (int run = 0; run < 2; ++run) {
    RecordingUi ui(output_);
    EXPECT_EQ(command_->Run(PlainDocument(1), &ui).outcome, ExportOutcome::kSavedAndCompacted);
    EXPECT_EQ(testing::ReadFile(output_), std::string(kTemplateBytes) + FakeEngine::kCompactedMarker);
  }
  EXPECT_EQ(engines_made_, 1);
  EXPECT_EQ(log_->compactions, 2);
}

TEST_F(ExportCommandTest, WorkFileAlreadyPresentLeavesTheSavedOutput) {
  testing::WriteFile(program_ / "WorkDB.tmp", "someone else's");
  RecordingUi ui(output_);
  ExportResult r = command_->Run(PlainDocument(2), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedNotCompacted);
  EXPECT_FALSE(r.cause.ok());
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{kSaved, kCompactFailed}));
  EXPECT_EQ(testing::ReadFile(output_), kTemplateBytes);  // complete, uncompacted
  EXPECT_EQ(testing::ReadFile(program_ / "WorkDB.tmp"), "someone else's");
}

TEST_F(ExportCommandTest, MissingTemplateFailsBeforeTheProgressWindowShows) {
  fs::remove(program_ / "KP.dbd");
  RecordingUi ui(output_);
  ExportResult r = command_->Run(PlainDocument(2), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_TRUE(r.cause.IsIOError());
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("KP.dbd"));
  EXPECT_FALSE(ui.Saw("show"));
  EXPECT_FALSE(ui.Saw("enabled:0"));
  EXPECT_EQ(ui.events.back(), std::string("message:") + kSaveFailed);
  EXPECT_TRUE(ui.Saw("enabled:1"));
  EXPECT_FALSE(fs::exists(output_));
  EXPECT_EQ(engines_made_, 0);
}

TEST_F(ExportCommandTest, CancelledDialogWritesNothing) {
  RecordingUi ui(output_, /*cancel=*/true);
  ExportResult r = command_->Run(PlainDocument(1), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_TRUE(r.output_path.empty());
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{kSaveFailed});
  EXPECT_FALSE(fs::exists(output_));
}

TEST_F(ExportCommandTest, FailureInTheFourthTableKeepsWhatWasWritten) {
  ControlDocument doc = PlainDocument(2);
  testing::AddComment(&doc.Pages[1], 1, 2, 3, u"c");
  testing::AddKeyWord(&doc.Pages[0], 1, 2, 3, 4, u"k1", u"");
  testing::AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, u"k2", u"");
  log_->fail_update = 2 + 1 + 1;  // pages 2 rows, comments 1, then the second keyword
  RecordingUi ui(output_);
  ExportResult r = command_->Run(doc, &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("keywords table, page 2 item 1"));
  ASSERT_EQ(log_->tables.size(), 4u);
  EXPECT_EQ(log_->tables[0].rows.size(), 2u);
  EXPECT_EQ(log_->tables[2].rows.size(), 1u);
  EXPECT_EQ(log_->tables[3].rows.size(), 1u);
  EXPECT_TRUE(log_->database_closed);
  // The update failed as a write does: the file is not trusted and is not
  // put in place (a refused row keeps it: the end-to-end tests).
  EXPECT_FALSE(fs::exists(output_));
  EXPECT_EQ(log_->compactions, 0);
  // The display is put back before the one failure message.
  std::vector<std::string> tail(ui.events.end() - 6, ui.events.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"max:100", "value:1", "caption:変換状況", "hide",
                                            "enabled:1", std::string("message:") + kSaveFailed}));
}

TEST_F(ExportCommandTest, OpenAndCloseFailuresAreSaveFailures) {
  log_->fail_open_database = -1;
  RecordingUi ui(output_);
  EXPECT_EQ(command_->Run(PlainDocument(1), &ui).outcome, ExportOutcome::kSaveFailed);
  EXPECT_FALSE(ui.Saw("show"));
  EXPECT_FALSE(fs::exists(output_));  // nothing half made is left

  log_->fail_open_database.reset();
  log_->fail_close = true;
  RecordingUi ui2(output_);
  ExportResult r = command_->Run(PlainDocument(1), &ui2);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("close"));
  EXPECT_FALSE(fs::exists(output_));
  size_t left = 0;
  for (const auto& e : fs::directory_iterator(root_)) left += e.is_regular_file();
  EXPECT_EQ(left, 0u);
}

TEST_F(ExportCommandTest, FailedRenameKeepsTheUncompactedOutputAndRemovesTheWorkFile) {
  // The work file is replaced by a folder after the compaction: renaming a
  // folder onto a file fails, as a rename can on a real system.
  struct RenameBlocker : FakeEngine {
    using FakeEngine::FakeEngine;
    Status CompactDatabase(const std::string& s, const std::string& d) override {
      fs::create_directory(d);
      return Status::OK();
    }
  };
  ExportCommand command(program_.string(), [this] { return std::make_unique<RenameBlocker>(log_); });
  RecordingUi ui(output_);
  ExportResult r = command.Run(PlainDocument(1), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedNotCompacted);
  EXPECT_THAT(r.cause.message(), ::testing::HasSubstr("rename"));
  EXPECT_EQ(ui.Messages(), (std::vector<std::string>{kSaved, kCompactFailed}));
  EXPECT_EQ(testing::ReadFile(output_), kTemplateBytes);
  EXPECT_FALSE(fs::exists(program_ / "WorkDB.tmp"));
}

TEST_F(ExportCommandTest, CompactionAcrossFileSystems) {
  fs::path other = MakeTempDir("/dev/shm");
  struct stat a{}, b{};
  if (other.empty() || stat(other.c_str(), &a) != 0 || stat(root_.c_str(), &b) != 0 ||
      a.st_dev == b.st_dev) {
    if (!other.empty()) fs::remove_all(other);
    GTEST_SKIP() << "no second file system to compact across";
  }
  fs::copy_file(program_ / "KP.dbd", other / "KP.dbd");
  auto command = MakeCommand(other);
  RecordingUi ui(output_);
  ExportResult r = command->Run(PlainDocument(1), &ui);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedAndCompacted) << r.cause.ToString();
  EXPECT_EQ(testing::ReadFile(output_), std::string(kTemplateBytes) + FakeEngine::kCompactedMarker);
  EXPECT_FALSE(fs::exists(other / "WorkDB.tmp"));
  size_t left = 0;
  for (const auto& e : fs::directory_iterator(root_)) left += e.is_regular_file();
  EXPECT_EQ(left, 1u);  // no temporary copy left beside the output
  fs::remove_all(other);
}

TEST_F(ExportCommandTest, TemplateBesideTheProgramElseTheInstalledOne) {
  fs::path installed = root_ / "share" / "zirirav-convert";
  fs::create_directories(installed);
  testing::WriteFile(installed / "KP.dbd", "INSTALLED");
  EXPECT_EQ(command_->TemplatePath(), (program_ / "KP.dbd").string());
  fs::remove(program_ / "KP.dbd");
  EXPECT_EQ(command_->TemplatePath(), (installed / "KP.dbd").string());
  RecordingUi ui(output_);
  EXPECT_EQ(command_->Run(PlainDocument(1), &ui).outcome, ExportOutcome::kSavedAndCompacted);
  EXPECT_EQ(testing::ReadFile(output_), std::string("INSTALLED") + FakeEngine::kCompactedMarker);
}

// The work file beside the output (the program's folder not writable, or
// asked for): a WorkDB.tmp in the program's folder plays no part, and the
// work file is gone after a success and after a failed compaction.
TEST_F(ExportCommandTest, WorkFileBesideTheOutputIsGoneOnEveryPath) {
  testing::WriteFile(program_ / "WorkDB.tmp", "someone else's");
  ExportOptions beside;
  beside.work_file = WorkFilePlace::kBesideOutput;
  auto files_beside_output = [this] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    return names;
  };
  RecordingUi ui(output_);
  ExportResult r = command_->Run(PlainDocument(2), &ui, beside);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedAndCompacted) << r.cause.ToString();
  EXPECT_EQ(testing::ReadFile(output_), std::string(kTemplateBytes) + FakeEngine::kCompactedMarker);
  EXPECT_EQ(files_beside_output(), std::vector<std::string>{"出力.mdb"});

  // A compaction that fails after it began writing its copy.
  struct HalfWriter : FakeEngine {
    using FakeEngine::FakeEngine;
    Status CompactDatabase(const std::string&, const std::string& d) override {
      destination = d;
      if (fs::exists(d)) return Status::InvalidArgument("exists");
      testing::WriteFile(d, "half");
      return Status::IOError("injected: disk full");
    }
    std::string destination;
  };
  HalfWriter* engine = nullptr;
  ExportCommand failing(program_.string(), [&] {
    auto e = std::make_unique<HalfWriter>(log_);
    engine = e.get();
    return e;
  });
  RecordingUi ui2(output_);
  r = failing.Run(PlainDocument(2), &ui2, beside);
  EXPECT_EQ(r.outcome, ExportOutcome::kSavedNotCompacted);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(fs::path(engine->destination).parent_path(), root_);
  EXPECT_EQ(testing::ReadFile(output_), kTemplateBytes);
  EXPECT_EQ(files_beside_output(), std::vector<std::string>{"出力.mdb"});
  EXPECT_EQ(testing::ReadFile(program_ / "WorkDB.tmp"), "someone else's");
}

TEST_F(ExportCommandTest, NoCompactOption) {
  RecordingUi ui(output_);
  ExportOptions options;
  options.compact = false;
  ExportResult r = command_->Run(PlainDocument(1), &ui, options);
  EXPECT_EQ(r.outcome, ExportOutcome::kSaved);
  EXPECT_EQ(ui.Messages(), std::vector<std::string>{kSaved});
  EXPECT_EQ(log_->compactions, 0);
  EXPECT_EQ(testing::ReadFile(output_), kTemplateBytes);
}

}  // namespace
}  // namespace kp
