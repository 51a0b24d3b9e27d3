#include "jet/props.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "jet/format.h"

namespace kp::jet {

namespace {

std::u16string DecodeUcs2(const uint8_t* p, size_t n) {
  std::u16string s;
  for (size_t i = 0; i + 1 < n; i += 2) s.push_back(char16_t(GetU16(p + i)));
  return s;
}

void AppendName(const std::u16string& name, Bytes* out) {
  AppendU16(out, uint16_t(name.size() * 2));
  for (char16_t c : name) AppendU16(out, uint16_t(c));
}

Status Bad(size_t offset, const std::string& what) {
  return Status::Corruption("property blob: " + what + " at offset " + std::to_string(offset));
}

}  // namespace

Status ParsePropertyBlob(const uint8_t* data, size_t size, PropertySet* props) {
  *props = PropertySet();
  if (size < 4 || std::memcmp(data, kPropertyMagic, 4) != 0) return Bad(0, "no MR2 signature");
  std::vector<std::u16string> names;
  size_t pos = 4;
  while (pos < size) {
    if (size - pos < 6) return Bad(pos, "truncated chunk header");
    const uint32_t len = GetU32(data + pos);
    const uint16_t type = GetU16(data + pos + 4);
    if (len < 6 || len > size - pos) return Bad(pos, "chunk length " + std::to_string(len));
    const size_t end = pos + len;
    size_t p = pos + 6;
    if (type == kPropertyChunkNames) {
      while (p < end) {
        if (end - p < 2) return Bad(p, "truncated name");
        const uint16_t n = GetU16(data + p);
        if (n > end - p - 2) return Bad(p, "name length " + std::to_string(n));
        names.push_back(DecodeUcs2(data + p + 2, n));
        p += 2 + n;
      }
    } else if (type == kPropertyChunkObject || type == kPropertyChunkColumn) {
      std::u16string map_name;
      if (p < end) {
        if (end - p < 4) return Bad(p, "truncated name block");
        const uint32_t block = GetU32(data + p);
        if (block < 4 || block > end - p) return Bad(p, "name block length " + std::to_string(block));
        if (block >= 6) {
          const uint16_t n = GetU16(data + p + 4);
          if (n > block - 6) return Bad(p, "map name length " + std::to_string(n));
          map_name = DecodeUcs2(data + p + 6, n);
        }
        p += block;
      }
      PropertyMap& map = type == kPropertyChunkObject ? props->table : props->columns[map_name];
      while (p < end) {
        if (end - p < 8) return Bad(p, "truncated property entry");
        const uint16_t entry_len = GetU16(data + p);
        const uint8_t ddl = data[p + 2];
        const uint8_t value_type = data[p + 3];
        const uint16_t name_index = GetU16(data + p + 4);
        const uint16_t value_len = GetU16(data + p + 6);
        if (entry_len < 8 || entry_len > end - p || value_len > entry_len - 8) {
          return Bad(p, "property entry length " + std::to_string(entry_len));
        }
        if (name_index >= names.size()) return Bad(p, "property name index " + std::to_string(name_index));
        Property prop;
        prop.type = value_type;
        prop.ddl_flag = ddl;
        prop.value.assign(data + p + 8, data + p + 8 + value_len);
        map[names[name_index]] = std::move(prop);
        p += entry_len;
      }
    } else {
      props->has_unknown_chunks = true;
    }
    pos = end;
  }
  return Status::OK();
}

Status SerializePropertySet(const PropertySet& props, Bytes* blob, const std::vector<std::u16string>* column_order) {
  blob->clear();
  // Columns in the order asked for, then the rest by name.
  std::vector<const std::pair<const std::u16string, PropertyMap>*> columns;
  std::set<std::u16string> placed;
  if (column_order != nullptr) {
    for (const auto& name : *column_order) {
      auto it = props.columns.find(name);
      if (it != props.columns.end() && !it->second.empty() && placed.insert(name).second) columns.push_back(&*it);
    }
  }
  for (const auto& entry : props.columns) {
    if (!entry.second.empty() && !placed.count(entry.first)) columns.push_back(&entry);
  }
  std::vector<std::u16string> names;
  auto add_names = [&names](const PropertyMap& map) {
    for (const auto& [name, prop] : map) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  };
  add_names(props.table);
  for (const auto* c : columns) add_names(c->second);
  if (names.empty()) return Status::OK();
  if (names.size() > 0xFFFF) return Status::InvalidArgument("too many property names");

  AppendBytes(blob, kPropertyMagic, 4);
  auto begin_chunk = [blob](uint16_t type) {
    const size_t start = blob->size();
    AppendU32(blob, 0);     // chunk length, patched by end_chunk
    AppendU16(blob, type);  // chunk type
    return start;
  };
  auto end_chunk = [blob](size_t start) { PutU32(blob->data() + start, uint32_t(blob->size() - start)); };

  size_t chunk = begin_chunk(kPropertyChunkNames);
  for (const auto& name : names) AppendName(name, blob);
  end_chunk(chunk);

  auto write_map = [&](uint16_t type, const std::u16string& map_name, const PropertyMap& map) -> Status {
    const size_t start = begin_chunk(type);
    AppendU32(blob, uint32_t(4 + 2 + 2 * map_name.size()));  // name block length
    AppendName(map_name, blob);
    for (size_t i = 0; i < names.size(); ++i) {
      auto it = map.find(names[i]);
      if (it == map.end()) continue;
      const Property& p = it->second;
      if (p.value.size() > 0xFFFF - 8) return Status::InvalidArgument("property value too long");
      AppendU16(blob, uint16_t(8 + p.value.size()));  // entry length
      AppendU8(blob, p.ddl_flag);                     // DDL flag
      AppendU8(blob, p.type);                         // value type
      AppendU16(blob, uint16_t(i));                   // name index
      AppendU16(blob, uint16_t(p.value.size()));      // value length
      AppendBytes(blob, p.value.data(), p.value.size());
    }
    end_chunk(start);
    return Status::OK();
  };
  if (!props.table.empty()) KP_RETURN_IF_ERROR(write_map(kPropertyChunkObject, u"", props.table));
  for (const auto* c : columns) KP_RETURN_IF_ERROR(write_map(kPropertyChunkColumn, c->first, c->second));
  return Status::OK();
}

Property TextProperty(const std::u16string& text, ColumnType type, uint8_t ddl_flag) {
  Property p;
  p.type = uint8_t(type);
  p.ddl_flag = ddl_flag;
  for (char16_t c : text) AppendU16(&p.value, uint16_t(c));
  return p;
}

Property BoolProperty(bool value, uint8_t ddl_flag) {
  Property p;
  p.type = uint8_t(ColumnType::kBoolean);
  p.ddl_flag = ddl_flag;
  p.value.push_back(value ? 1 : 0);
  return p;
}

Property LongProperty(int32_t value, uint8_t ddl_flag) {
  Property p;
  p.type = uint8_t(ColumnType::kLong);
  p.ddl_flag = ddl_flag;
  AppendU32(&p.value, uint32_t(value));
  return p;
}

std::optional<std::u16string> PropertyText(const Property& p) {
  if (p.type != uint8_t(ColumnType::kText) && p.type != uint8_t(ColumnType::kMemo)) return std::nullopt;
  return DecodeUcs2(p.value.data(), p.value.size());
}

std::optional<bool> PropertyBool(const Property& p) {
  if (p.type != uint8_t(ColumnType::kBoolean) || p.value.empty()) return std::nullopt;
  return p.value[0] != 0;
}

const Property* FindColumnProperty(const PropertySet& props, const std::u16string& column,
                                   const std::u16string& name) {
  auto c = props.columns.find(column);
  if (c == props.columns.end()) return nullptr;
  auto p = c->second.find(name);
  return p == c->second.end() ? nullptr : &p->second;
}

std::optional<std::u16string> ColumnDefaultValue(const PropertySet& props, const std::u16string& column) {
  const Property* p = FindColumnProperty(props, column, u"DefaultValue");
  return p ? PropertyText(*p) : std::nullopt;
}
std::optional<bool> ColumnRequired(const PropertySet& props, const std::u16string& column) {
  const Property* p = FindColumnProperty(props, column, u"Required");
  return p ? PropertyBool(*p) : std::nullopt;
}
std::optional<bool> ColumnAllowZeroLength(const PropertySet& props, const std::u16string& column) {
  const Property* p = FindColumnProperty(props, column, u"AllowZeroLength");
  return p ? PropertyBool(*p) : std::nullopt;
}
std::optional<std::u16string> ColumnValidationRule(const PropertySet& props, const std::u16string& column) {
  const Property* p = FindColumnProperty(props, column, u"ValidationRule");
  return p ? PropertyText(*p) : std::nullopt;
}

}  // namespace kp::jet
