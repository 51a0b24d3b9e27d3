#include "tools/ctl2mdb/convert.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "base/system.h"
#include "base/text_util.h"
#include "ctl/load_command.h"
#include "export/export_command.h"
#include "tools/ctl2mdb/cli_common.h"

namespace kp::cli {

namespace {

// The export's user interface on a terminal: the save dialog answers with
// the output argument, messages are lines on stderr, and the progress window
// is one line on stderr that is rewritten in place (only when stderr is a
// terminal, at most every 100 ms and at the end of each table).
class CliExportUi : public ExportUi {
 public:
  explicit CliExportUi(std::string output) : output_(std::move(output)), tty_(StderrIsTerminal()) {}

  bool AskSavePath(const std::u16string&, std::string* path) override {
    *path = output_;
    return !output_.empty();
  }
  void ShowMessage(const std::u16string& text) override {
    ClearLine();
    std::fprintf(stderr, "%s\n", Utf16ToUtf8(text).c_str());
  }
  void ShowProgress() override { shown_ = true; }
  void HideProgress() override {
    ClearLine();
    shown_ = false;
  }
  void SetProgressCaption(const std::u16string& caption) override {
    // The idle caption comes with the putting back at the end: nothing to draw.
    caption_ = caption == kProgressIdleCaption ? std::string() : Utf16ToUtf8(caption);
    Draw(true);
  }
  void SetProgressMax(float max) override { max_ = max; }
  void SetProgressValue(float value) override {
    value_ = value;
    Draw(value_ >= max_);
  }
  void SetMainWindowEnabled(bool) override {}

 private:
  void Draw(bool force) {
    if (!tty_ || !shown_ || caption_.empty()) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    drawn_ = true;
    std::fprintf(stderr, "\r\033[K%s %.0f/%.0f", caption_.c_str(), double(value_), double(max_));
    std::fflush(stderr);
  }
  void ClearLine() {
    if (tty_ && drawn_) std::fprintf(stderr, "\r\033[K");
    drawn_ = false;
  }

  std::string output_;
  bool tty_;
  bool shown_ = false;
  bool drawn_ = false;
  std::string caption_;
  float max_ = 100;
  float value_ = 1;
  std::chrono::steady_clock::time_point last_;
};


}  // namespace

int RunConvert(const std::vector<std::string>& args) {
  std::string path, output;
  bool compact = true;
  for (const std::string& a : args) {
    if (a == "--no-compact") {
      compact = false;
    } else if (a.size() > 1 && a[0] == '-') {
      path.clear();
      output.clear();
      break;
    } else if (path.empty()) {
      path = a;
    } else if (output.empty()) {
      output = a;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty() || output.empty()) {
    return PrintUsage(stderr, kExitUsage);
  }

  auto loaded = std::make_unique<ControlDocument>();
  const ControlDocument& doc = *loaded;
  FileSystemImageSizer sizer;
  LoadResult load = LoadControlFile(ControlFilePath(path), &sizer, loaded.get());
  if (!load.ok()) {
    PrintFailure(load.message(), load.cause);
    return kExitFailure;
  }
  std::fprintf(stderr, "%s\n", Utf16ToUtf8(load.message()).c_str());

  CliExportUi ui(output);
  ExportOptions options;
  options.compact = compact;
  // Conversions may run side by side (a batch, two shells): each has its own
  // work file beside its output, never the shared WorkDB.tmp.
  options.work_file = WorkFilePlace::kBesideOutput;
  // A big document takes a while to free: that happens beside the
  // compaction, on a thread of its own.
  std::thread freeing;
  // With no thread to be had, the document goes with the refused task, here.
  options.document_done = [&] {
    try {
      freeing = std::thread([d = std::move(loaded)]() mutable { d.reset(); });
    } catch (const std::system_error&) {
    }
  };
  ExportResult r = DefaultExportCommand().Run(doc, &ui, options);
  if (freeing.joinable()) freeing.join();
  switch (r.outcome) {
    case ExportOutcome::kSavedAndCompacted:
    case ExportOutcome::kSaved:
      return kExitOk;
    case ExportOutcome::kSavedNotCompacted:
      std::fprintf(stderr, "%s\n", r.cause.ToString().c_str());
      return kExitNotCompacted;
    case ExportOutcome::kSaveFailed:
      break;
  }
  std::fprintf(stderr, "%s\n", r.cause.ToString().c_str());
  return kExitFailure;
}

}  // namespace kp::cli
