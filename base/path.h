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
#include <string>
#include <string_view>

namespace kp {

using Path = std::filesystem::path;

// UTF-8 text as a path: on Linux its bytes as they are, on Windows the
// UTF-16 they encode.
Path PathFromUtf8(std::string_view utf8);
// A path as UTF-8 text: on Linux its bytes as they are (a name in another
// encoding comes out unchanged), on Windows its UTF-16 converted.
std::string PathToUtf8(const Path& path);

// `path` as the standard library's file functions take it at any length:
// itself on Linux; on Windows absolute, with the \\?\ prefix.
Path LongPathSafe(const Path& path);

// The folder part of `path` (up to its last separator), "." when it has none.
Path FolderOf(const Path& path);

}  // namespace kp
