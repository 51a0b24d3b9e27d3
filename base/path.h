// The one path type that crosses the layers: std::filesystem::path, whose
// native form is the operating system's own, bytes on Linux (a folder name in
// any bytes keeps working) and UTF-16 on Windows (any name Windows allows).
// A standard type rather than one of our own: it already holds both forms,
// joins and splits names on either system, and converts implicitly from the
// byte strings callers on Linux hold. Text for a user or a console comes out
// through PathToUtf8; text typed in (UTF-8) goes in through PathFromUtf8, never
// through the narrow constructor, which on Windows assumes the ANSI code page.
#pragma once

#include <filesystem>

namespace kp {

using Path = std::filesystem::path;

}  // namespace kp
