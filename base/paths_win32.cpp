#include <vector>

#include "base/text_util.h"
#include "base/win32.h"

namespace kp::win32 {

std::wstring LongPath(const Path& path) {
  const std::wstring& given = path.native();
  if (given.rfind(L"\\\\?\\", 0) == 0) return given;
  std::vector<wchar_t> full(std::max<size_t>(given.size() + 1, MAX_PATH));
  for (;;) {
    const DWORD n = ::GetFullPathNameW(given.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (n == 0) return given;  // the call that uses it reports the fault
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n + 1);
  }
  std::wstring absolute(full.begin(), full.end());
  if (absolute.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + absolute.substr(2);
  return L"\\\\?\\" + absolute;
}

std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string s;
  if (n > 0 && text != nullptr) s.assign(text, text + n);
  if (text != nullptr) ::LocalFree(text);
  while (!s.empty() && (s.back() == u'\n' || s.back() == u'\r' || s.back() == u' ' || s.back() == u'.')) s.pop_back();
  if (s.empty()) return "system error " + std::to_string(error);
  return Utf16ToUtf8(s);
}

Status ErrorStatus(const std::string& what, DWORD error) { return Status::IOError(what + ": " + ErrorText(error)); }

}  // namespace kp::win32
