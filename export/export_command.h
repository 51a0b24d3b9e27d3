// The export command: writes the loaded document into a copy of the template
// database and compacts it, driving a small user-interface seam (ExportUi) so
// that the window, the command line and the tests run the same steps.
//
// Steps (failure path A guards 3-12, failure path B guards 14-17):
//    1  the save dialog gets no proposed name and the filter "MDBファイル|*.MDB"
//    3  ask for the output path (a cancel is a save failure)
//    4  copy the template KP.dbd (the one beside the program, else
//       <program folder>/../share/zirirav-convert/ of an installed program)
//       to a new file beside the output; steps 6-11 write that file, synced
//       once at the close, and only then is it renamed over the output (the
//       folder synced). The output is thus at every moment nothing, the
//       earlier file or a whole database.
//    5  create the database engine once; it is kept for every later export
//    6  open the output as a database
//  7-9  show the progress window, disable the main window, bar Max = PageCount
//   10  per table: Value 1, caption, rows page by page (Value = pages done)
//   11  close the database
//   12  bar Max 100, Value 1, caption "変換状況", hide, enable the main window,
//       "保存に成功しました。"
//   14  compact the output into the work file: <program folder>/WorkDB.tmp
//       when that folder is writable (so one left there makes the compaction
//       fail); otherwise, or when asked for, a new file of a unique name
//       beside the output (same file system: the rename below stays atomic),
//       which is removed on every path
// 16-17 the work file replaces the output in ONE rename, so no failure here
//       can lose the output: when the rename fails (also after a copy across
//       file systems), the uncompacted output stays, the work file is removed
//       and the compaction failure is reported
//   18  "最適化に成功しました。"
// Failure path A: bar and caption put back, window hidden, main window
// enabled, "保存に失敗しました。". A refused row leaves the output holding the
// rows committed before it; a failed copy, read, write or sync leaves the
// earlier file (or nothing) and removes the new one.
// Failure path B: "最適化に失敗しました。（容量が多くなることがあります。）"; a work
// file that was already there before the compaction is left alone.
//
// The document is only read. One thread (the user-interface thread) runs it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/path.h"
#include "base/status.h"
#include "jet/jet.h"
#include "model/control_document.h"

namespace kp {

class WorkFileClaim;

inline constexpr char16_t kSaveSucceededMessage[] = u"保存に成功しました。";
inline constexpr char16_t kSaveFailedMessage[] = u"保存に失敗しました。";
inline constexpr char16_t kCompactSucceededMessage[] = u"最適化に成功しました。";
inline constexpr char16_t kCompactFailedMessage[] =
    u"最適化に失敗しました。（容量が多くなることがあります。）";
inline constexpr char16_t kProgressIdleCaption[] = u"変換状況";
inline constexpr char16_t kSaveDialogFilter[] = u"MDBファイル|*.MDB";
inline constexpr char kTemplateFileName[] = "KP.dbd";
inline constexpr char kWorkFileName[] = "WorkDB.tmp";

// What the export needs of the windows. Every call returns at once except
// AskSavePath and ShowMessage, which wait for the user.
class ExportUi {
 public:
  virtual ~ExportUi() = default;
  // The save dialog with no proposed name and `filter` ("name|pattern").
  // Returns false when the user cancels; *path is the chosen file otherwise.
  virtual bool AskSavePath(const std::u16string& filter, std::string* path) = 0;
  // A modal message box (OK only, no icon, title "ZIriRAV Convert").
  virtual void ShowMessage(const std::u16string& text) = 0;
  // The progress window: shown modeless (created on first use), hidden and
  // kept. Max and Value are those of its bar, whose minimum is 1.
  virtual void ShowProgress() = 0;
  virtual void HideProgress() = 0;
  virtual void SetProgressCaption(const std::u16string& caption) = 0;
  virtual void SetProgressMax(float max) = 0;
  virtual void SetProgressValue(float value) = 0;
  // False refuses user input to the main window until it is set true again.
  virtual void SetMainWindowEnabled(bool enabled) = 0;
};

enum class ExportOutcome {
  kSaveFailed,          // failure path A: "保存に失敗しました。"
  kSaved,               // saved; compaction not asked for
  kSavedNotCompacted,   // saved, then failure path B: the output is uncompacted
  kSavedAndCompacted,   // both success messages
};

struct ExportResult {
  ExportOutcome outcome = ExportOutcome::kSaveFailed;
  Status cause;             // why the save or the compaction failed; OK otherwise
  std::string output_path;  // empty when the dialog was cancelled
};

enum class WorkFilePlace {
  kProgramFolderIfWritable,  // WorkDB.tmp in the program's folder, else beside the output
  kBesideOutput,             // always a unique work file beside the output
};

struct ExportOptions {
  bool compact = true;  // run steps 14-18
  WorkFilePlace work_file = WorkFilePlace::kProgramFolderIfWritable;
  // Called once the document is read for the last time (before the
  // compaction): a caller done with it may let it go then.
  std::function<void()> document_done;
};

// Where an installed program finds its template, relative to its folder.
inline constexpr char kInstalledDataFolder[] = "../share/zirirav-convert";

using EngineFactory = std::function<std::unique_ptr<jet::DBEngine>()>;

class ExportCommand {
 public:
  // `program_folder` holds KP.dbd and receives WorkDB.tmp. `factory` makes
  // the engine on the first export.
  ExportCommand(std::string program_folder, EngineFactory factory);

  ExportCommand(const ExportCommand&) = delete;
  ExportCommand& operator=(const ExportCommand&) = delete;

  ExportResult Run(const ControlDocument& doc, ExportUi* ui,
                   const ExportOptions& options = ExportOptions());

  // Run on the copy of the template before the first row (template_check.h);
  // a failure is a save failure that writes nothing.
  void set_template_check(std::function<Status(const std::string& path)> check) {
    template_check_ = std::move(check);
  }

  // KP.dbd beside the program when it is there, else the installed one.
  std::string TemplatePath() const;
  // WorkDB.tmp in the program's folder.
  std::string WorkPath() const;
  // The engine, once the first export has made it.
  jet::DBEngine* engine() const { return engine_.get(); }

 private:
  Status Save(const ControlDocument& doc, ExportUi* ui, const Path& output_path,
              std::unique_ptr<WorkFileClaim>* claim);
  // Steps 5-11 on the database file `path`; *whole says whether it was
  // closed complete and synced.
  Status WriteDocument(const ControlDocument& doc, ExportUi* ui, const std::string& path, bool* whole);
  Status Compact(const Path& output_path, WorkFilePlace place, const WorkFileClaim& claim);

  std::string program_folder_;
  EngineFactory factory_;
  std::function<Status(const std::string&)> template_check_;
  std::unique_ptr<jet::DBEngine> engine_;
};

// The folder that holds the running executable, or "." when the system does
// not say (as UTF-8 on Windows).
std::string ProgramFolder();

// The command as the window and the command line run it (export_default.cpp):
// the program's folder, this project's Jet engine, one command kept for the
// program's life so that its engine is made once.
ExportCommand& DefaultExportCommand();

}  // namespace kp
