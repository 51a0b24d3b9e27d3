#include "export/export_command.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "export/row_mapping.h"

namespace kp {

namespace fs = std::filesystem;

namespace {

Status IOErrorFrom(const std::string& what, const std::error_code& ec) {
  return Status::IOError(what + ": " + ec.message());
}

Status Errno(const std::string& what) {
  return Status::IOError(what + ": " + std::strerror(errno));
}

// Copies `from` into a new file beside `to` (created exclusively, so nothing
// of the user's is overwritten), flushed to disk; *temp names it.
Status CopyToNewSibling(const std::string& from, const std::string& to, std::string* temp) {
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Errno("open " + from);
  int out = -1;
  for (int n = 0; n < 100 && out < 0; ++n) {
    *temp = to + ".~kp" + std::to_string(n);
    out = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0 && errno != EEXIST) break;
  }
  if (out < 0) {
    Status s = Errno("create " + *temp);
    ::close(in);
    temp->clear();
    return s;
  }
  Status s;
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(in, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) { s = Errno("read " + from); break; }
    if (got == 0) break;
    for (ssize_t done = 0; done < got && s.ok();) {
      ssize_t put = ::write(out, buffer + done, size_t(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) s = Errno("write " + *temp);
      else done += put;
    }
    if (!s.ok()) break;
  }
  if (s.ok() && ::fsync(out) != 0) s = Errno("fsync " + *temp);
  if (::close(out) != 0 && s.ok()) s = Errno("close " + *temp);
  ::close(in);
  return s;
}

// Puts `work` in the place of `output` with one rename, so the output is at
// every moment either the old file or the new one. Across file systems the
// work file is first copied beside the output. `work` is gone afterwards,
// whatever the outcome.
Status ReplaceWithWorkFile(const std::string& work, const std::string& output) {
  std::error_code ec;
  fs::rename(work, output, ec);
  if (!ec) return Status::OK();
  Status s;
  if (ec == std::errc::cross_device_link) {
    std::string temp;
    s = CopyToNewSibling(work, output, &temp);
    if (s.ok()) {
      fs::rename(temp, output, ec);
      if (ec) s = IOErrorFrom("rename " + temp + " to " + output, ec);
    }
    std::error_code ignored;
    if (!s.ok() && !temp.empty()) fs::remove(temp, ignored);
  } else {
    s = IOErrorFrom("rename " + work + " to " + output, ec);
  }
  std::error_code ignored;
  fs::remove(work, ignored);
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
  if (fd < 0) return Errno("create a work file in " + folder.string());
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
  // Step 4.
  std::error_code ec;
  fs::copy_file(TemplatePath(), output_path, fs::copy_options::overwrite_existing, ec);
  if (ec) return IOErrorFrom("copy " + TemplatePath() + " to " + output_path, ec);

  // Steps 5-6.
  if (!engine_ && factory_) engine_ = factory_();
  if (!engine_) return Status::NotSupported("no database engine");
  std::unique_ptr<jet::Database> db;
  KP_RETURN_IF_ERROR(engine_->OpenDatabase(output_path, &db).WithContext("open " + output_path));
  if (!db) return Status::IOError("open " + output_path + ": no database");

  // Steps 7-9.
  ui->ShowProgress();
  ui->SetMainWindowEnabled(false);
  ui->SetProgressMax(float(doc.PageCount));

  // Step 10. On a failure `db` is released unclosed, which keeps the rows
  // committed so far.
  for (int t = 0; t < kOutputTableCount; ++t) {
    const OutputTable& table = OutputTableAt(t);
    ui->SetProgressValue(1);
    ui->SetProgressCaption(table.caption);
    KP_RETURN_IF_ERROR(WriteTable(doc, t, *db, [ui](int32_t pages_done) {
      ui->SetProgressValue(float(pages_done));
    }));
  }

  // Step 11.
  Status s = db->Close().WithContext("close " + output_path);
  db.reset();
  return s;
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
    std::error_code ignored;
    if (!in_program_folder) fs::remove(work, ignored);
    return s;
  }
  // Steps 16-17 as one rename.
  return ReplaceWithWorkFile(work, output_path);
}

}  // namespace kp
