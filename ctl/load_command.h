// The load command without its window: the name check, reading the file into
// a fresh document, replacing the program-wide document on success, and the
// messages. The page-list and total texts are in inspect/page_list.h.
#pragma once

#include <string>

#include "ctl/control_reader.h"
#include "model/control_document.h"

namespace kp {

// Messages of the load, shown exactly as they stand.
inline const char16_t kLoadSucceededMessage[] = u"読込に成功しました。";
inline const char16_t kWrongNameMessage[] = u"DEFAULT.CTLﾌｧｲﾙのみ受付けます。";
inline const char16_t kWrongMagicMessage[] = u"開始コードが異なるのでKPファイルではない可能性があります。";
inline const char16_t kLoadFailedMessage[] = u"読込に失敗しました。";

enum class LoadOutcome { kSuccess, kWrongName, kWrongMagic, kFailure };

struct LoadResult {
  LoadOutcome outcome = LoadOutcome::kFailure;
  std::string cause;  // for logs and the command line; empty on success
  bool ok() const { return outcome == LoadOutcome::kSuccess; }
  // The message box text for this outcome.
  const char16_t* message() const;
};

// True when the last 11 characters of `path` are exactly "DEFAULT.CTL".
bool HasControlFileName(const std::u16string& path);
bool HasControlFileName(const std::string& path);
// The path less its last 12 characters (the separator and "DEFAULT.CTL").
std::u16string SourceFolderOf(const std::u16string& path);
std::string SourceFolderOf(const std::string& path);

// Checks the name, reads the file into a fresh document and, only when every
// step succeeded, stores it in `*target`. Nothing changes on failure.
// `path` is the file's name as PathFromUtf8 takes it: on Linux the bytes the
// system gives (a folder may be named in code page 932 or hold a `\`), which
// reach the system unchanged, only the texts shown being converted; on
// Windows UTF-8 text.
LoadResult LoadControlFile(const std::string& path, ImageSizer* sizer, ControlDocument* target);
// The same for a path that is a text (on Windows the system's own UTF-16,
// unchanged; on Linux encoded in UTF-8).
LoadResult LoadControlFile(const std::u16string& path, ImageSizer* sizer, ControlDocument* target);
// The same with the file system and the program-wide document (Module1).
LoadResult LoadControlFile(const std::string& path);

}  // namespace kp
