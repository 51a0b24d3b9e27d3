// The engine of this layer: a database opened for appending (pager plus one
// appender per table), row sets over it, and compaction (compact.h).
//
// A database and the row sets it hands out share one state object, so that
// either may be released first: releasing the database writes what was
// updated and leaves its row sets good for nothing but Close().
#include "jet/engine.h"

#include <algorithm>
#include <map>
#include <set>

#include "jet/compact.h"
#include "jet/defaults.h"
#include "jet/format.h"
#include "jet/pager.h"
#include "jet/query.h"
#include "jet/reader.h"
#include "jet/table_appender.h"
#include "jet/values.h"

namespace kp::jet {

namespace {

// Changed pages held before the database writes them out on its own.
constexpr size_t kFlushPages = 1024;  // 4 MiB

// The local table `name`, with its properties.
Status FindUserTable(const DatabaseReader& reader, const std::u16string& name, TableDef* def) {
  const CatalogEntry* e = reader.FindTable(name);
  if (e == nullptr || !e->is_table()) return Status::NotFound("no table named " + Utf16ToUtf8(name));
  if (e->is_system()) return Status::NotSupported(Utf16ToUtf8(e->name) + " is a system table: rows are not appended to it");
  return reader.ReadTableDefAt(e->tdef_page(), def);
}

// `*v = d`, keeping the buffers of `v` when `d` is Null (the common default).
void ResetValue(const Value& d, Value* v) {
  if (!d.is_null()) {
    *v = d;
    return;
  }
  v->kind = Value::Kind::kNull;
  v->i = 0;
  v->d = 0;
  v->text.clear();
  v->binary.clear();
}

struct DatabaseState {
  std::string path;
  std::unique_ptr<DatabaseReader> reader;
  std::unique_ptr<Pager> pager;
  std::map<uint32_t, std::unique_ptr<TableAppender>> appenders;  // by TDEF page
  std::set<uint32_t> joined;  // appenders that check their relationships
  bool closed = false;
  Status failure;  // a failed write: the database takes no more rows
  bool broken() const { return closed || !failure.ok(); }

  void Fail(const Status& s) { failure = s; }

  // The appender of the table `def`, opened once and kept.
  Status AppenderFor(const TableDef& def, TableAppender** result) {
    auto& appender = appenders[def.tdef_page];
    if (!appender) {
      const HeaderInfo& h = reader->header();
      const bool general_legacy = h.sort_order == kSortOrderGeneral && h.sort_version == kSortVersionGeneralLegacy;
      Status s = TableAppender::Open(pager.get(), def, general_legacy, &appender);
      if (!s.ok()) {
        appenders.erase(def.tdef_page);
        return s;
      }
    }
    *result = appender.get();
    return Status::OK();
  }
  // Makes `a` check each row against the tables it refers to, through
  // their appenders, so that rows appended to them count at once.
  Status Join(TableAppender* a) {
    const TableDef& def = a->def();
    if (joined.count(def.tdef_page) != 0) return Status::OK();
    a->ClearReferences();
    for (const LogicalIndex& li : def.logical_indexes) {
      if (li.kind != kIndexKindForeignKey || li.raw.size() < kTdefLogicalIndexBytes ||
          li.raw[kLogicalIndexReferenceTypeOffset] != kReferencingTable) {
        continue;
      }
      const uint32_t other_index = GetU32(&li.raw[kLogicalIndexOtherIndexOffset]);
      const uint32_t other_page = GetU32(&li.raw[kLogicalIndexOtherTableOffset]);
      if (other_index == kNoOtherIndex) continue;
      const std::string what = "table " + Utf16ToUtf8(def.name) + " refers to another table through the relationship " +
                               Utf16ToUtf8(li.name) + ", whose keys cannot be looked up";
      TableAppender* other = a;
      if (other_page != def.tdef_page) {
        TableDef other_def;
        KP_RETURN_IF_ERROR(reader->ReadTableDefAt(other_page, &other_def).WithContext(what));
        KP_RETURN_IF_ERROR(AppenderFor(other_def, &other).WithContext(what));
      }
      KP_RETURN_IF_ERROR(a->AddReference(li.name, li.physical_index, other, other_index));
    }
    joined.insert(def.tdef_page);
    return Status::OK();
  }

  // `durable`: the file's data reaches the disk too (once, at close).
  Status WriteOut(bool durable = false) {
    for (auto& [page, a] : appenders) KP_RETURN_IF_ERROR(a->Sync());
    KP_RETURN_IF_ERROR(durable ? pager->Sync() : pager->Flush());
    pager->DropClean();
    return Status::OK();
  }
  Status Usable() const {
    if (closed) return Status::InvalidArgument("the database is closed");
    return failure;
  }
};

class JetRecordset : public Recordset {
 public:
  JetRecordset(std::shared_ptr<DatabaseState> db, TableAppender* appender, std::vector<ColumnRules> rules,
               Row defaults)
      : db_(std::move(db)), appender_(appender), rules_(std::move(rules)), defaults_(std::move(defaults)) {
    const TableDef& def = appender_->def();
    checked_ = CheckedColumns(def, rules_);
    for (const ColumnDef& c : def.columns) whole_ranges_.push_back(WholeRangeOf(c.type));
    for (size_t i = 0; i < def.columns.size(); ++i) {
      if ((def.columns[i].flags & kColumnAutoLong) != 0) autonumber_ = int(i);
    }
  }

  Status AddNew() override {
    if (!usable()) return Usable();
    if (row_.size() != defaults_.size()) {
      row_ = defaults_;
      set_in_.assign(row_.size(), 0);
    }
    if (++row_serial_ == 0) {  // after 2^32 rows
      std::fill(set_in_.begin(), set_in_.end(), 0);
      row_serial_ = 1;
    }
    if (autonumber_ >= 0) {
      row_[size_t(autonumber_)] = Value::Int(int64_t(appender_->next_autonumber()));
      set_in_[size_t(autonumber_)] = row_serial_;
    }
    editing_ = true;
    hint_ = 0;
    return Status::OK();
  }

  Status SetField(const std::u16string& column_name, const Value& value) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(Column(column_name, &i));
    return PutValue(i, value);
  }
  Status SetInteger(std::u16string_view column_name, int64_t n) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(Column(column_name, &i));
    return PutInteger(i, n);
  }
  Status SetText(std::u16string_view column_name, std::u16string_view text) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(Column(column_name, &i));
    return PutText(i, text);
  }

  Status FindColumn(std::u16string_view column_name, int* position) override {
    const auto& columns = appender_->def().columns;
    for (size_t i = 0; i < columns.size(); ++i) {
      if (columns[i].name == column_name) {
        *position = int(i);
        return Status::OK();
      }
    }
    return NoColumn(column_name);
  }
  Status SetFieldAt(int position, const Value& value) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(At(position, &i));
    return PutValue(i, value);
  }
  Status SetIntegerAt(int position, int64_t n) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(At(position, &i));
    return PutInteger(i, n);
  }
  Status SetTextAt(int position, std::u16string_view text) override {
    size_t i = 0;
    KP_RETURN_IF_ERROR(At(position, &i));
    return PutText(i, text);
  }

  Status Update() override {
    if (!usable()) return Usable();
    if (!editing_) return Fail(Status::InvalidArgument("Update without AddNew"));
    editing_ = false;
    // The columns not set take their defaults.
    for (size_t i = 0; i < row_.size(); ++i) {
      if (set_in_[i] != row_serial_) ResetValue(defaults_[i], &row_[i]);
    }
    Status s = CheckRow(appender_->def(), rules_, row_, checked_);
    if (s.ok()) s = appender_->Append(row_);
    if (!s.ok()) {
      // A row stored in part leaves nothing more to be written.
      if (appender_->damaged()) db_->Fail(s);
      return Fail(s);
    }
    if (db_->pager->dirty_count() >= kFlushPages) {
      s = db_->WriteOut();
      if (!s.ok()) {
        db_->Fail(s);
        return Fail(s);
      }
    }
    return Status::OK();
  }

  Status Close() override {
    closed_ = true;
    editing_ = false;  // a row never updated is dropped
    return Status::OK();
  }

 private:
  // The position of the column to assign, after the checks every setter
  // makes. The column after the last one set is tried first.
  Status Column(std::u16string_view column_name, size_t* index) {
    const auto& columns = appender_->def().columns;
    size_t i = hint_ < columns.size() && columns[hint_].name == column_name ? hint_ : columns.size();
    if (i == columns.size()) {
      for (i = 0; i < columns.size() && columns[i].name != column_name; ++i) {
      }
    }
    if (editing_ && !db_->broken() && i < columns.size() && int(i) != autonumber_) [[likely]] {
      hint_ = i + 1;
      set_in_[i] = row_serial_;
      *index = i;
      return Status::OK();
    }
    return Refusal(i < columns.size() ? int(i) : -1, column_name);
  }
  // The same for a position from FindColumn.
  Status At(int position, size_t* index) {
    if (editing_ && !db_->broken() && size_t(unsigned(position)) < row_.size() && position != autonumber_) [[likely]] {
      set_in_[size_t(position)] = row_serial_;
      *index = size_t(position);
      return Status::OK();
    }
    return Refusal(position, {});
  }
  // Why column `position` (-1: no column named `column_name`) cannot be set.
  [[gnu::noinline, gnu::cold]] Status Refusal(int position, std::u16string_view column_name) {
    if (!usable()) return Usable();
    if (!editing_) return Fail(Status::InvalidArgument("SetField without AddNew"));
    if (position == -1 && column_name.data() != nullptr) return Fail(NoColumn(column_name));
    if (position < 0 || size_t(position) >= row_.size()) {
      return Fail(Status::InvalidArgument("table " + Utf16ToUtf8(appender_->def().name) + " has no column at position " +
                                          std::to_string(position)));
    }
    return Fail(Status::InvalidArgument(ColumnLabel(appender_->def().columns[size_t(position)]) + " is an autonumber"));
  }
  Status NoColumn(std::u16string_view column_name) const {
    return Status::NotFound("table " + Utf16ToUtf8(appender_->def().name) + " has no column " +
                            Utf16ToUtf8(std::u16string(column_name)));
  }

  // The assignments themselves, to column `i` of the row.
  Status PutValue(size_t i, const Value& value) {
    Status s = ConvertValue(appender_->def().columns[i], value, &row_[i]);
    return s.ok() ? s : Fail(s);
  }
  Status PutInteger(size_t i, int64_t n) {
    const WholeRange& range = whole_ranges_[i];
    if (n < range.lo || n > range.hi) return PutValue(i, Value::Int(n));  // converted, or refused
    Value& v = row_[i];  // as Value::Int(n)
    v.kind = Value::Kind::kInteger;
    v.i = n;
    v.d = 0;
    v.text.clear();
    v.binary.clear();
    return Status::OK();
  }
  Status PutText(size_t i, std::u16string_view text) {
    const ColumnDef& c = appender_->def().columns[i];
    const bool fits = (c.type == ColumnType::kMemo && text.size() <= kMaxMemoChars) ||
                      (c.type == ColumnType::kText && text.size() <= c.length / 2u);
    if (!fits) return PutValue(i, Value::Str(std::u16string(text)));  // refused
    Value& v = row_[i];  // as Value::Str(text), its buffer kept from row to row
    v.kind = Value::Kind::kText;
    v.i = 0;
    v.d = 0;
    v.text.assign(text.data(), text.size());
    v.binary.clear();
    return Status::OK();
  }

  // Whether the row set can be used (Usable() says why not). A row is
  // edited (`editing_`) only in a usable row set.
  bool usable() const { return !closed_ && failure_.ok() && !db_->broken(); }
  Status Usable() const {
    if (closed_) return Status::InvalidArgument("the row set is closed");
    if (!failure_.ok()) {
      return Status::InvalidArgument("the row set failed earlier (" + failure_.message() + ") and can only be closed");
    }
    return db_->Usable();
  }
  Status Fail(Status s) {
    failure_ = s.WithContext("table " + Utf16ToUtf8(appender_->def().name));
    editing_ = false;
    return failure_;
  }

  std::shared_ptr<DatabaseState> db_;
  TableAppender* appender_;  // owned by db_
  std::vector<ColumnRules> rules_;
  std::vector<size_t> checked_;  // the columns with a rule CheckRow looks at
  std::vector<WholeRange> whole_ranges_;  // per column, WholeRangeOf its type
  Row defaults_;
  Row row_;
  // The columns set in the row being edited: set_in_[i] == row_serial_.
  std::vector<uint32_t> set_in_;
  uint32_t row_serial_ = 0;
  int autonumber_ = -1;
  size_t hint_ = 0;  // the column after the last one set: the likely next
  bool editing_ = false;
  bool closed_ = false;
  Status failure_;
};

class JetDatabase : public Database {
 public:
  explicit JetDatabase(std::shared_ptr<DatabaseState> state) : state_(std::move(state)) {}
  ~JetDatabase() override { Close(); }

  Status OpenRecordset(const std::u16string& query, std::unique_ptr<Recordset>* result) override {
    KP_RETURN_IF_ERROR(state_->Usable());
    std::u16string name;
    KP_RETURN_IF_ERROR(ParseTableQuery(query, &name));
    TableDef def;
    KP_RETURN_IF_ERROR(FindUserTable(*state_->reader, name, &def));
    std::vector<ColumnRules> rules;
    Row defaults;
    KP_RETURN_IF_ERROR(PrepareAppend(def, &rules, &defaults));
    TableAppender* appender = nullptr;
    KP_RETURN_IF_ERROR(state_->AppenderFor(def, &appender));
    KP_RETURN_IF_ERROR(state_->Join(appender));
    *result = std::make_unique<JetRecordset>(state_, appender, std::move(rules), std::move(defaults));
    return Status::OK();
  }

  Status Close() override {
    if (state_->closed) return Status::OK();
    Status s = state_->failure.ok() ? state_->WriteOut(/*durable=*/true) : state_->failure;
    state_->closed = true;
    state_->appenders.clear();
    state_->joined.clear();
    state_->pager.reset();
    state_->reader.reset();
    return s;
  }

 private:
  std::shared_ptr<DatabaseState> state_;
};

class JetEngine : public DBEngine {
 public:
  Status OpenDatabase(const std::string& path, std::unique_ptr<Database>* result) override {
    auto state = std::make_shared<DatabaseState>();
    state->path = path;
    KP_RETURN_IF_ERROR(DatabaseReader::Open(path, &state->reader));
    KP_RETURN_IF_ERROR(Pager::Open(path, &state->pager));
    *result = std::make_unique<JetDatabase>(std::move(state));
    return Status::OK();
  }

  Status CompactDatabase(const std::string& source, const std::string& destination) override {
    // The export's own output, written by this layer into a template that
    // passed the check before its first row: not checked again.
    CompactOptions options;
    options.check_source = false;
    return jet::CompactDatabase(source, destination, options);
  }
};

}  // namespace

Status Recordset::FindColumn(std::u16string_view column_name, int* position) {
  found_names_.emplace_back(column_name);
  *position = int(found_names_.size() - 1);
  return Status::OK();
}

Status Recordset::SetFieldAt(int position, const Value& value) {
  if (position < 0 || size_t(position) >= found_names_.size()) {
    return Status::InvalidArgument("no column at position " + std::to_string(position));
  }
  return SetField(found_names_[size_t(position)], value);
}

Status Recordset::SetIntegerAt(int position, int64_t n) { return SetFieldAt(position, Value::Int(n)); }

Status Recordset::SetTextAt(int position, std::u16string_view text) {
  return SetFieldAt(position, Value::Str(std::u16string(text)));
}

std::unique_ptr<DBEngine> CreateJetEngine() { return std::make_unique<JetEngine>(); }

}  // namespace kp::jet
