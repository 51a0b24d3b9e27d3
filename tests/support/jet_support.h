// Helpers of the Jet-level tests: reference files and the skip without them,
// whole files and their pages and rows, small table definitions, and the byte
// masks for comparisons with engine-written files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/path.h"
#include "base/text_util.h"
#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/tdef_write.h"
#include "tests/support/oracle.h"

// Skips the test when the Access-made reference files are not there.
#define KP_SKIP_WITHOUT_REFERENCE() \
  if (!std::filesystem::exists(KP_REFERENCE_DIR)) GTEST_SKIP() << "no reference files at " KP_REFERENCE_DIR

namespace kp::jet::testing {

inline std::string Utf8(const std::u16string& s) { return kp::Utf16ToUtf8(s); }

inline Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(kp::PathFromUtf8(path), std::ios::binary);
  if (!in) return {};
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(kp::PathFromUtf8(path), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string ReferencePath(const std::string& name) {
  return std::string(KP_REFERENCE_DIR) + "/" + name;
}

// The Access-made reference files (*.mdb), sorted; none when the folder is missing.
inline std::vector<std::string> ReferenceFiles() {
  std::vector<std::string> files;
  if (!std::filesystem::exists(KP_REFERENCE_DIR)) return files;
  for (const auto& e : std::filesystem::directory_iterator(KP_REFERENCE_DIR)) {
    if (e.path().extension() == ".mdb") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Bytes as hex digits, two a byte.
inline std::string Hex(const Bytes& b, bool upper = true) {
  static const char* digits[] = {"0123456789abcdef", "0123456789ABCDEF"};
  std::string s;
  for (uint8_t x : b) s += {digits[upper][x >> 4], digits[upper][x & 15]};
  return s;
}

// A reference file's bytes (empty when it is missing).
inline Bytes Load(const std::string& name) { return ReadWholeFile(ReferencePath(name)); }

// A copy of page `page` (empty when the file is shorter), or a pointer into
// the image for editing it in place.
inline Bytes PageOf(const Bytes& file, uint32_t page) {
  if (file.size() < (size_t(page) + 1) * kPageSize) return {};
  return Bytes(file.begin() + size_t(page) * kPageSize, file.begin() + (size_t(page) + 1) * kPageSize);
}
inline uint8_t* Page(Bytes* image, uint32_t page) { return image->data() + size_t(page) * kPageSize; }

// The rows of one data page, in slot order.
inline std::vector<Bytes> RowsOf(const Bytes& page) {
  std::vector<Bytes> rows;
  size_t end = kPageSize;
  for (int i = 0; i < GetU16(&page[kDataRowCountOffset]); ++i) {
    const size_t start = GetU16(&page[kDataRowOffsetsOffset + 2 * i]) & kRowOffsetMask;
    rows.emplace_back(page.begin() + start, page.begin() + end);
    end = start;
  }
  return rows;
}

// A table of the given columns (Text ones of 255 characters), laid out.
inline TableDef MakeTable(const char16_t* name, std::vector<std::pair<const char16_t*, ColumnType>> cols) {
  TableDef d;
  d.name = name;
  for (auto [n, t] : cols) {
    ColumnDef c;
    c.name = n;
    c.type = t;
    c.length = t == ColumnType::kText ? 510 : 0;
    d.columns.push_back(c);
  }
  EXPECT_TRUE(AssignColumnLayout(&d).ok());
  return d;
}

// Clears the bytes of a single-page TDEF that differ between engine-written
// files without meaning: header bytes 28-39, the fixed offset of variable
// columns, the flag byte of unused index column slots, and bytes 42-45 of
// the physical index blocks.
inline void MaskTdefDontCare(Bytes* page) {
  Bytes& b = *page;
  std::fill(b.begin() + 28, b.begin() + 40, 0);
  const int ncols = GetU16(&b[45]);
  const int npidx = int(GetU32(&b[51]));
  size_t o = 63 + 12 * size_t(npidx);
  for (int i = 0; i < ncols && o + 25 <= b.size(); ++i, o += 25) {
    if ((b[o + 15] & 0x01) == 0) {
      b[o + 21] = 0;
      b[o + 22] = 0;
    }
  }
  for (int i = 0; i < ncols && o + 2 <= b.size(); ++i) o += 2 + GetU16(&b[o]);
  for (int i = 0; i < npidx && o + 52 <= b.size(); ++i, o += 52) {
    for (int s = 0; s < 10; ++s) {
      if (GetU16(&b[o + 4 + 3 * s]) == 0xFFFF) b[o + 6 + 3 * s] = 0;
    }
    std::fill(b.begin() + o + 42, b.begin() + o + 46, 0);
  }
}

// A shell command's standard output; `ok` false when it could not run or
// exited non-zero.
inline std::string RunCommand(const std::string& command, bool* ok) {
  kp::testing::ShellRun r = kp::testing::Shell(command);
  *ok = r.status == 0;
  return r.out;
}

// Runs jet-check (with `strict`, --strict) on `path` when the build has it;
// fails the test on problems.
inline void ExpectCheckerClean(const std::string& path, bool strict = false) {
  const std::string tool = std::string(KP_BUILD_DIR) + "/jet-check";
  if (!std::filesystem::exists(tool)) {
    std::printf("note: %s not built, invariants of %s not checked\n", tool.c_str(), path.c_str());
    return;
  }
  bool ok = false;
  const std::string out = RunCommand("'" + tool + (strict ? "' --strict '" : "' '") + path + "' 2>&1", &ok);
  EXPECT_TRUE(ok) << "jet-check " << path << ":\n" << out;
}

// The readers' rows in one notation: kp::testing::RowsByMdbtools / RowsByMdbReader.
using kp::testing::RowsByMdbReader;
using kp::testing::RowsByMdbtools;

}  // namespace kp::jet::testing
