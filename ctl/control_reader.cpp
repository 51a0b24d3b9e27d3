#include "ctl/control_reader.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/file_io.h"
#include "base/folder_files.h"
#include "base/text_util.h"
#include "ctl/function.h"

namespace kp {

namespace {

const uint8_t kMagic[7] = {0x90, 0x01, 0x40, 0x4B, 0x50, 0x4C, 0x01};
const std::u16string kTerminator = u"ENDOFCONTROL";

// Smallest encoded size of one entry, used to bound reservations.
constexpr size_t kMinRegisterEntry = 4 + 4 + 1 + 1 + 5;
constexpr size_t kMinComment = 6 + 1;
constexpr size_t kMinKeyWord = 8 + 1 + 1;
constexpr size_t kMinSquare = 10;
constexpr size_t kMinHyperLink = 8 + 1 + 1;
constexpr size_t kMinEmbed = 4;
constexpr size_t kMinPage = 1 + 8 + 1 + 1 + 1 + 2 + 5 * 2;

size_t Bounded(size_t count, size_t remaining, size_t min_entry) {
  return std::min(count, remaining / min_entry + 1);
}

// Makes room for one more page. Past the first few pages, the room grows to
// what the bytes left would hold in pages of the size of those read so far,
// and an eighth more (at least doubling, as the vector would), but never
// beyond what they could hold in the smallest pages: a file of pages of one
// size is laid out once, with no copies of the pages read.
void RoomForPage(std::vector<PageRecord>* pages, size_t spent, size_t remaining) {
  const size_t have = pages->size();
  if (have < pages->capacity() || have < 8) return;
  const size_t like_these = remaining / std::max<size_t>(1, spent / have);
  const size_t most = remaining / kMinPage + 1;
  pages->reserve(have + std::min(std::max(have, like_these + like_these / 8 + 8), most));
}

int16_t I16(const uint8_t* b) { return int16_t(uint16_t(b[0] | (b[1] << 8))); }
int32_t I32(const uint8_t* b) {
  return int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
}

// The size of a page's image into `*len`, or false with the cause.
bool MeasureImage(ImageSizer* sizer, const Path& folder, const std::u16string& name, int32_t* len,
                  std::string* cause) {
  int64_t size = 0;
  if (!sizer->Measure(folder, name, &size, cause)) return false;
  if (size < 0 || size > std::numeric_limits<int32_t>::max()) {
    *cause = "image file " + Utf16ToUtf8(name) + " is " + std::to_string(size) + " bytes, more than ImageLen can hold";
    return false;
  }
  *len = int32_t(size);
  return true;
}

// From this size on, a control file's images are measured on a thread of
// their own while the file is parsed (below it, starting one costs more
// than it saves).
constexpr size_t kMeasureAsideBytes = size_t(1) << 20;

// Measures the pages' images on a thread of its own, one after the other in
// page order, with the one sizer (no other thread uses it meanwhile). It
// stops at the first image that fails: that failure is the load's, as it
// would have been had the page been measured as it was read, since the
// parse had not yet gone past that page's name then.
class AsideMeasurer {
 public:
  AsideMeasurer(ImageSizer* sizer, const Path& folder) : sizer_(sizer), folder_(folder) {
    thread_ = std::thread([this] { Run(); });
  }
  ~AsideMeasurer() { Stop(); }

  // Page `index`, whose record starts at byte `at`, has the image `name`.
  void Add(size_t index, size_t at, const std::u16string& name) {
    batch_.push_back({index, at, name});
    if (batch_.size() >= kBatch) Hand();
  }
  bool failed() const { return failed_.load(std::memory_order_relaxed); }
  // Waits for every page handed in. Then either puts the sizes into the
  // pages (true), or gives the first failure: the page, its offset and the
  // cause.
  bool Finish(std::vector<PageRecord>* pages, size_t* index, size_t* at, std::string* cause) {
    Stop();
    if (failure_.has) {
      *index = failure_.index;
      *at = failure_.at;
      *cause = failure_.cause;
      return false;
    }
    for (size_t i = 0; i < sizes_.size() && i < pages->size(); ++i) (*pages)[i].ImageLen = sizes_[i];
    return true;
  }

 private:
  static constexpr size_t kBatch = 64;
  struct Item {
    size_t index;
    size_t at;
    std::u16string name;
  };
  struct Failure {
    bool has = false;
    size_t index = 0, at = 0;
    std::string cause;
  };

  void Hand() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.insert(queue_.end(), std::make_move_iterator(batch_.begin()), std::make_move_iterator(batch_.end()));
    }
    batch_.clear();
    ready_.notify_one();
  }
  void Stop() {
    if (!thread_.joinable()) return;
    Hand();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ready_.notify_one();
    thread_.join();
  }
  void Run() {
    std::vector<Item> work;
    for (;;) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return done_ || !queue_.empty(); });
        if (queue_.empty()) return;  // done, nothing left
        work.swap(queue_);
      }
      for (Item& item : work) {
        if (failure_.has) break;
        int32_t len = 0;
        std::string cause;
        if (!MeasureImage(sizer_, folder_, item.name, &len, &cause)) {
          failure_ = {true, item.index, item.at, std::move(cause)};
          failed_.store(true, std::memory_order_relaxed);
          break;
        }
        if (sizes_.size() <= item.index) sizes_.resize(item.index + 1);
        sizes_[item.index] = len;
      }
      work.clear();
    }
  }

  ImageSizer* sizer_;
  const Path folder_;
  std::vector<Item> batch_;  // the parser's, not yet handed in
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<Item> queue_;  // handed in, under mutex_
  bool done_ = false;        // under mutex_
  // The measuring thread's until it is joined.
  std::vector<int32_t> sizes_;
  Failure failure_;
  std::atomic<bool> failed_{false};
  std::thread thread_;
};

class Parser {
 public:
  Parser(ControlStream* s, ImageSizer* sizer) : s_(s), sizer_(sizer) {}

  bool String(std::u16string* out) { return ReadControlString(s_, out); }

  // Reads a list count; negative counts fail.
  bool Count(int16_t* count, const char* what) {
    if (const uint8_t* b = s_->Held(2); b != nullptr && b[1] < 0x80) {
      *count = I16(b);
      s_->pos += 2;
      return true;
    }
    if (!s_->ReadI16(count, what)) return false;
    if (*count < 0) return s_->Fail(std::string("negative ") + what + " " + std::to_string(*count), s_->offset() - 2);
    return true;
  }

  bool Register(ControlDocument* doc) {
    size_t at = s_->offset();
    if (!s_->ReadI32(&doc->EmbeddedFileCount, "embedded file count")) return false;
    if (doc->EmbeddedFileCount < 0) {
      return s_->Fail("negative embedded file count " + std::to_string(doc->EmbeddedFileCount), at);
    }
    doc->EmbeddedFiles.reserve(Bounded(size_t(doc->EmbeddedFileCount), s_->remaining(), kMinRegisterEntry));
    for (int32_t i = 0; i < doc->EmbeddedFileCount; ++i) {
      EmbeddedFileRecord& e = doc->EmbeddedFiles.emplace_back();
      if (!s_->ReadI32(&e.EntryValue, "register entry") || !s_->Skip(4, "register entry") ||
          !String(&e.KPE_FileName) || !String(&e.InData) || !s_->Skip(5, "register entry")) {
        return false;
      }
    }
    return true;
  }

  // Each record's numbers are taken at once when they are held (nearly
  // always), else field by field.
  bool PageFixed(PageRecord* p) {
    if (const uint8_t* b = s_->Held(8)) {
      p->Level = b[2];
      p->IsTag = b[7];
      s_->pos += 8;
    } else if (!s_->Skip(2, "page record") || !s_->ReadU8(&p->Level, "page Level") || !s_->Skip(4, "page record") ||
               !s_->ReadU8(&p->IsTag, "page IsTag")) {
      return false;
    }
    return String(&p->Name) && s_->Skip(1, "page record") && String(&p->AuxText) &&
           s_->ReadU8(&p->Angle, "page Angle") && s_->Skip(1, "page record");
  }

  // Consecutive 16-bit fields of a record: at once when their bytes are held
  // (nearly always), else field by field, so that a cut file fails at the
  // same field and offset.
  template <typename... Field>
  bool Shorts(const char* what, Field*... fields) {
    constexpr size_t kBytes = 2 * sizeof...(Field);
    if (const uint8_t* b = s_->Held(kBytes)) {
      ((*fields = I16(b), b += 2), ...);
      s_->pos += kBytes;
      return true;
    }
    return (s_->ReadI16(fields, what) && ...);
  }

  // Left, Top, Width and Height of a keyword or hyperlink.
  template <typename Record>
  bool Box(Record* r, const char* what) {
    return Shorts(what, &r->Left, &r->Top, &r->Width, &r->Height);
  }

  bool Lists(PageRecord* p) {
    if (!Count(&p->CommentCount, "comment count")) return false;
    p->Comments.reserve(Bounded(size_t(p->CommentCount), s_->remaining(), kMinComment));
    for (int i = 0; i < p->CommentCount; ++i) {
      CommentRecord& c = p->Comments.emplace_back();
      if (!Shorts("comment", &c.Color, &c.Left, &c.Top) || !String(&c.Text)) return false;
    }
    if (!Count(&p->KeyWordCount, "keyword count")) return false;
    p->KeyWords.reserve(Bounded(size_t(p->KeyWordCount), s_->remaining(), kMinKeyWord));
    for (int i = 0; i < p->KeyWordCount; ++i) {
      KeyWordRecord& k = p->KeyWords.emplace_back();
      if (!Box(&k, "keyword") || !String(&k.KeyWord) || !String(&k.Field)) return false;
    }
    if (!Count(&p->SquareCount, "range mark count")) return false;
    p->Squares.reserve(Bounded(size_t(p->SquareCount), s_->remaining(), kMinSquare));
    for (int i = 0; i < p->SquareCount; ++i) {
      SquareRecord& q = p->Squares.emplace_back();
      if (!Shorts("range mark", &q.Color, &q.Left, &q.Top, &q.Width, &q.Height)) return false;
    }
    if (!Count(&p->HyperLinkCount, "hyperlink count")) return false;
    p->HyperLinks.reserve(Bounded(size_t(p->HyperLinkCount), s_->remaining(), kMinHyperLink));
    for (int i = 0; i < p->HyperLinkCount; ++i) {
      HyperLinkRecord& h = p->HyperLinks.emplace_back();
      if (!Box(&h, "hyperlink") || !String(&h.LinkInfo1) || !String(&h.LinkInfo2)) return false;
    }
    if (!Count(&p->EmbedCount, "embedded file use count")) return false;
    p->Embeds.reserve(Bounded(size_t(p->EmbedCount), s_->remaining(), kMinEmbed));
    for (int i = 0; i < p->EmbedCount; ++i) {
      PageEmbedRecord& m = p->Embeds.emplace_back();
      if (const uint8_t* b = s_->Held(4)) {
        m.RegisterIndex = I32(b);
        s_->pos += 4;
      } else if (!s_->ReadI32(&m.RegisterIndex, "embedded file use")) {
        return false;
      }
    }
    return true;
  }

  bool Measure(const Path& folder, PageRecord* p, size_t at) {
    std::string cause;
    if (!MeasureImage(sizer_, folder, p->FileName, &p->ImageLen, &cause)) return s_->Fail(cause, at);
    return true;
  }

 private:
  ControlStream* s_;
  ImageSizer* sizer_;
};

}  // namespace

FileSystemImageSizer::FileSystemImageSizer() = default;
FileSystemImageSizer::~FileSystemImageSizer() = default;

bool FileSystemImageSizer::Measure(const Path& folder, const std::u16string& file_name, int64_t* size,
                                   std::string* cause) {
  std::string shown;
  switch (files_.SizeOf(folder, file_name, size, &shown)) {
    case FolderFiles::Found::kFile: return true;
    case FolderFiles::Found::kMissing: *cause = "image file not found: " + shown; return false;
    case FolderFiles::Found::kNotAFile: *cause = "image file is not a regular file: " + shown; return false;
  }
  return false;
}

namespace {

// Parses the stream `s` (at offset 0) into `*doc`.
ControlReadResult Parse(ControlStream& s, const Path& source_folder, ImageSizer* sizer,
                        ControlDocument* doc) {
  ControlReadResult result;
  doc->SourceFolder = Utf8ToUtf16(PathToUtf8(source_folder));

  auto fail = [&]() {
    result.kind = ControlReadResult::Kind::kReadFailure;
    result.cause = s.error;
    return result;
  };

  // A file shorter than the magic that starts like it is a cut control file
  // (read failure); any difference in the bytes present is the wrong magic.
  if (!s.Fill(sizeof(kMagic))) return fail();
  const size_t present = std::min(s.size, sizeof(kMagic));
  if (!std::equal(kMagic, kMagic + present, s.data)) {
    result.kind = ControlReadResult::Kind::kWrongMagic;
    result.cause = "the first 7 bytes are not the control file magic";
    return result;
  }
  if (present < sizeof(kMagic)) {
    s.Fail("end of file in magic", present);
    return fail();
  }
  s.pos = sizeof(kMagic);
  Parser parser(&s, sizer);
  if (!s.ReadU8(&doc->Header.HeaderByte, "header") || !s.Skip(4, "header") ||
      !s.ReadI32(&doc->Header.HeaderLong, "header") || !parser.Register(doc)) {
    return fail();
  }

  std::unique_ptr<AsideMeasurer> aside;
  if (s.total >= kMeasureAsideBytes) {
    try {
      aside = std::make_unique<AsideMeasurer>(sizer, source_folder);
    } catch (const std::system_error&) {
      aside.reset();  // no thread to be had: measured as read
    }
  }
  // A failed image comes before anything the parse found after its page.
  auto image_failure = [&]() -> bool {
    size_t index = 0, at = 0;
    std::string cause;
    if (!aside || aside->Finish(&doc->Pages, &index, &at, &cause)) return false;
    // The document as a failure at that page leaves it: the page with its
    // file name only, none after it.
    doc->Pages.resize(index + 1);
    PageRecord named;
    named.FileName = std::move(doc->Pages[index].FileName);
    doc->Pages[index] = std::move(named);
    s.Fail(cause, at);
    return true;
  };
  const size_t pages_start = s.offset();
  for (;;) {
    size_t at = s.offset();
    std::u16string name;
    if (!parser.String(&name)) {
      image_failure();
      return fail();
    }
    if (name == kTerminator) break;
    RoomForPage(&doc->Pages, at - pages_start, s.remaining());
    PageRecord& page = doc->Pages.emplace_back();
    page.FileName = std::move(name);
    if (aside) {
      aside->Add(doc->Pages.size() - 1, at, page.FileName);
      if (aside->failed()) break;
    } else if (!parser.Measure(source_folder, &page, at)) {
      return fail();
    }
    if (!parser.PageFixed(&page) || !parser.Lists(&page)) {
      image_failure();
      return fail();
    }
  }
  if (image_failure()) return fail();
  if (doc->Pages.empty()) {
    s.Fail("the file has no page records", s.offset());
    return fail();
  }
  if (doc->Pages.size() > size_t(std::numeric_limits<int32_t>::max())) {
    s.Fail("too many page records", s.offset());
    return fail();
  }
  doc->PageCount = int32_t(doc->Pages.size());
  return result;
}

}  // namespace

ControlReadResult ParseControlFile(const uint8_t* data, size_t size, const Path& source_folder,
                                   ImageSizer* sizer, ControlDocument* doc) {
  ControlStream s;
  s.data = data;
  s.size = size;
  s.total = size;
  return Parse(s, source_folder, sizer, doc);
}

ControlReadResult ReadControlFile(const Path& path, const Path& source_folder, ImageSizer* sizer,
                                  ControlDocument* doc, size_t window_bytes) {
  ControlReadResult result;
  result.kind = ControlReadResult::Kind::kReadFailure;
  std::unique_ptr<File> f;
  Status opened = Files()->Open(path, OpenMode::kRead, &f);
  if (!opened.ok()) {
    result.cause = opened.message();
    return result;
  }
  uint64_t size = 0;
  if (f->Size(&size).ok() && size <= std::numeric_limits<size_t>::max() / 2) {
    // Streamed through a window: the file never sits in memory whole.
    ControlStream s;
    s.source = f.get();
    s.window_bytes = std::max<size_t>(1, window_bytes);
    s.total = size_t(size);
    return Parse(s, source_folder, sizer, doc);
  }
  // A file that cannot say its size is read whole first.
  std::vector<uint8_t> bytes;
  uint8_t buf[1 << 16];
  for (;;) {
    size_t n = 0;
    Status read = f->Read(buf, sizeof(buf), &n);
    if (!read.ok()) {
      result.cause = read.message();
      return result;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  f.reset();
  return ParseControlFile(bytes.data(), bytes.size(), source_folder, sizer, doc);
}

}  // namespace kp
