#include "metadata.hpp"

namespace tremora::parquet::meta {

using thrift::Reader;
using thrift::Type;
using thrift::Writer;

// ---------------------------------------------------------------------------
// Writing

namespace {

void write_logical(Writer& w, const LogicalType& t) {
  using K = LogicalType::Kind;
  w.field_struct(10);
  switch (t.kind) {
    case K::String:
      w.field_struct(1);
      w.end_struct();
      break;
    case K::Timestamp:
      w.field_struct(8);
      w.field_bool(1, t.adjusted_to_utc);
      w.field_struct(2);
      w.field_struct(t.unit == TimeUnit::Millis ? 1 : t.unit == TimeUnit::Micros ? 2 : 3);
      w.end_struct();
      w.end_struct();
      w.end_struct();
      break;
    default: break;
  }
  w.end_struct();
}

void write_schema_element(Writer& w, const SchemaElement& e) {
  w.element_struct();
  if (e.type) w.field_i32(1, int32_t(*e.type));
  if (e.type_length) w.field_i32(2, e.type_length);
  if (e.repetition) w.field_i32(3, int32_t(*e.repetition));
  w.field_binary(4, e.name);
  if (e.num_children) w.field_i32(5, e.num_children);
  if (e.converted_type) w.field_i32(6, *e.converted_type);
  if (e.logical.kind != LogicalType::Kind::None) write_logical(w, e.logical);
  w.end_struct();
}

void write_column_meta(Writer& w, const ColumnMetaData& m) {
  w.field_struct(3);
  w.field_i32(1, int32_t(m.type));
  w.field_list(2, Type::I32, m.encodings.size());
  for (auto e : m.encodings) w.element_i32(int32_t(e));
  w.field_list(3, Type::Binary, m.path.size());
  for (const auto& p : m.path) w.element_binary(p);
  w.field_i32(4, int32_t(m.codec));
  w.field_i64(5, m.num_values);
  w.field_i64(6, m.total_uncompressed_size);
  w.field_i64(7, m.total_compressed_size);
  w.field_i64(9, m.data_page_offset);
  if (m.dictionary_page_offset) w.field_i64(11, *m.dictionary_page_offset);
  if (m.statistics) write_statistics(w, 12, *m.statistics);
  w.end_struct();
}

}  // namespace

void write_statistics(Writer& w, int16_t id, const Statistics& s) {
  w.field_struct(id);
  if (s.null_count) w.field_i64(3, *s.null_count);
  if (s.max_value) w.field_binary(5, *s.max_value);
  if (s.min_value) w.field_binary(6, *s.min_value);
  w.end_struct();
}

void write(Writer& w, const FileMetaData& m) {
  w.begin_struct();
  w.field_i32(1, m.version);
  w.field_list(2, Type::Struct, m.schema.size());
  for (const auto& e : m.schema) write_schema_element(w, e);
  w.field_i64(3, m.num_rows);
  w.field_list(4, Type::Struct, m.row_groups.size());
  for (const auto& g : m.row_groups) {
    w.element_struct();
    w.field_list(1, Type::Struct, g.columns.size());
    for (const auto& c : g.columns) {
      w.element_struct();
      w.field_i64(2, c.file_offset);
      if (c.meta) write_column_meta(w, *c.meta);
      w.end_struct();
    }
    w.field_i64(2, g.total_byte_size);
    w.field_i64(3, g.num_rows);
    w.end_struct();
  }
  if (!m.key_value_metadata.empty()) {
    w.field_list(5, Type::Struct, m.key_value_metadata.size());
    for (const auto& kv : m.key_value_metadata) {
      w.element_struct();
      w.field_binary(1, kv.key);
      if (kv.value) w.field_binary(2, *kv.value);
      w.end_struct();
    }
  }
  if (!m.created_by.empty()) w.field_binary(6, m.created_by);
  if (m.column_orders) {
    w.field_list(7, Type::Struct, m.column_orders);
    for (std::size_t i = 0; i < m.column_orders; ++i) {
      w.element_struct();
      w.field_struct(1);  // TypeDefinedOrder
      w.end_struct();
      w.end_struct();
    }
  }
  w.end_struct();
}

void write(Writer& w, const PageHeader& h) {
  w.begin_struct();
  w.field_i32(1, int32_t(h.type));
  w.field_i32(2, h.uncompressed_page_size);
  w.field_i32(3, h.compressed_page_size);
  if (h.data) {
    w.field_struct(5);
    w.field_i32(1, h.data->num_values);
    w.field_i32(2, int32_t(h.data->encoding));
    w.field_i32(3, int32_t(h.data->definition_level_encoding));
    w.field_i32(4, int32_t(h.data->repetition_level_encoding));
    w.end_struct();
  }
  if (h.dictionary) {
    w.field_struct(7);
    w.field_i32(1, h.dictionary->num_values);
    w.field_i32(2, int32_t(h.dictionary->encoding));
    w.end_struct();
  }
  if (h.data_v2) {
    const DataPageHeaderV2& v2 = *h.data_v2;
    w.field_struct(8);
    w.field_i32(1, v2.num_values);
    w.field_i32(2, v2.num_nulls);
    w.field_i32(3, v2.num_rows);
    w.field_i32(4, int32_t(v2.encoding));
    w.field_i32(5, v2.definition_levels_byte_length);
    w.field_i32(6, v2.repetition_levels_byte_length);
    w.field_bool(7, v2.is_compressed);
    w.end_struct();
  }
  w.end_struct();
}

// ---------------------------------------------------------------------------
// Reading

namespace {

// Calls `on_field(id, type)` for each field of a struct; the callback reads
// the fields it knows and returns false for the others, which are skipped.
template <typename F>
void read_struct(Reader& r, F&& on_field) {
  r.begin_struct();
  int16_t id;
  Type type;
  while (r.next_field(id, type))
    if (!on_field(id, type)) r.skip(type);
}

template <typename F>
void read_list_of(Reader& r, Type type, Type expected, F&& on_element) {
  Type element;
  std::size_t n = r.read_list(type, element);
  if (n && element != expected) {
    for (std::size_t i = 0; i < n; ++i) r.skip(element);
    return;
  }
  for (std::size_t i = 0; i < n; ++i) on_element();
}

TimeUnit read_time_unit(Reader& r) {
  TimeUnit unit = TimeUnit::Millis;
  read_struct(r, [&](int16_t id, Type t) {
    if (t != Type::Struct) return false;
    unit = id == 1 ? TimeUnit::Millis : id == 2 ? TimeUnit::Micros : TimeUnit::Nanos;
    r.skip(t);
    return true;
  });
  return unit;
}

LogicalType read_logical(Reader& r) {
  using K = LogicalType::Kind;
  LogicalType lt;
  read_struct(r, [&](int16_t id, Type t) {
    if (t != Type::Struct) return false;
    switch (id) {
      case 1: lt.kind = K::String; return false;
      case 4: lt.kind = K::Enum; return false;
      case 6: lt.kind = K::Date; return false;
      case 11: lt.kind = K::Unknown; return false;
      case 12: lt.kind = K::Json; return false;
      case 14: lt.kind = K::Uuid; return false;
      case 15: lt.kind = K::Float16; return false;
      case 5:
        lt.kind = K::Decimal;
        read_struct(r, [&](int16_t f, Type ft) {
          if (f == 1) lt.scale = r.read_i32(ft);
          else if (f == 2) lt.precision = r.read_i32(ft);
          else return false;
          return true;
        });
        return true;
      case 7:
      case 8:
        lt.kind = id == 7 ? K::Time : K::Timestamp;
        read_struct(r, [&](int16_t f, Type ft) {
          if (f == 1) lt.adjusted_to_utc = r.read_bool(ft);
          else if (f == 2 && ft == Type::Struct) lt.unit = read_time_unit(r);
          else return false;
          return true;
        });
        return true;
      case 10:
        lt.kind = K::Integer;
        read_struct(r, [&](int16_t f, Type ft) {
          if (f == 1) lt.bit_width = r.read_i32(ft);
          else if (f == 2) lt.is_signed = r.read_bool(ft);
          else return false;
          return true;
        });
        return true;
      default: lt.kind = K::Other; return false;
    }
  });
  return lt;
}

SchemaElement read_schema_element(Reader& r) {
  SchemaElement e;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 1: e.type = PhysicalType(r.read_i32(t)); return true;
      case 2: e.type_length = r.read_i32(t); return true;
      case 3: e.repetition = Repetition(r.read_i32(t)); return true;
      case 4: e.name = r.read_binary(t); return true;
      case 5: e.num_children = r.read_i32(t); return true;
      case 6: e.converted_type = r.read_i32(t); return true;
      case 7: e.scale = r.read_i32(t); return true;
      case 8: e.precision = r.read_i32(t); return true;
      case 10:
        if (t != Type::Struct) return false;
        e.logical = read_logical(r);
        return true;
      default: return false;
    }
  });
  return e;
}

Statistics read_statistics(Reader& r) {
  Statistics s;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 3: s.null_count = r.read_i64(t); return true;
      case 5: s.max_value = r.read_binary(t); return true;
      case 6: s.min_value = r.read_binary(t); return true;
      default: return false;
    }
  });
  return s;
}

ColumnMetaData read_column_meta(Reader& r) {
  ColumnMetaData m;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 1: m.type = PhysicalType(r.read_i32(t)); return true;
      case 2:
        read_list_of(r, t, Type::I32, [&] { m.encodings.push_back(Encoding(r.read_i32_element())); });
        return true;
      case 3: read_list_of(r, t, Type::Binary, [&] { m.path.push_back(r.read_binary_element()); }); return true;
      case 4: m.codec = Codec(r.read_i32(t)); return true;
      case 5: m.num_values = r.read_i64(t); return true;
      case 6: m.total_uncompressed_size = r.read_i64(t); return true;
      case 7: m.total_compressed_size = r.read_i64(t); return true;
      case 9: m.data_page_offset = r.read_i64(t); return true;
      case 11: m.dictionary_page_offset = r.read_i64(t); return true;
      case 12:
        if (t != Type::Struct) return false;
        m.statistics = read_statistics(r);
        return true;
      default: return false;
    }
  });
  return m;
}

RowGroup read_row_group(Reader& r) {
  RowGroup g;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 1:
        read_list_of(r, t, Type::Struct, [&] {
          ColumnChunk c;
          read_struct(r, [&](int16_t f, Type ft) {
            if (f == 2) c.file_offset = r.read_i64(ft);
            else if (f == 3 && ft == Type::Struct) c.meta = read_column_meta(r);
            else return false;
            return true;
          });
          g.columns.push_back(std::move(c));
        });
        return true;
      case 2: g.total_byte_size = r.read_i64(t); return true;
      case 3: g.num_rows = r.read_i64(t); return true;
      default: return false;
    }
  });
  return g;
}

}  // namespace

FileMetaData read_file_metadata(Reader& r) {
  FileMetaData m;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 1: m.version = r.read_i32(t); return true;
      case 2: read_list_of(r, t, Type::Struct, [&] { m.schema.push_back(read_schema_element(r)); }); return true;
      case 3: m.num_rows = r.read_i64(t); return true;
      case 4: read_list_of(r, t, Type::Struct, [&] { m.row_groups.push_back(read_row_group(r)); }); return true;
      case 5:
        read_list_of(r, t, Type::Struct, [&] {
          KeyValue kv;
          read_struct(r, [&](int16_t f, Type ft) {
            if (f == 1) kv.key = r.read_binary(ft);
            else if (f == 2) kv.value = r.read_binary(ft);
            else return false;
            return true;
          });
          m.key_value_metadata.push_back(std::move(kv));
        });
        return true;
      case 6: m.created_by = r.read_binary(t); return true;
      default: return false;
    }
  });
  return m;
}

PageHeader read_page_header(Reader& r) {
  PageHeader h;
  read_struct(r, [&](int16_t id, Type t) {
    switch (id) {
      case 1: h.type = PageType(r.read_i32(t)); return true;
      case 2: h.uncompressed_page_size = r.read_i32(t); return true;
      case 3: h.compressed_page_size = r.read_i32(t); return true;
      case 5:
        if (t != Type::Struct) return false;
        h.data.emplace();
        read_struct(r, [&](int16_t f, Type ft) {
          switch (f) {
            case 1: h.data->num_values = r.read_i32(ft); return true;
            case 2: h.data->encoding = Encoding(r.read_i32(ft)); return true;
            case 3: h.data->definition_level_encoding = Encoding(r.read_i32(ft)); return true;
            case 4: h.data->repetition_level_encoding = Encoding(r.read_i32(ft)); return true;
            default: return false;
          }
        });
        return true;
      case 7:
        if (t != Type::Struct) return false;
        h.dictionary.emplace();
        read_struct(r, [&](int16_t f, Type ft) {
          if (f == 1) h.dictionary->num_values = r.read_i32(ft);
          else if (f == 2) h.dictionary->encoding = Encoding(r.read_i32(ft));
          else return false;
          return true;
        });
        return true;
      case 8:
        if (t != Type::Struct) return false;
        h.data_v2.emplace();
        read_struct(r, [&](int16_t f, Type ft) {
          switch (f) {
            case 1: h.data_v2->num_values = r.read_i32(ft); return true;
            case 2: h.data_v2->num_nulls = r.read_i32(ft); return true;
            case 3: h.data_v2->num_rows = r.read_i32(ft); return true;
            case 4: h.data_v2->encoding = Encoding(r.read_i32(ft)); return true;
            case 5: h.data_v2->definition_levels_byte_length = r.read_i32(ft); return true;
            case 6: h.data_v2->repetition_levels_byte_length = r.read_i32(ft); return true;
            case 7: h.data_v2->is_compressed = r.read_bool(ft); return true;
            default: return false;
          }
        });
        return true;
      default: return false;
    }
  });
  return h;
}

}  // namespace tremora::parquet::meta
