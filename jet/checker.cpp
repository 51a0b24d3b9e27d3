#include "jet/checker.h"

#include <memory>

#include "jet/checker_internal.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/page_file.h"
#include "jet/reader.h"
#include "jet/row_read.h"

namespace kp::jet {

std::string CheckProblem::ToString() const {
  return "page " + std::to_string(page) + ": " + message;
}

bool CheckReport::ok() const {
  for (const auto& p : problems) {
    if (strict || !p.tolerated) return false;
  }
  return true;
}

std::string CheckReport::ToString() const {
  std::string out;
  for (const auto& p : problems) {
    out += p.ToString();
    if (p.tolerated && !strict) out += " (tolerated: Access does this)";
    out += "\n";
  }
  return out;
}

namespace {

using namespace check;

// One file's check: its parts (checker_internal.h) in turn.
class Checker {
 public:
  Checker(const PageFile& file, CheckReport* report)
      : file_(file),
        cx_(file, report),
        pages_(&cx_),
        relationships_(&cx_),
        tables_(&cx_, &relationships_) {}

  void Run() {
    CheckHeader(&cx_);
    cx_.SetUse(0, "header");
    Status s =
        DatabaseReader::OpenBytes(Bytes(file_.bytes(), file_.bytes() + file_.size()), &reader_);
    if (!s.ok()) {
      cx_.Problem(kCatalogTdefPage, "cannot read the catalog: " + s.message());
      return;
    }
    pages_.CheckGlobalMapPage();
    // The tables come from every row on MSysObjects' data pages, found by
    // their owner field: a damaged owned map must not hide them.
    bool catalog_seen = false;
    const std::vector<CatalogEntry> catalog = CatalogFromPages();
    relationships_.Find(catalog);
    for (const CatalogEntry& e : catalog) {
      if (!e.is_table()) continue;
      catalog_seen |= e.tdef_page() == kCatalogTdefPage;
      tables_.Check(e);
    }
    if (!catalog_seen) {
      cx_.Problem(kCatalogTdefPage, "MSysObjects has no row of its own");
      CatalogEntry self;
      self.id = kCatalogTdefPage;
      self.name = u"MSysObjects";
      self.type = kObjectTypeTable;
      tables_.Check(self);
    }
    pages_.CheckAllPages();
    pages_.CheckGlobalMap();
    relationships_.Check();
  }

 private:
  // Catalog rows decoded from every live row of MSysObjects' data pages.
  std::vector<CatalogEntry> CatalogFromPages() {
    const TableDef& def = reader_->catalog_def();
    auto column = [&def](const char16_t* name) {
      for (size_t i = 0; i < def.columns.size(); ++i) {
        if (def.columns[i].name == name) return int(i);
      }
      return -1;
    };
    const int id = column(u"Id"), name = column(u"Name"), type = column(u"Type");
    std::vector<CatalogEntry> out;
    if (id < 0 || name < 0 || type < 0) return out;
    for (uint32_t n = 1; n < file_.page_count(); ++n) {
      const uint8_t* page = file_.Page(n);
      if (page[0] != kPageTypeData || GetU32(page + kDataOwnerOffset) != kCatalogTdefPage) continue;
      uint16_t count;
      if (!DataPageRowCount(page, n, &count).ok()) continue;
      for (uint16_t r = 0; r < count; ++r) {
        RowSlot slot;
        if (!DataPageRowSlot(page, n, r, &slot).ok()) break;
        if (slot.deleted) continue;
        const uint8_t* data = page + slot.start;
        size_t size = slot.end - slot.start;
        if (slot.overflow) {
          // Other writers leave a catalog row they lengthened on another
          // slot; a bad pointer is reported by the table check.
          RowSlot target;
          if (size < 4 || !ReadRowBytes(file_, GetU24(data + 1), data[0], &data, &size, &target).ok() ||
              target.overflow) {
            continue;
          }
        }
        Row row;
        if (!DecodeRow(file_, def, data, size, &row).ok()) continue;
        CatalogEntry e;
        e.id = int32_t(row[id].i);
        e.name = row[name].text;
        e.type = int16_t(row[type].i);
        e.row_pointer = MakePointer(n, uint8_t(r));
        out.push_back(std::move(e));
      }
    }
    return out;
  }

  const PageFile& file_;
  CheckContext cx_;
  PageChecker pages_;
  RelationshipChecker relationships_;
  TableChecker tables_;
  std::unique_ptr<DatabaseReader> reader_;
};

}  // namespace

Status CheckDatabaseImage(Bytes image, const CheckOptions& options, CheckReport* report) {
  *report = CheckReport();
  report->strict = options.strict;
  std::unique_ptr<PageFile> file;
  KP_RETURN_IF_ERROR(PageFile::FromBytes(std::move(image), &file));
  HeaderInfo h;
  KP_RETURN_IF_ERROR(DecodeHeader(file->Page(0), &h));
  // A password (or a password area that does not match the date) is a
  // problem to report; only other versions and encrypted pages stop the check.
  h.password.clear();
  KP_RETURN_IF_ERROR(CheckHeaderSupported(h));
  Checker(*file, report).Run();
  return Status::OK();
}

Status CheckDatabase(const std::string& path, const CheckOptions& options, CheckReport* report) {
  std::unique_ptr<PageFile> file;
  KP_RETURN_IF_ERROR(PageFile::Open(path, &file));
  Bytes image(file->bytes(), file->bytes() + file->size());
  Status s = CheckDatabaseImage(std::move(image), options, report);
  return s.ok() ? s : s.WithContext(path);
}

}  // namespace kp::jet
