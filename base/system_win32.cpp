#include <cstdio>
#include <vector>

#include "base/system.h"
#include "base/win32.h"

#include <shellapi.h>

namespace kp {

namespace {

// One argument quoted as the C runtime's parser (and CommandLineToArgvW)
// takes it back: in quotes, a quote escaped, the backslashes before a quote
// or the closing quote doubled.
void AppendQuoted(const std::wstring& arg, std::wstring* line) {
  if (!line->empty()) line->push_back(L' ');
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line->append(arg);
    return;
  }
  line->push_back(L'"');
  for (size_t i = 0;; ++i) {
    size_t backslashes = 0;
    while (i < arg.size() && arg[i] == L'\\') {
      ++i;
      ++backslashes;
    }
    if (i == arg.size()) {
      line->append(backslashes * 2, L'\\');
      break;
    }
    if (arg[i] == L'"') {
      line->append(backslashes * 2 + 1, L'\\');
    } else {
      line->append(backslashes, L'\\');
    }
    line->push_back(arg[i]);
  }
  line->push_back(L'"');
}

}  // namespace

Path ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return Path();
    if (n < buffer.size()) return Path(std::wstring(buffer.data(), n));
    if (buffer.size() >= 32768) return Path();
    buffer.resize(buffer.size() * 2);
  }
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(PathToUtf8(Path(wide[i])));
  ::LocalFree(wide);
  return args;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

bool IsWritableFolder(const Path& folder) {
  // The access rights are the file system's to judge: a file made and gone.
  for (unsigned n = ::GetCurrentProcessId(), tries = 0; tries < 16; ++n, ++tries) {
    const Path probe = folder / (L".kp-write-test-" + std::to_wstring(n));
    const HANDLE h = ::CreateFileW(win32::LongPath(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

Status RunProcess(const Path& program, const std::vector<Path>& args, size_t keep, ProcessOutcome* outcome) {
  *outcome = ProcessOutcome();
  std::wstring line;
  AppendQuoted(program.native(), &line);
  for (const Path& a : args) AppendQuoted(a.native(), &line);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) return win32::ErrorStatus("pipe", ::GetLastError());
  win32::Handle reader(read_end), writer(write_end);
  ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
  win32::Handle null_in(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                      OPEN_EXISTING, 0, nullptr));
  win32::Handle null_out(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       OPEN_EXISTING, 0, nullptr));
  // Only these three handles are inherited, not every inheritable one of
  // the batch's other threads.
  HANDLE handles[3] = {null_in.get(), null_out.get(), writer.get()};
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<char> attributes_memory(size);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes_memory.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size) ||
      !::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof(handles),
                                   nullptr, nullptr)) {
    return win32::ErrorStatus("cannot start " + PathToUtf8(program), ::GetLastError());
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = null_in.get();
  startup.StartupInfo.hStdOutput = null_out.get();
  startup.StartupInfo.hStdError = writer.get();
  startup.lpAttributeList = attributes;
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(program.native().c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                                        &startup.StartupInfo, &info);
  const DWORD start_error = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  writer.Reset();  // the child's copy is the only writer left: the pipe ends with it
  if (!started) return win32::ErrorStatus("cannot start " + PathToUtf8(program), start_error);
  win32::Handle process(info.hProcess), thread(info.hThread);

  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(reader.get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
    if (outcome->errors.size() < keep) outcome->errors.append(buffer, got);  // the start only
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  // An exit code of the NTSTATUS error kind (0xC...) is an exception that
  // ended the process, as a signal does on Linux.
  if ((code & 0xF0000000u) == 0xC0000000u) {
    char text[32];
    std::snprintf(text, sizeof(text), "exception 0x%08lX", static_cast<unsigned long>(code));
    outcome->ended_by = text;
  } else {
    outcome->exited = true;
    outcome->exit_code = int(code);
  }
  return Status::OK();
}

}  // namespace kp
