#include "export/template_check.h"

#include <memory>
#include <vector>

#include "base/text_util.h"
#include "jet/jet.h"
#include "export/output_schema.h"

namespace kp {

namespace {

using jet::ColumnType;

// Integer columns take any value that a narrower one could hold.
int IntegerRank(ColumnType t) {
  switch (t) {
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 3;
    default: return 0;
  }
}

bool Fits(const jet::ColumnDef& have, const jet::ColumnDef& want) {
  if (IntegerRank(want.type) > 0) return IntegerRank(have.type) >= IntegerRank(want.type);
  // A Text column where the export writes Memo (a template of older days)
  // takes every text up to its size; a longer one fails at its row.
  if (want.type == ColumnType::kMemo && have.type == ColumnType::kText) return true;
  if (have.type != want.type) return false;
  return want.type != ColumnType::kText || have.length >= want.length;
}

}  // namespace

Status CheckTemplate(const std::string& path) {
  std::vector<jet::TableDef> wanted;
  KP_RETURN_IF_ERROR(OutputTableDefs(&wanted));
  // Its structures first: a damaged template is refused before anything
  // is read from it, let alone written to it.
  KP_RETURN_IF_ERROR(jet::CheckUsable(path).WithContext("template"));
  std::unique_ptr<jet::DatabaseReader> reader;
  KP_RETURN_IF_ERROR(jet::DatabaseReader::Open(path, &reader).WithContext("template"));
  for (const jet::TableDef& want : wanted) {
    const std::string table = "template table " + Utf16ToUtf8(want.name);
    const jet::CatalogEntry* e = reader->FindTable(want.name);
    if (e == nullptr || !e->is_table() || e->is_system()) return Status::NotSupported(table + " is missing");
    jet::TableDef have;
    KP_RETURN_IF_ERROR(reader->ReadTableDefAt(e->tdef_page(), &have).WithContext(table));
    for (const jet::ColumnDef& c : want.columns) {
      const jet::ColumnDef* h = have.FindColumn(c.name);
      const std::string column = table + " column " + Utf16ToUtf8(c.name);
      if (h == nullptr) return Status::NotSupported(column + " is missing");
      if (!Fits(*h, c)) {
        return Status::NotSupported(column + " is a " + jet::ColumnTypeName(h->type) + " of " +
                                    std::to_string(h->length) + " bytes, narrower than the " +
                                    jet::ColumnTypeName(c.type) + " of " + std::to_string(c.length) +
                                    " bytes the export writes");
      }
    }
  }
  return Status::OK();
}

}  // namespace kp
