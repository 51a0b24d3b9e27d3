#include "export/export_command.h"

#include <filesystem>
#include <utility>

#include "export/row_mapping.h"
#include "model/durable_file.h"
#include "model/file_io.h"

namespace kp {

namespace fs = std::filesystem;

namespace {

// Puts the complete file `work` in the place of `output` with one rename, so
// the output is at every moment either the old file or the new one. When the
// rename fails (another file system), the work file is first copied beside
// the output. `work` is gone afterwards, whatever the outcome.
Status ReplaceWithWorkFile(const std::string& work, const std::string& output) {
  Status s = ReplaceFile(work, output);
  if (!s.ok() && Files()->Exists(work)) {
    std::string temp;
    Status copied = TempPathBeside(output, &temp);
    if (copied.ok()) copied = CopyToNewFile(work, temp);
    if (copied.ok()) copied = ReplaceFile(temp, output);
    if (!temp.empty() && !copied.ok()) RemoveQuietly(temp);
    if (copied.ok()) s = Status::OK();
  }
  RemoveQuietly(work);
  return s;
}

}  // namespace

ExportCommand::ExportCommand(std::string program_folder, EngineFactory factory)
    : program_folder_(std::move(program_folder)), factory_(std::move(factory)) {}

std::string ExportCommand::TemplatePath() const {
  return (fs::path(program_folder_) / kTemplateFileName).string();
}

std::string ExportCommand::WorkPath() const {
  return (fs::path(program_folder_) / kWorkFileName).string();
}

ExportResult ExportCommand::Run(const ControlDocument& doc, ExportUi* ui,
                                const ExportOptions& options) {
  ExportResult result;
  Status s;
  std::string path;
  // Steps 1-3.
  if (!ui->AskSavePath(kSaveDialogFilter, &path) || path.empty()) {
    s = Status::InvalidArgument("no output file chosen");
  } else {
    result.output_path = path;
    s = Save(doc, ui, path);  // steps 4-11
  }

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
  s = Compact(path);
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

Status ExportCommand::Save(const ControlDocument& doc, ExportUi* ui,
                           const std::string& output_path) {
  // Step 4. The template is copied beside the output and written there; the
  // output changes only when the finished file is renamed over it.
  std::string temp;
  KP_RETURN_IF_ERROR(TempPathBeside(output_path, &temp));
  KP_RETURN_IF_ERROR(CopyToNewFile(TemplatePath(), temp, SyncMode::kNoSync)
                         .WithContext("copy " + TemplatePath() + " to " + temp));
  bool whole = false;
  Status s = WriteDocument(doc, ui, temp, &whole);
  // A database closed without a fault takes the output's place, also after
  // a row the table refused (it then holds the rows committed before).
  if (whole) {
    Status replaced = ReplaceFile(temp, output_path).WithContext("save " + output_path);
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

Status ExportCommand::Compact(const std::string& output_path) {
  if (!engine_) return Status::NotSupported("no database engine");
  std::string work = WorkPath();
  // Step 14. A work file that is already there makes this fail and stays.
  KP_RETURN_IF_ERROR(engine_->CompactDatabase(output_path, work)
                         .WithContext("compact " + output_path + " into " + work));
  // Steps 16-17 as one rename.
  return ReplaceWithWorkFile(work, output_path);
}

}  // namespace kp
