#include "export/verify.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text_util.h"
#include "export/output_schema.h"
#include "export/row_mapping.h"
#include "jet/jet.h"

namespace kp {

namespace {

using jet::Value;

// A row's key: (No, 0) in the pages table, (PageNo, ID) in the others. Rows
// whose key columns hold no whole number sort after every other row, by their
// place in the file.
struct Key {
  int64_t a = 0, b = 0;
  auto operator<=>(const Key&) const = default;
};
constexpr int64_t kOddKey = std::numeric_limits<int64_t>::max();

bool WholeNumber(const Value& v, int64_t* out) {
  if (v.kind == Value::Kind::kInteger) {
    *out = v.i;
    return true;
  }
  if (v.kind == Value::Kind::kDouble && std::trunc(v.d) == v.d && std::fabs(v.d) < 9.0e18) {
    *out = int64_t(v.d);
    return true;
  }
  return false;
}

// One expected value, kept in 16 bytes: a number in `n` (a double's bits for
// the floating kinds), a text or byte string as its place in the table's
// arena.
struct Cell {
  Value::Kind kind = Value::Kind::kNull;
  uint32_t size = 0;
  int64_t n = 0;
};

// The expected rows of one table, in the order the export writes them (by
// key), columns in the output schema's order. Cells and texts are kept in
// blocks, so that neither is copied as it grows.
struct ExpectedTable {
  static constexpr size_t kBlockChars = size_t(1) << 20;

  size_t width = 0;
  std::vector<Key> keys;
  std::deque<Cell> cells;  // keys.size() x width
  std::vector<std::u16string> blocks;

  // Keeps `n` UTF-16 units; returns where they go: block << 32 | offset.
  std::pair<int64_t, char16_t*> Take(size_t n) {
    if (blocks.empty() || blocks.back().size() + n > blocks.back().capacity()) {
      blocks.emplace_back();
      blocks.back().reserve(std::max(n, kBlockChars));
    }
    std::u16string& b = blocks.back();
    const size_t at = b.size();
    b.resize(at + n);
    return {int64_t((blocks.size() - 1) << 32 | at), b.data() + at};
  }
  std::u16string_view Chars(const Cell& c) const {
    return std::u16string_view(blocks[size_t(c.n >> 32)]).substr(size_t(c.n & 0xFFFFFFFF), c.size);
  }

  void Push(const Value& v) {
    Cell c;
    c.kind = v.kind;
    switch (v.kind) {
      case Value::Kind::kNull:
        break;
      case Value::Kind::kDouble:
      case Value::Kind::kDateTime:
        c.n = std::bit_cast<int64_t>(v.d);
        break;
      case Value::Kind::kText: {
        auto [at, chars] = Take(v.text.size());
        std::copy(v.text.begin(), v.text.end(), chars);
        c.n = at;
        c.size = uint32_t(v.text.size());
        break;
      }
      case Value::Kind::kBinary: {
        auto [at, chars] = Take(v.binary.size());
        std::copy(v.binary.begin(), v.binary.end(), chars);
        c.n = at;
        c.size = uint32_t(v.binary.size());
        break;
      }
      default:
        c.n = v.i;
        break;
    }
    cells.push_back(c);
  }

  const Cell& At(size_t row, size_t column) const { return cells[row * width + column]; }

  bool Same(const Value& v, const Cell& c) const {
    if (v.kind != c.kind) return false;
    switch (c.kind) {
      case Value::Kind::kNull:
        return true;
      case Value::Kind::kDouble:
      case Value::Kind::kDateTime:
        return v.d == std::bit_cast<double>(c.n);
      case Value::Kind::kText:
        return std::u16string_view(v.text) == Chars(c);
      case Value::Kind::kBinary: {
        const std::u16string_view chars = Chars(c);
        return v.binary.size() == c.size &&
               std::equal(v.binary.begin(), v.binary.end(), chars.begin(),
                          [](uint8_t x, char16_t y) { return char16_t(x) == y; });
      }
      default:
        return v.i == c.n;
    }
  }

  Value ToValue(const Cell& c) const {
    switch (c.kind) {
      case Value::Kind::kNull:
        return Value::Null();
      case Value::Kind::kDouble:
        return Value::Double(std::bit_cast<double>(c.n));
      case Value::Kind::kDateTime:
        return Value::DateTime(std::bit_cast<double>(c.n));
      case Value::Kind::kText:
        return Value::Str(std::u16string(Chars(c)));
      case Value::Kind::kBinary: {
        const std::u16string_view chars = Chars(c);
        return Value::Blob(jet::Bytes(chars.begin(), chars.end()));
      }
      default: {
        Value v;
        v.kind = c.kind;
        v.i = c.n;
        return v;
      }
    }
  }
};

// The output table as the database defines it: where each of the schema's
// columns is in the database's rows, and what it starts with in a new row.
struct TableShape {
  const OutputTable* table = nullptr;
  std::string name;                 // the table's name, UTF-8, for messages
  jet::TableDef def;
  std::vector<size_t> position;     // schema column -> index in def.columns
  std::vector<Value> defaults;      // schema column -> its value in a new row
  std::vector<Status> default_ok;   // schema column -> whether that value is known
  size_t key_a = 0, key_b = 0;      // schema columns of the key
  bool two_part_key = false;
};

Status ShapeOf(const jet::DatabaseReader& reader, int index, TableShape* shape) {
  shape->table = &OutputTableAt(index);
  shape->name = Utf16ToUtf8(shape->table->name);
  const std::string place = "table " + shape->name;
  if (reader.FindTable(shape->table->name) == nullptr) {
    return Status::NotFound(place + ": not in the database");
  }
  KP_RETURN_IF_ERROR(reader.ReadTableDef(shape->table->name, &shape->def).WithContext(place));
  const auto& columns = shape->table->columns;
  for (size_t c = 0; c < columns.size(); ++c) {
    const jet::ColumnDef* col = shape->def.FindColumn(columns[c].name);
    if (col == nullptr) {
      return Status::NotFound(place + ": no column " + Utf16ToUtf8(columns[c].name));
    }
    shape->position.push_back(size_t(col - shape->def.columns.data()));
    Value v;
    shape->default_ok.push_back(jet::DefaultFor(*col, jet::RulesOf(shape->def, *col), &v));
    shape->defaults.push_back(std::move(v));
    const std::u16string_view name = columns[c].name;
    if (name == column::kNo || name == column::kPageNo) shape->key_a = c;
    if (name == column::kID) {
      shape->key_b = c;
      shape->two_part_key = true;
    }
  }
  return Status::OK();
}

// The row set the row mapping writes into: it keeps each row, its values
// converted into the database's column types, in an ExpectedTable.
class ExpectedRowset : public jet::Recordset {
 public:
  ExpectedRowset(const TableShape& shape, ExpectedTable* out)
      : shape_(shape), out_(out), row_(shape.position.size()), assigned_(shape.position.size()) {
    out_->width = shape.position.size();
  }

  Status AddNew() override {
    for (size_t c = 0; c < row_.size(); ++c) {
      row_[c] = shape_.defaults[c];
      assigned_[c] = false;
    }
    return Status::OK();
  }
  Status FindColumn(std::u16string_view name, int* position) override {
    const auto& columns = shape_.table->columns;
    for (size_t c = 0; c < columns.size(); ++c) {
      if (name == columns[c].name) {
        *position = int(c);
        return Status::OK();
      }
    }
    return Status::NotFound("no column " + Utf16ToUtf8(std::u16string(name)));
  }
  Status SetField(const std::u16string& name, const Value& value) override {
    int p = -1;
    KP_RETURN_IF_ERROR(FindColumn(name, &p));
    return SetFieldAt(p, value);
  }
  Status SetFieldAt(int position, const Value& value) override {
    if (position < 0 || size_t(position) >= row_.size()) return Status::InvalidArgument("no column position");
    const jet::ColumnDef& column = shape_.def.columns[shape_.position[size_t(position)]];
    assigned_[size_t(position)] = true;
    return jet::ConvertValue(column, value, &row_[size_t(position)]);
  }
  Status SetIntegerAt(int position, int64_t n) override { return SetFieldAt(position, Value::Int(n)); }
  Status SetTextAt(int position, std::u16string_view text) override {
    return SetFieldAt(position, Value::Str(std::u16string(text)));
  }
  Status Update() override {
    for (size_t c = 0; c < row_.size(); ++c) {
      if (!assigned_[c] && !shape_.default_ok[c].ok()) {
        return shape_.default_ok[c].WithContext("column " + Utf16ToUtf8(shape_.table->columns[c].name));
      }
    }
    Key key;
    if (!WholeNumber(row_[shape_.key_a], &key.a) ||
        (shape_.two_part_key && !WholeNumber(row_[shape_.key_b], &key.b))) {
      return Status::InvalidArgument("a key column takes no whole number");
    }
    if (!out_->keys.empty() && !(out_->keys.back() < key)) {
      return Status::InvalidArgument("the document's keys are not in order");
    }
    out_->keys.push_back(key);
    for (const Value& v : row_) out_->Push(v);
    return Status::OK();
  }
  Status Close() override { return Status::OK(); }

 private:
  const TableShape& shape_;
  ExpectedTable* out_;
  jet::Row row_;
  std::vector<bool> assigned_;
};

class ExpectedDatabase : public jet::Database {
 public:
  ExpectedDatabase(const TableShape& shape, ExpectedTable* out) : shape_(shape), out_(out) {}
  Status OpenRecordset(const std::u16string& query, std::unique_ptr<jet::Recordset>* result) override {
    if (query != shape_.table->query) return Status::InvalidArgument("unexpected query");
    *result = std::make_unique<ExpectedRowset>(shape_, out_);
    return Status::OK();
  }
  Status Close() override { return Status::OK(); }

 private:
  const TableShape& shape_;
  ExpectedTable* out_;
};

// "No 4" or "PageNo 2, ID 3", from the values of the key columns.
std::string RowName(const TableShape& shape, const Value& a, const Value& b) {
  const auto& columns = shape.table->columns;
  std::string s = Utf16ToUtf8(columns[shape.key_a].name) + " " + jet::ValueText(a);
  if (shape.two_part_key) s += ", " + Utf16ToUtf8(columns[shape.key_b].name) + " " + jet::ValueText(b);
  return s;
}
std::string RowName(const TableShape& shape, const Key& key) {
  return RowName(shape, Value::Int(key.a), Value::Int(key.b));
}

// Compares one table; fills `difference` with its first difference, if any.
Status VerifyTable(const ControlDocument& doc, const jet::DatabaseReader& reader, int index,
                   int64_t* rows, std::string* difference) {
  TableShape shape;
  KP_RETURN_IF_ERROR(ShapeOf(reader, index, &shape));
  const std::string place = "table " + shape.name;

  ExpectedTable expected;
  {
    ExpectedDatabase db(shape, &expected);
    KP_RETURN_IF_ERROR(WriteTable(doc, index, db, {}).WithContext("document"));
  }
  const size_t n = expected.keys.size();
  const size_t width = expected.width;

  enum : uint8_t { kUnmatched, kSame, kDiffers };
  std::vector<uint8_t> state(n, kUnmatched);
  std::vector<uint32_t> differing_row;  // expected row -> file place of the row that differs
  // The first extra row: its key and how it is named.
  Key extra_key{kOddKey, kOddKey};
  std::string extra_name;
  auto offer_extra = [&](const Key& key, const jet::Row& row) {
    if (!(key < extra_key)) return;
    extra_key = key;
    extra_name = RowName(shape, row[shape.position[shape.key_a]],
                         shape.two_part_key ? row[shape.position[shape.key_b]] : Value::Int(0));
  };

  auto short_row = [&](const jet::Row& row, uint32_t here) {
    return Status::Corruption("row " + std::to_string(here + 1) + " has " + std::to_string(row.size()) +
                              " values for " + std::to_string(shape.def.columns.size()) + " columns");
  };
  auto row_key = [&](const jet::Row& row, uint32_t place_in_file, Key* key) {
    if (WholeNumber(row[shape.position[shape.key_a]], &key->a) &&
        (!shape.two_part_key || WholeNumber(row[shape.position[shape.key_b]], &key->b))) {
      if (!shape.two_part_key) key->b = 0;
      return key->a != kOddKey;
    }
    *key = {kOddKey, int64_t(place_in_file)};
    return false;
  };
  auto same_row = [&](const jet::Row& row, size_t e, size_t* column) {
    for (size_t c = 0; c < width; ++c) {
      if (!expected.Same(row[shape.position[c]], expected.At(e, c))) {
        *column = c;
        return false;
      }
    }
    return true;
  };

  uint32_t place_in_file = 0;
  size_t next = 0;  // the expected row after the last one found
  Status s = reader.ForEachRow(shape.def, [&](uint32_t, const jet::Row& row) -> Status {
    const uint32_t here = place_in_file++;
    if ((here & 4095) == 4095) reader.file().DropResident();
    if (row.size() != shape.def.columns.size()) return short_row(row, here);
    Key key;
    if (!row_key(row, here, &key)) {
      offer_extra(key, row);
      return Status::OK();
    }
    size_t e = next;
    if (e >= n || expected.keys[e] != key) {
      e = size_t(std::lower_bound(expected.keys.begin(), expected.keys.end(), key) - expected.keys.begin());
      if (e >= n || expected.keys[e] != key) {
        offer_extra(key, row);
        return Status::OK();
      }
    }
    next = e + 1;
    size_t column = 0;
    const bool same = same_row(row, e, &column);
    if (state[e] == kSame || (state[e] == kDiffers && !same)) {
      offer_extra(key, row);
    } else if (same) {
      if (state[e] == kDiffers) offer_extra(key, row);  // the differing one is the extra row
      state[e] = kSame;
    } else {
      if (differing_row.empty()) differing_row.resize(n);
      differing_row[e] = here;
      state[e] = kDiffers;
    }
    return Status::OK();
  });
  reader.file().DropResident();
  KP_RETURN_IF_ERROR(s.WithContext(place));

  size_t first = 0;
  while (first < n && state[first] == kSame) ++first;
  if (first < n && !(extra_key < expected.keys[first])) {
    const std::string row_place = place + ", row " + RowName(shape, expected.keys[first]);
    if (state[first] == kUnmatched) {
      *difference = row_place + ": missing from the database";
      return Status::OK();
    }
    // Read the differing row again to name its column and values.
    const uint32_t wanted = differing_row[first];
    uint32_t at = 0;
    const Status found = Status::NotFound("found");
    s = reader.ForEachRow(shape.def, [&](uint32_t, const jet::Row& row) -> Status {
      if (at++ != wanted) return Status::OK();
      if (row.size() != shape.def.columns.size()) return short_row(row, wanted);
      size_t column = 0;
      same_row(row, first, &column);
      const Value& got = row[shape.position[column]];
      *difference = row_place + ", column " + Utf16ToUtf8(shape.table->columns[column].name) +
                    ": expected " + jet::ValueText(expected.ToValue(expected.At(first, column))) +
                    ", found " + jet::ValueText(got);
      return found;
    });
    reader.file().DropResident();
    if (!difference->empty()) return Status::OK();
    // The file changed under the reader: never taken for a match.
    return s.ok() ? Status::IOError(place + ": row " + std::to_string(wanted + 1) + " not found again")
                  : s.WithContext(place);
  }
  if (!extra_name.empty()) {
    *difference = place + ", row " + extra_name + ": extra row, not in the document";
    return Status::OK();
  }
  *rows += int64_t(n);
  return Status::OK();
}

}  // namespace

Status CheckStructure(const std::string& path) {
  jet::CheckReport report;
  KP_RETURN_IF_ERROR(jet::CheckDatabase(path, {}, &report));
  size_t problems = 0;
  const jet::CheckProblem* first = nullptr;
  for (const jet::CheckProblem& p : report.problems) {
    if (p.tolerated) continue;
    if (first == nullptr) first = &p;
    ++problems;
  }
  if (first == nullptr) return Status::OK();
  std::string more = problems > 1 ? " (and " + std::to_string(problems - 1) + " more problems)" : "";
  return Status::Corruption(first->ToString() + more);
}

Status VerifyDatabase(const ControlDocument& doc, const std::string& path, VerifyResult* result) {
  *result = VerifyResult();
  std::unique_ptr<jet::DatabaseReader> reader;
  KP_RETURN_IF_ERROR(jet::DatabaseReader::OpenMapped(path, &reader));
  for (int t = 0; t < kOutputTableCount; ++t) {
    KP_RETURN_IF_ERROR(VerifyTable(doc, *reader, t, &result->rows, &result->difference));
    if (!result->difference.empty()) {
      result->rows = 0;
      return Status::OK();
    }
  }
  result->same = true;
  return Status::OK();
}

}  // namespace kp
