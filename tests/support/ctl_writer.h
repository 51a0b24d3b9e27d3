// Test-side writer of control files: turns a ControlDocument (the same model
// the reader fills) into the bytes of a DEFAULT.CTL, and writes documents with
// their page images into a folder.
//
//   ControlDocument doc = ...;                    // texts as UTF-16
//   std::string bytes = EncodeControlFile(doc);   // counts from the lists
//   WriteDocumentFolder("/tmp/x", doc);           // DEFAULT.CTL + images
//
// Each list is written with its count field when that differs from the list's
// length (so a test can write a negative or oversized count), else with the
// list's length. Texts are encoded in code page 932; `raw_strings` lets a test
// put exact bytes in place of any text.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "model/control_document.h"

namespace kp::testing {

enum class StringForm { kShort, kLong, kAuto };  // kAuto: short below 255 bytes

struct ControlWriteOptions {
  StringForm form = StringForm::kAuto;
  std::string terminator_bytes;   // replaces the encoded "ENDOFCONTROL" when set
  std::string trailing_bytes;     // written after the terminator
  bool use_count_fields = false;  // write every count field as it stands
  // Text (UTF-16) -> exact encoded bytes (prefix included) to write instead.
  std::map<std::u16string, std::string> raw_strings;
};

// Code page 932 bytes of a text (characters without a code become '?').
std::string EncodeCp932(const std::u16string& text);
// One encoded string: prefix + bytes.
std::string EncodeControlString(const std::u16string& text, StringForm form = StringForm::kAuto);

std::string EncodeControlFile(const ControlDocument& doc, const ControlWriteOptions& options = {});

// Writes DEFAULT.CTL into `folder` (created if needed) and one image file per
// page (FileName with '\' as '/'), each `image_size` bytes (sparse) unless the
// page's ImageLen is non-zero. Returns the path of DEFAULT.CTL.
std::string WriteDocumentFolder(const std::string& folder, const ControlDocument& doc,
                                const ControlWriteOptions& options = {}, int64_t image_size = 1000);

// Writes `bytes` to `path`; reads the whole of `path` (empty when it cannot).
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A fresh empty temporary folder for a test.
std::string MakeTempFolder(const std::string& prefix = "kp-test");

// Sets each count field of `p` to the length of its list.
void CountLists(PageRecord* p);

// A page with an image name "\\P<n>.TIF" and nothing else.
PageRecord SimplePage(int n);

}  // namespace kp::testing
