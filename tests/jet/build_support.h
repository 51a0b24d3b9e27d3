// Helpers of the write-side tests: files, the two outside readers, and the
// byte masks for comparisons with engine-written files.
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "base/text_util.h"
#include "export/jet/bytes.h"

namespace kp::jet::testing {

inline std::string Utf8(const std::u16string& s) { return kp::Utf16ToUtf8(s); }

inline Bytes ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string ReferencePath(const std::string& name) {
  return std::string(KP_REFERENCE_DIR) + "/" + name;
}

inline Bytes PageOf(const Bytes& file, uint32_t page) {
  if (file.size() < (size_t(page) + 1) * 4096) return {};
  return Bytes(file.begin() + page * 4096, file.begin() + (page + 1) * 4096);
}

// Runs a shell command; returns its standard output, `ok` false when it
// could not run or exited non-zero.
inline std::string RunCommand(const std::string& command, bool* ok) {
  std::string out;
  FILE* f = popen(command.c_str(), "r");
  if (f == nullptr) {
    *ok = false;
    return out;
  }
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  *ok = pclose(f) == 0;
  return out;
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

// Splits command output into lines.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// The rows of `table` as mdbtools' mdb-export prints them: fields separated
// by '|', Null as <NULL> (mdb-export prints empty texts that way too),
// Booleans 0/1, binary as upper-case hex.
inline std::vector<std::string> RowsByMdbtools(const std::string& file, const std::string& table,
                                               bool* ok) {
  return Lines(RunCommand("mdb-export -Q -H -b hex -0 '<NULL>' -d '|' '" + file + "' '" + table +
                              "' 2>/dev/null",
                          ok));
}

// The same rows as mdb-reader (the pinned npm package in tests/js) reads
// them, in the same notation; empty texts stay empty.
inline std::vector<std::string> RowsByMdbReader(const std::string& file, const std::string& table,
                                                bool* ok) {
  const std::string script =
      "import { readFileSync } from 'node:fs'; import MDBReader from 'mdb-reader';"
      "const t = new MDBReader(readFileSync(process.argv[1])).getTable(process.argv[2]);"
      "const cols = t.getColumnNames();"
      "for (const row of t.getData()) console.log(cols.map(c => { const v = row[c];"
      " if (v === null || v === undefined) return '<NULL>';"
      " if (Buffer.isBuffer(v)) return v.toString('hex').toUpperCase();"
      " if (typeof v === 'boolean') return v ? '1' : '0'; return String(v); }).join('|'));";
  return Lines(RunCommand("cd '" + std::string(KP_JS_DIR) + "' && node --input-type=module -e \"" +
                              script + "\" '" + file + "' '" + table + "' 2>/dev/null",
                          ok));
}


}  // namespace kp::jet::testing
