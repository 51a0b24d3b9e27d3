#include "ctl/load_command.h"

#include <utility>

#include "base/path.h"
#include "base/text_util.h"

namespace kp {

namespace {
const std::u16string kControlFileName = u"DEFAULT.CTL";

}  // namespace

const char16_t* LoadResult::message() const {
  switch (outcome) {
    case LoadOutcome::kSuccess: return kLoadSucceededMessage;
    case LoadOutcome::kWrongName: return kWrongNameMessage;
    case LoadOutcome::kWrongMagic: return kWrongMagicMessage;
    case LoadOutcome::kFailure: break;
  }
  return kLoadFailedMessage;
}

bool HasControlFileName(const std::u16string& path) {
  return path.size() >= kControlFileName.size() &&
         path.compare(path.size() - kControlFileName.size(), kControlFileName.size(), kControlFileName) == 0;
}

bool HasControlFileName(const std::string& path) {
  return path.size() >= 11 && path.compare(path.size() - 11, 11, "DEFAULT.CTL") == 0;
}

std::u16string SourceFolderOf(const std::u16string& path) {
  return path.size() >= 12 ? path.substr(0, path.size() - 12) : std::u16string();
}

std::string SourceFolderOf(const std::string& path) {
  return path.size() >= 12 ? path.substr(0, path.size() - 12) : std::string();
}

namespace {

// The load of `path`, whose text is `shown` (UTF-8, for the causes).
LoadResult Load(const Path& path, const std::string& shown, ImageSizer* sizer, ControlDocument* target) {
  LoadResult result;
  const Path::string_type& native = path.native();
  if (!HasControlFileName(shown)) {
    result.outcome = LoadOutcome::kWrongName;
    result.cause = "the file name is not DEFAULT.CTL: " + shown;
    return result;
  }
  if (native.size() <= kControlFileName.size()) {
    // "DEFAULT.CTL" alone has no folder to take 12 characters from.
    result.outcome = LoadOutcome::kFailure;
    result.cause = "no folder before DEFAULT.CTL in the path";
    return result;
  }
  ControlDocument fresh;
  const Path folder(native.size() >= 12 ? native.substr(0, native.size() - 12) : Path::string_type());
  ControlReadResult read = ReadControlFile(path, folder, sizer, &fresh);
  switch (read.kind) {
    case ControlReadResult::Kind::kOk:
      *target = std::move(fresh);
      result.outcome = LoadOutcome::kSuccess;
      break;
    case ControlReadResult::Kind::kWrongMagic:
      result.outcome = LoadOutcome::kWrongMagic;
      result.cause = read.cause;
      break;
    case ControlReadResult::Kind::kReadFailure:
      result.outcome = LoadOutcome::kFailure;
      result.cause = read.cause;
      break;
  }
  return result;
}

}  // namespace

LoadResult LoadControlFile(const std::u16string& path, ImageSizer* sizer, ControlDocument* target) {
#ifdef _WIN32
  return Load(Path(std::wstring(path.begin(), path.end())), Utf16ToUtf8(path), sizer, target);
#else
  return LoadControlFile(Utf16ToUtf8(path), sizer, target);
#endif
}

LoadResult LoadControlFile(const std::string& path, ImageSizer* sizer, ControlDocument* target) {
  return Load(PathFromUtf8(path), path, sizer, target);
}

LoadResult LoadControlFile(const std::string& path) {
  FileSystemImageSizer sizer;
  return LoadControlFile(path, &sizer, &Module1::Document());
}

}  // namespace kp
