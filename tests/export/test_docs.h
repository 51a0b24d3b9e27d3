// Small in-memory documents for the export tests, with every count kept equal
// to its list unless a test breaks that on purpose.
#pragma once

#include <string>

#include "model/control_document.h"

namespace kp::testing {

inline PageRecord MakePage(std::u16string file_name) {
  PageRecord p;
  p.FileName = std::move(file_name);
  return p;
}

inline void AddComment(PageRecord* p, int16_t color, int16_t left, int16_t top, std::u16string text) {
  p->Comments.push_back({color, left, top, std::move(text)});
  p->CommentCount = int16_t(p->Comments.size());
}
inline void AddKeyWord(PageRecord* p, int16_t left, int16_t top, int16_t width, int16_t height,
                       std::u16string keyword, std::u16string field) {
  p->KeyWords.push_back({left, top, width, height, std::move(keyword), std::move(field)});
  p->KeyWordCount = int16_t(p->KeyWords.size());
}
inline void AddSquare(PageRecord* p, int16_t color, int16_t left, int16_t top, int16_t width,
                      int16_t height) {
  p->Squares.push_back({color, left, top, width, height});
  p->SquareCount = int16_t(p->Squares.size());
}
inline void AddHyperLink(PageRecord* p, int16_t left, int16_t top, int16_t width, int16_t height,
                         std::u16string info1, std::u16string info2) {
  p->HyperLinks.push_back({left, top, width, height, std::move(info1), std::move(info2)});
  p->HyperLinkCount = int16_t(p->HyperLinks.size());
}
inline void AddEmbed(PageRecord* p, int32_t register_index) {
  p->Embeds.push_back({register_index});
  p->EmbedCount = int16_t(p->Embeds.size());
}

inline void AddPage(ControlDocument* doc, PageRecord page) {
  doc->Pages.push_back(std::move(page));
  doc->PageCount = int32_t(doc->Pages.size());
}
inline void AddRegisterEntry(ControlDocument* doc, std::u16string file, std::u16string in_data) {
  doc->EmbeddedFiles.push_back({0, std::move(file), std::move(in_data)});
  doc->EmbeddedFileCount = int32_t(doc->EmbeddedFiles.size());
}

// n plain pages named P1.TIF ... with no lists.
inline ControlDocument PlainDocument(int n) {
  ControlDocument doc;
  for (int i = 1; i <= n; ++i) {
    std::string name = "\\P" + std::to_string(i) + ".TIF";
    AddPage(&doc, MakePage(std::u16string(name.begin(), name.end())));
  }
  return doc;
}

}  // namespace kp::testing
