#include "thrift_compact.hpp"

#include <cstring>

namespace tremora::parquet::thrift {
namespace {
constexpr int kMaxDepth = 32;
}

void Writer::varint(uint64_t v) {
  while (v >= 0x80) {
    out_ += char(uint8_t(v) | 0x80);
    v >>= 7;
  }
  out_ += char(uint8_t(v));
}

void Writer::field_header(int16_t id, Type type) {
  int16_t& last = last_ids_.back();
  int delta = id - last;
  if (delta > 0 && delta <= 15) {
    out_ += char(uint8_t(delta << 4) | uint8_t(type));
  } else {
    out_ += char(uint8_t(type));
    varint(zigzag(id));
  }
  last = id;
}

void Writer::end_struct() {
  out_ += char(0);
  last_ids_.pop_back();
}

void Writer::field_i32(int16_t id, int32_t v) {
  field_header(id, Type::I32);
  varint(zigzag(v));
}

void Writer::field_i64(int16_t id, int64_t v) {
  field_header(id, Type::I64);
  varint(zigzag(v));
}

void Writer::field_bool(int16_t id, bool v) { field_header(id, v ? Type::BoolTrue : Type::BoolFalse); }

void Writer::field_binary(int16_t id, std::string_view v) {
  field_header(id, Type::Binary);
  element_binary(v);
}

void Writer::element_binary(std::string_view v) {
  varint(v.size());
  out_.append(v);
}

void Writer::field_struct(int16_t id) {
  field_header(id, Type::Struct);
  begin_struct();
}

void Writer::field_list(int16_t id, Type element, std::size_t size) {
  field_header(id, Type::List);
  if (size < 15) {
    out_ += char(uint8_t(size << 4) | uint8_t(element));
  } else {
    out_ += char(0xF0 | uint8_t(element));
    varint(size);
  }
}

void Reader::fail(const std::string& what) const { throw Error("corrupt metadata: " + what); }

uint8_t Reader::byte() {
  if (p_ >= end_) fail("unexpected end of data");
  return *p_++;
}

uint64_t Reader::varint() {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    uint8_t b = byte();
    v |= uint64_t(b & 0x7F) << shift;
    if (!(b & 0x80)) return v;
  }
  fail("a variable-length integer is too long");
}

void Reader::begin_struct() {
  if (last_ids_.size() >= kMaxDepth) fail("structs nested too deeply");
  last_ids_.push_back(0);
}

bool Reader::next_field(int16_t& id, Type& type) {
  uint8_t b = byte();
  if (b == 0) {
    last_ids_.pop_back();
    return false;
  }
  type = Type(b & 0x0F);
  if (uint8_t(type) > uint8_t(Type::Struct)) fail("unknown field type " + std::to_string(int(type)));
  int delta = b >> 4;
  if (delta) {
    id = int16_t(last_ids_.back() + delta);
  } else {
    int64_t v = unzigzag(varint());
    if (v < INT16_MIN || v > INT16_MAX) fail("field id out of range");
    id = int16_t(v);
  }
  last_ids_.back() = id;
  return true;
}

int32_t Reader::read_i32(Type type) {
  if (type != Type::I32 && type != Type::I16 && type != Type::Byte) fail("expected an integer field");
  if (type == Type::Byte) return int8_t(byte());
  int64_t v = unzigzag(varint());
  if (v < INT32_MIN || v > INT32_MAX) fail("a 32-bit integer is out of range");
  return int32_t(v);
}

int64_t Reader::read_i64(Type type) {
  if (type == Type::I64) return unzigzag(varint());
  return read_i32(type);
}

bool Reader::read_bool(Type type) {
  if (type == Type::BoolTrue) return true;
  if (type == Type::BoolFalse) return false;
  fail("expected a truth value");
}

std::string Reader::read_binary(Type type) {
  if (type != Type::Binary) fail("expected a binary field");
  return read_binary_element();
}

std::string Reader::read_binary_element() {
  uint64_t n = varint();
  if (n > remaining()) fail("a text runs past the end of the data");
  std::string s(reinterpret_cast<const char*>(p_), std::size_t(n));
  p_ += n;
  return s;
}

std::size_t Reader::read_list(Type type, Type& element) {
  if (type != Type::List && type != Type::Set) fail("expected a list field");
  uint8_t b = byte();
  element = Type(b & 0x0F);
  uint64_t size = b >> 4;
  if (size == 15) size = varint();
  // Every element takes at least one byte, which bounds what a list can claim.
  if (size > remaining()) fail("a list claims more elements than there are bytes");
  return std::size_t(size);
}

bool Reader::read_bool_element() { return byte() == 1; }

void Reader::skip(Type type, int depth) {
  if (depth > kMaxDepth) fail("values nested too deeply");
  switch (type) {
    case Type::BoolTrue:
    case Type::BoolFalse: return;
    case Type::Byte: byte(); return;
    case Type::I16:
    case Type::I32:
    case Type::I64: varint(); return;
    case Type::Double:
      if (remaining() < 8) fail("unexpected end of data");
      p_ += 8;
      return;
    case Type::Binary: {
      uint64_t n = varint();
      if (n > remaining()) fail("a value runs past the end of the data");
      p_ += n;
      return;
    }
    case Type::List:
    case Type::Set: {
      Type element;
      std::size_t n = read_list(type, element);
      for (std::size_t i = 0; i < n; ++i) {
        if (element == Type::BoolTrue || element == Type::BoolFalse) byte();
        else skip(element, depth + 1);
      }
      return;
    }
    case Type::Map: {
      uint64_t n = varint();
      if (n == 0) return;
      uint8_t kv = byte();
      if (n > remaining()) fail("a map claims more entries than there are bytes");
      for (uint64_t i = 0; i < n; ++i) {
        skip(Type(kv >> 4), depth + 1);
        skip(Type(kv & 0x0F), depth + 1);
      }
      return;
    }
    case Type::Struct: {
      begin_struct();
      int16_t id;
      Type t;
      while (next_field(id, t)) skip(t, depth + 1);
      return;
    }
    default: fail("unknown value type " + std::to_string(int(type)));
  }
}

}  // namespace tremora::parquet::thrift
