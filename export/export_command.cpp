#include "export/export_command.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "export/row_mapping.h"
#include "base/durable_file.h"
#include "base/file_io.h"

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

// Picks a work file name beside `output` that no file has: the name is taken
// by an exclusive create and given up again just before the compaction makes
// the file, itself exclusively (so a file that appears meanwhile is never
// overwritten; the compaction fails instead).
Status ReserveWorkFileBeside(const std::string& output, std::string* work) {
  fs::path out(output);
  fs::path folder = out.has_parent_path() ? out.parent_path() : fs::path(".");
  std::string pattern = (folder / ("." + out.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  if (fd < 0) return Status::IOError("create a work file in " + folder.string() + ": " + std::strerror(errno));
  ::close(fd);
  ::unlink(pattern.c_str());
  *work = pattern;
  return Status::OK();
}

}  // namespace

ExportCommand::ExportCommand(std::string program_folder, EngineFactory factory)
    : program_folder_(std::move(program_folder)), factory_(std::move(factory)) {}

std::string ExportCommand::TemplatePath() const {
  fs::path beside = fs::path(program_folder_) / kTemplateFileName;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside.string();
  fs::path installed = fs::path(program_folder_) / kInstalledDataFolder / kTemplateFileName;
  return fs::exists(installed, ec) ? installed.lexically_normal().string() : beside.string();
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
  s = Compact(path, options.work_file);
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

Status ExportCommand::Compact(const std::string& output_path, WorkFilePlace place) {
  if (!engine_) return Status::NotSupported("no database engine");
  std::string work;
  const bool in_program_folder = place == WorkFilePlace::kProgramFolderIfWritable &&
                                 ::access(program_folder_.c_str(), W_OK) == 0;
  if (in_program_folder) {
    work = WorkPath();
  } else {
    KP_RETURN_IF_ERROR(ReserveWorkFileBeside(output_path, &work));
  }
  // Step 14. A WorkDB.tmp that is already there makes this fail and stays;
  // a unique work file of our own is removed.
  Status s = engine_->CompactDatabase(output_path, work)
                 .WithContext("compact " + output_path + " into " + work);
  if (!s.ok()) {
    if (!in_program_folder) RemoveQuietly(work);
    return s;
  }
  // Steps 16-17 as one rename.
  return ReplaceWithWorkFile(work, output_path);
}

}  // namespace kp
