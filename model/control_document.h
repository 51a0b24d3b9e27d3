// The document model: the in-memory result of loading one DEFAULT.CTL.
//
// Plain data, no behaviour. Field names are the database column names they
// are exported to. Texts are UTF-16 (what both Jet and Qt store). Positions are
// 0-based; a page's number is its position + 1, and an entry's number (ID) is
// its position in its page's list + 1.
//
// Invariants after a successful load: every count equals the length of its
// list, per-page counts lie in 0..32767, EmbeddedFileCount >= 0, PageCount ==
// Pages.size() >= 1. A RegisterIndex outside the register is kept as read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kp {

using Text = std::u16string;

struct ControlFileHeader {
  uint8_t HeaderByte = 0;  // the byte after the magic
  int32_t HeaderLong = 0;  // the int32 after the four skipped header bytes
};

struct EmbeddedFileRecord {
  int32_t EntryValue = 0;  // opens each register entry; stored only
  Text KPE_FileName;
  Text InData;
};

struct CommentRecord {
  int16_t Color = 0;
  int16_t Left = 0;
  int16_t Top = 0;
  kp::Text Text;
};

struct KeyWordRecord {
  int16_t Left = 0;
  int16_t Top = 0;
  int16_t Width = 0;
  int16_t Height = 0;
  Text KeyWord;
  Text Field;
};

struct SquareRecord {  // a range mark
  int16_t Color = 0;
  int16_t Left = 0;
  int16_t Top = 0;
  int16_t Width = 0;
  int16_t Height = 0;
};

struct HyperLinkRecord {
  int16_t Left = 0;
  int16_t Top = 0;
  int16_t Width = 0;
  int16_t Height = 0;
  Text LinkInfo1;
  Text LinkInfo2;
};

struct PageEmbedRecord {  // one use of a registered embedded file on a page
  int32_t RegisterIndex = 0;  // 0-based position in EmbeddedFiles, as read
};

struct PageRecord {
  Text FileName;        // image file name; SourceFolder + FileName is its path
  int32_t ImageLen = 0;  // size of the image file, measured at load time
  uint8_t Level = 0;
  uint8_t IsTag = 0;  // 2 = the page carries a tag
  Text Name;          // tag name, may be empty
  Text AuxText;       // read and stored, never shown or exported
  uint8_t Angle = 0;  // 1..4 = 0, 90, 180, 270 degrees; else no rotation

  int16_t CommentCount = 0;
  std::vector<CommentRecord> Comments;
  int16_t KeyWordCount = 0;
  std::vector<KeyWordRecord> KeyWords;
  int16_t SquareCount = 0;
  std::vector<SquareRecord> Squares;
  int16_t HyperLinkCount = 0;
  std::vector<HyperLinkRecord> HyperLinks;
  int16_t EmbedCount = 0;
  std::vector<PageEmbedRecord> Embeds;

  bool IsTagged() const { return IsTag == 2; }
};

struct ControlDocument {
  Text SourceFolder;  // folder of the loaded file, no trailing separator
  ControlFileHeader Header;
  int32_t EmbeddedFileCount = 0;
  std::vector<EmbeddedFileRecord> EmbeddedFiles;
  int32_t PageCount = 0;
  std::vector<PageRecord> Pages;
};

// Rotation in degrees for an Angle code, or -1 when the code states none.
inline int AngleDegrees(uint8_t angle) {
  return (angle >= 1 && angle <= 4) ? (angle - 1) * 90 : -1;
}

// Module1: the one program-wide document. The load command is its only
// writer (it replaces it whole after a successful load); everything else
// reads it.
namespace Module1 {
ControlDocument& Document();
}

}  // namespace kp
