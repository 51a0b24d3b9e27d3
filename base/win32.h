// What the Windows implementations in base/ share (only base/*_win32.cpp
// include this).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "base/path.h"
#include "base/status.h"

namespace kp::win32 {

// `path` as the wide API takes it at any length: made absolute and given the
// \\?\ prefix (\\?\UNC\ for a share), so that names past 260 characters work
// without the program's manifest.
std::wstring LongPath(const Path& path);

// The system's text for `error` (GetLastError()), in UTF-8, without its
// line break.
std::string ErrorText(DWORD error);
// An IOError "<what>: <the system's text>".
Status ErrorStatus(const std::string& what, DWORD error);

// Closes a handle when it goes.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& o) noexcept : h_(o.h_) { o.h_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = o.h_;
      o.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  // Gives the handle up without closing it.
  HANDLE Release() {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  void Reset() {
    if (valid()) ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace kp::win32
