#include "base/console.h"

#include <cstdarg>

#include "base/text_util.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace kp {

namespace {

#ifdef _WIN32
// The console behind `stream`, or nullptr when it is redirected.
HANDLE ConsoleOf(FILE* stream) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || !GetConsoleMode(h, &mode)) return nullptr;
  return h;
}
#endif

}  // namespace

void PrepareConsole() {
#ifdef _WIN32
  for (FILE* stream : {stdout, stderr}) {
    _setmode(_fileno(stream), _O_BINARY);
    // Lets the progress line redraw itself with the terminal's own sequences.
    if (HANDLE h = ConsoleOf(stream)) {
      DWORD mode = 0;
      GetConsoleMode(h, &mode);
      SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
#endif
}

void WriteText(FILE* stream, std::string_view utf8) {
#ifdef _WIN32
  if (HANDLE h = ConsoleOf(stream)) {
    std::fflush(stream);
    std::u16string wide = Utf8ToUtf16(utf8);
    const wchar_t* p = reinterpret_cast<const wchar_t*>(wide.data());
    size_t left = wide.size();
    while (left > 0) {
      DWORD chunk = DWORD(left < 16384 ? left : 16384), written = 0;
      if (!WriteConsoleW(h, p, chunk, &written, nullptr) || written == 0) return;
      p += written;
      left -= written;
    }
    return;
  }
#endif
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

void PrintText(FILE* stream, const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof(small), format, args);
  va_end(args);
  if (n < 0) return;
  if (size_t(n) < sizeof(small)) {
    WriteText(stream, std::string_view(small, size_t(n)));
    return;
  }
  std::string text(size_t(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  text.resize(size_t(n));
  WriteText(stream, text);
}

}  // namespace kp
