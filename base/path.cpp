#include "base/path.h"

#include "base/text_util.h"
#ifdef _WIN32
#include "base/win32.h"
#endif

namespace kp {

#ifdef _WIN32

Path PathFromUtf8(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return Path(std::wstring(wide.begin(), wide.end()));
}

Path LongPathSafe(const Path& path) { return Path(win32::LongPath(path)); }

std::string PathToUtf8(const Path& path) {
  const std::wstring& wide = path.native();
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

#else

Path PathFromUtf8(std::string_view utf8) { return Path(std::string(utf8)); }

std::string PathToUtf8(const Path& path) { return path.native(); }

Path LongPathSafe(const Path& path) { return path; }

#endif

Path FolderOf(const Path& path) {
  using String = Path::string_type;
  const String& s = path.native();
#ifdef _WIN32
  const size_t slash = s.find_last_of(L"\\/");
#else
  const size_t slash = s.rfind('/');
#endif
  if (slash == String::npos) return Path(".");
  if (slash == 0) return Path(s.substr(0, 1));
  return Path(s.substr(0, slash));
}

}  // namespace kp
