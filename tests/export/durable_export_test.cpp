// The export on a failing disk: every open, read, write, fsync, rename and
// remove of a small document's export failed in turn (EIO, ENOSPC, a short
// write), and the output capped at every 4 KiB (RLIMIT_FSIZE, in a child
// process). Whatever fails, the message is that of the failed step, the
// template is untouched, and the output is the earlier file or a whole,
// valid database.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "ctl/load_command.h"
#include "export/export_command.h"
#include "jet/checker.h"
#include "jet/reader.h"
#include "tests/export/faulty_files.h"
#include "tests/export/recording_ui.h"
#include "tests/export/test_docs.h"
#include "tests/support/ctl_writer.h"

namespace kp {
namespace {

namespace fs = std::filesystem;
using testing::Fault;
using testing::FaultyFiles;
using testing::FileOp;

const char kEarlier[] = "an earlier file at the output path";

ControlDocument SmallDocument() {
  ControlDocument doc = testing::PlainDocument(3);
  testing::AddRegisterEntry(&doc, u"A.KPE", u"データ");
  testing::AddComment(&doc.Pages[0], 1, 2, 3, u"コメント");
  testing::AddKeyWord(&doc.Pages[1], 1, 2, 3, 4, u"鍵", u"欄");
  testing::AddSquare(&doc.Pages[1], 1, 2, 3, 4, 5);
  testing::AddHyperLink(&doc.Pages[2], 1, 2, 3, 4, u"リンク", u"先");
  testing::AddEmbed(&doc.Pages[2], 0);
  return doc;
}

// "missing", "earlier", "valid:<rows>" (rows of the six tables) or "BAD: why".
std::string OutputState(const std::string& path) {
  if (!fs::exists(path)) return "missing";
  if (testing::ReadFile(path) == kEarlier) return "earlier";
  jet::CheckReport report;
  Status s = jet::CheckDatabase(path, {.strict = true}, &report);
  if (!s.ok()) return "BAD: " + s.ToString();
  if (!report.ok()) return "BAD: " + report.ToString();
  std::unique_ptr<jet::DatabaseReader> reader;
  if (!jet::DatabaseReader::Open(path, &reader).ok()) return "BAD: no reader";
  size_t rows = 0;
  for (const jet::CatalogEntry& e : reader->ListTables()) {
    jet::TableDef def;
    std::vector<jet::Row> r;
    if (!reader->ReadTableDefAt(e.tdef_page(), &def).ok() || !reader->ReadRows(def, &r).ok()) return "BAD: rows";
    rows += r.size();
  }
  return "valid:" + std::to_string(rows);
}

class DurableExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dbd = fs::path(KP_BUILD_DIR) / "KP.dbd";
    if (!fs::exists(dbd)) GTEST_SKIP() << "KP.dbd not built";
    root_ = testing::MakeTempFolder("kp-durable");
    bin_ = root_ + "/bin";
    out_dir_ = root_ + "/out";
    fs::create_directories(bin_);
    fs::create_directories(out_dir_);
    fs::copy_file(dbd, bin_ + "/KP.dbd");
    template_bytes_ = testing::ReadFile(bin_ + "/KP.dbd");
    output_ = out_dir_ + "/出力.mdb";
  }
  void TearDown() override {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }

  // One export with `files` in use, from an output folder holding only the
  // earlier file.
  ExportResult Export(FaultyFiles* files, testing::RecordingUi* ui) {
    std::error_code ec;
    fs::remove_all(out_dir_, ec);
    fs::create_directories(out_dir_);
    fs::remove(bin_ + "/WorkDB.tmp", ec);
    std::ofstream(output_, std::ios::binary) << kEarlier;
    ExportCommand command(bin_, [] { return jet::CreateJetEngine(); });
    ScopedFileSystem scoped(files);
    return command.Run(doc_, ui);
  }

  size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.is_regular_file() || e.is_directory();
    return n;
  }

  ControlDocument doc_ = SmallDocument();
  std::string root_, bin_, out_dir_, output_, template_bytes_;
};

// The load on a failing disk: every open and read of the control file failed
// in turn is "読込に失敗しました。", and the document loaded before stays.
TEST_F(DurableExportTest, EveryFailingReadOfTheLoadKeepsTheEarlierDocument) {
  const std::string ctl = testing::WriteDocumentFolder(root_ + "/doc", SmallDocument());
  FileSystemImageSizer sizer;
  FaultyFiles clean;
  {
    ScopedFileSystem scoped(&clean);
    ControlDocument doc;
    ASSERT_TRUE(LoadControlFile(ctl, &sizer, &doc).ok());
  }
  int faults = 0;
  for (FileOp op : {FileOp::kOpen, FileOp::kRead}) {
    ASSERT_GT(clean.count(op), 0) << testing::FileOpName(op);
    for (int n = 1; n <= clean.count(op); ++n) {
      SCOPED_TRACE(std::string(testing::FileOpName(op)) + " " + std::to_string(n));
      FaultyFiles files(Fault{op, n, EIO});
      ControlDocument earlier = testing::PlainDocument(1);
      LoadResult r;
      {
        ScopedFileSystem scoped(&files);
        r = LoadControlFile(ctl, &sizer, &earlier);
      }
      EXPECT_TRUE(files.fired());
      EXPECT_EQ(r.outcome, LoadOutcome::kFailure) << r.cause;
      EXPECT_EQ(std::u16string(r.message()), kLoadFailedMessage);
      EXPECT_EQ(earlier.Pages.size(), 1u);
      ++faults;
    }
  }
  std::cout << "load faults injected: " << faults << "\n";
}

TEST_F(DurableExportTest, EveryFailingOperationEndsWithAWholeOutput) {
  // A clean run: how many operations of each kind, and when the save is reported.
  FaultyFiles clean;
  struct SaveMarker : testing::RecordingUi {
    using RecordingUi::RecordingUi;
    FaultyFiles* files = nullptr;
    int ops_at_save = -1;
    void ShowMessage(const std::u16string& text) override {
      if (text == kSaveSucceededMessage) ops_at_save = files->total();
      RecordingUi::ShowMessage(text);
    }
  } clean_ui(output_);
  clean_ui.files = &clean;
  ASSERT_EQ(Export(&clean, &clean_ui).outcome, ExportOutcome::kSavedAndCompacted);
  const std::string full = OutputState(output_);
  ASSERT_EQ(full.rfind("valid:", 0), 0u) << full;
  ASSERT_GT(clean_ui.ops_at_save, 0);

  std::vector<Fault> faults;
  for (int op = 0; op < testing::kFileOpKinds; ++op) {
    for (int n = 1; n <= clean.count(FileOp(op)); ++n) {
      for (int error : {EIO, ENOSPC}) faults.push_back({FileOp(op), n, error, false});
      if (FileOp(op) == FileOp::kWrite) faults.push_back({FileOp(op), n, ENOSPC, true});
    }
  }
  for (const Fault& f : faults) {
    FaultyFiles files(f);
    testing::RecordingUi ui(output_);
    ExportResult r = Export(&files, &ui);
    const std::string label = std::string(testing::FileOpName(f.op)) + " #" + std::to_string(f.nth) +
                              (f.short_write ? " short" : f.error == EIO ? " EIO" : " ENOSPC");
    SCOPED_TRACE(label + ": " + r.cause.ToString());
    ASSERT_TRUE(files.fired());
    // When the fault came: before the save was reported, or after.
    int at = 0;
    for (int i = 0, seen = 0; i < files.total(); ++i) {
      if (files.sequence()[size_t(i)] == f.op && ++seen == f.nth) at = i;
    }
    const bool in_save = at < clean_ui.ops_at_save;
    const std::string state = OutputState(output_);
    EXPECT_EQ(state.rfind("BAD", 0), std::string::npos) << state;
    if (in_save && f.op != FileOp::kRemove) {
      EXPECT_EQ(r.outcome, ExportOutcome::kSaveFailed);
      EXPECT_EQ(ui.Messages(), std::vector<std::string>{testing::Utf8(kSaveFailedMessage)});
      EXPECT_TRUE(state == "earlier" || state == full) << state;
    } else {
      EXPECT_NE(r.outcome, ExportOutcome::kSaveFailed);
      EXPECT_EQ(state, full);  // the whole document, compacted or not
    }
    EXPECT_EQ(testing::ReadFile(bin_ + "/KP.dbd"), template_bytes_);
    EXPECT_EQ(FilesIn(out_dir_), 1u);  // no temporary file left beside the output
    EXPECT_FALSE(fs::exists(bin_ + "/WorkDB.tmp"));
  }
  std::cout << "faults injected: " << faults.size() << "\n";
}

// ctl2mdb with the size of every file it writes capped (a full disk), at each
// multiple of 4 KiB up to the output's size and a few sizes between.
TEST_F(DurableExportTest, CappedOutputIsNeverTorn) {
  const fs::path tool = fs::path(KP_BUILD_DIR) / "ctl2mdb";
  if (!fs::exists(tool)) GTEST_SKIP() << "ctl2mdb not built";
  fs::copy_file(tool, bin_ + "/ctl2mdb");
  testing::WriteDocumentFolder(root_ + "/doc", doc_);
  const std::string ctl_bytes = testing::ReadFile(root_ + "/doc/DEFAULT.CTL");

  auto run = [&](long cap, bool compact = true) {
    std::error_code ec;
    fs::remove(bin_ + "/WorkDB.tmp", ec);
    const std::string exe = bin_ + "/ctl2mdb", doc = root_ + "/doc", out = output_;
    const pid_t pid = fork();
    if (pid == 0) {
      if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) _exit(99);
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {rlim_t(cap), rlim_t(cap)};
      if (cap > 0) setrlimit(RLIMIT_FSIZE, &limit);
      execl(exe.c_str(), exe.c_str(), doc.c_str(), out.c_str(), compact ? (char*)nullptr : "--no-compact",
            (char*)nullptr);
      _exit(98);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
  };
  // The largest file written is the uncompacted database.
  ASSERT_EQ(run(0, /*compact=*/false), 0);
  const long full_size = long(fs::file_size(output_));
  ASSERT_EQ(run(0), 0);
  const std::string full = OutputState(output_);
  ASSERT_EQ(full.rfind("valid:", 0), 0u) << full;
  fs::remove(output_);
  const long largest = std::max<long>(full_size, long(template_bytes_.size())) + 8192;

  std::vector<long> caps;
  for (long c = 4096; c <= largest; c += 4096) caps.push_back(c);
  for (long c : {1L, 100L, 4095L, 4097L, 10000L, 65537L, largest - 1}) caps.push_back(c);
  for (long cap : caps) {
    std::ofstream(output_, std::ios::binary) << kEarlier;
    const int status = run(cap);
    const std::string state = OutputState(output_);
    SCOPED_TRACE("cap " + std::to_string(cap) + ": status " + std::to_string(status) + ", " + state);
    EXPECT_TRUE(status == 0 || status == 1 || status == 3);
    EXPECT_EQ(state, status == 1 ? std::string("earlier") : full);  // 1: the save failed
    EXPECT_EQ(testing::ReadFile(bin_ + "/KP.dbd"), template_bytes_);
    EXPECT_EQ(testing::ReadFile(root_ + "/doc/DEFAULT.CTL"), ctl_bytes);
    EXPECT_EQ(FilesIn(out_dir_), 1u);
  }
  std::cout << "caps tried: " << caps.size() << " (output " << full_size << " bytes)\n";
}

}  // namespace
}  // namespace kp
