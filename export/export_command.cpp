#include "export/export_command.h"

#include <filesystem>
#include <utility>

#include "base/durable_file.h"
#include "base/file_io.h"
#include "base/path.h"
#include "base/system.h"
#include "base/work_files.h"
#include "export/row_mapping.h"

namespace kp {

namespace fs = std::filesystem;

namespace {

// Puts the complete file `work` in the place of `output` with one rename, so
// the output is at every moment either the old file or the new one. When the
// rename fails (another file system), the work file is first copied beside
// the output, as the claim's `copy`. `work` is gone afterwards, whatever the
// outcome.
Status ReplaceWithWorkFile(const Path& work, const Path& output, const WorkFileClaim& claim) {
  Status s = ReplaceDurably(work, output);
  if (!s.ok() && Files()->Exists(work)) {
    const Path copy = claim.WorkPath(".copy");
    Status copied = CopyToNewFile(work, copy);
    if (copied.ok()) copied = ReplaceDurably(copy, output);
    if (!copied.ok()) RemoveQuietly(copy);
    if (copied.ok()) s = Status::OK();
  }
  RemoveQuietly(work);
  return s;
}

}  // namespace

ExportCommand::ExportCommand(std::string program_folder, EngineFactory factory)
    : program_folder_(std::move(program_folder)), factory_(std::move(factory)) {}

std::string ExportCommand::TemplatePath() const {
  const fs::path folder = PathFromUtf8(program_folder_);
  fs::path beside = folder / kTemplateFileName;
  std::error_code ec;
  if (fs::exists(beside, ec)) return PathToUtf8(beside);
  fs::path installed = folder / kInstalledDataFolder / kTemplateFileName;
  return PathToUtf8(fs::exists(installed, ec) ? installed.lexically_normal() : beside);
}

std::string ExportCommand::WorkPath() const {
  return PathToUtf8(PathFromUtf8(program_folder_) / kWorkFileName);
}

ExportResult ExportCommand::Run(const ControlDocument& doc, ExportUi* ui,
                                const ExportOptions& options) {
  ExportResult result;
  Status s;
  std::string path;
  // Held from the copy of the template to the end of the compaction: the
  // work files beside the output are named after it.
  std::unique_ptr<WorkFileClaim> claim;
  // Steps 1-3.
  if (!ui->AskSavePath(kSaveDialogFilter, &path) || path.empty()) {
    s = Status::InvalidArgument("no output file chosen");
  } else {
    result.output_path = path;
    s = Save(doc, ui, PathFromUtf8(path), &claim);  // steps 4-11
  }
  if (options.document_done) options.document_done();

  // Step 12, or failure path A: the same putting back, then the message.
  ui->SetProgressMax(100);
  ui->SetProgressValue(1);
  ui->SetProgressCaption(kProgressIdleCaption);
  ui->HideProgress();
  ui->SetMainWindowEnabled(true);
  if (!s.ok()) {
    ui->ShowMessage(kSaveFailedMessage);
    result.cause = s;
    return result;
  }
  ui->ShowMessage(kSaveSucceededMessage);
  if (!options.compact) {
    result.outcome = ExportOutcome::kSaved;
    return result;
  }

  // Steps 14-18, failure path B.
  s = Compact(PathFromUtf8(path), options.work_file, *claim);
  if (!s.ok()) {
    ui->ShowMessage(kCompactFailedMessage);
    result.outcome = ExportOutcome::kSavedNotCompacted;
    result.cause = s;
    return result;
  }
  ui->ShowMessage(kCompactSucceededMessage);
  result.outcome = ExportOutcome::kSavedAndCompacted;
  return result;
}

Status ExportCommand::Save(const ControlDocument& doc, ExportUi* ui, const Path& output_path,
                           std::unique_ptr<WorkFileClaim>* claim) {
  // Step 4. The template is copied beside the output and written there; the
  // output changes only when the finished file is renamed over it. Work
  // files that earlier conversions of this output left go first.
  RemoveStaleWorkFiles(output_path);
  KP_RETURN_IF_ERROR(WorkFileClaim::Take(output_path, claim));
  const Path temp = (*claim)->WorkPath(".db");
  const std::string template_path = TemplatePath();
  KP_RETURN_IF_ERROR(CopyToNewFile(PathFromUtf8(template_path), temp, SyncMode::kNoSync)
                         .WithContext("copy " + template_path + " to " + PathToUtf8(temp)));
  bool whole = false;
  Status s = WriteDocument(doc, ui, PathToUtf8(temp), &whole);
  // A database closed without a fault takes the output's place, also after
  // a row the table refused (it then holds the rows committed before).
  if (whole) {
    Status replaced = ReplaceDurably(temp, output_path).WithContext("save " + PathToUtf8(output_path));
    if (s.ok()) s = replaced;
  }
  RemoveQuietly(temp);
  return s;
}

Status ExportCommand::WriteDocument(const ControlDocument& doc, ExportUi* ui, const std::string& path,
                                    bool* whole) {
  if (template_check_) KP_RETURN_IF_ERROR(template_check_(path));
  // Steps 5-6.
  if (!engine_ && factory_) engine_ = factory_();
  if (!engine_) return Status::NotSupported("no database engine");
  std::unique_ptr<jet::Database> db;
  KP_RETURN_IF_ERROR(engine_->OpenDatabase(path, &db).WithContext("open " + path));
  if (!db) return Status::IOError("open " + path + ": no database");

  // Steps 7-9.
  ui->ShowProgress();
  ui->SetMainWindowEnabled(false);
  ui->SetProgressMax(float(doc.PageCount));

  // Step 10. On a failure the rows committed so far are kept.
  Status s;
  for (int t = 0; t < kOutputTableCount && s.ok(); ++t) {
    const OutputTable& table = OutputTableAt(t);
    ui->SetProgressValue(1);
    ui->SetProgressCaption(table.caption);
    s = WriteTable(doc, t, *db, [ui](int32_t pages_done) { ui->SetProgressValue(float(pages_done)); });
  }

  // Step 11: written out and synced once. After a failed read or write the
  // file is not trusted, whatever the close says.
  Status closed = db->Close().WithContext("close " + path);
  db.reset();
  *whole = closed.ok() && !s.IsIOError();
  return s.ok() ? closed : s;
}

Status ExportCommand::Compact(const Path& output_path, WorkFilePlace place, const WorkFileClaim& claim) {
  if (!engine_) return Status::NotSupported("no database engine");
  const bool in_program_folder =
      place == WorkFilePlace::kProgramFolderIfWritable && IsWritableFolder(PathFromUtf8(program_folder_));
  // Beside the output (same file system: the rename below stays atomic),
  // named after the claim; the compaction makes it new.
  const Path work = in_program_folder ? PathFromUtf8(WorkPath()) : claim.WorkPath(".compact");
  // Step 14. A WorkDB.tmp that is already there makes this fail and stays;
  // a work file of the claim is removed.
  Status s = engine_->CompactDatabase(PathToUtf8(output_path), PathToUtf8(work))
                 .WithContext("compact " + PathToUtf8(output_path) + " into " + PathToUtf8(work));
  if (!s.ok()) {
    if (!in_program_folder) RemoveQuietly(work);
    return s;
  }
  // Steps 16-17 as one rename.
  return ReplaceWithWorkFile(work, output_path, claim);
}

}  // namespace kp
