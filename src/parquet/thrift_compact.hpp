// Thrift compact protocol: the encoding of Parquet's file, column and page
// metadata. The writer emits structs field by field; the reader walks them
// with bounds checks, skipping fields it does not know.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tremora::parquet::thrift {

/// Compact-protocol element types.
enum class Type : uint8_t {
  Stop = 0,
  BoolTrue = 1,
  BoolFalse = 2,
  Byte = 3,
  I16 = 4,
  I32 = 5,
  I64 = 6,
  Double = 7,
  Binary = 8,
  List = 9,
  Set = 10,
  Map = 11,
  Struct = 12,
};

/// Appends compact-protocol bytes to a string.
class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void begin_struct() { last_ids_.push_back(0); }
  void end_struct();  // writes the stop byte
  void field_i32(int16_t id, int32_t v);
  void field_i64(int16_t id, int64_t v);
  void field_bool(int16_t id, bool v);
  void field_binary(int16_t id, std::string_view v);
  /// Starts a struct-valued field; end it with end_struct().
  void field_struct(int16_t id);
  /// Starts a list-valued field of `size` elements of `element`.
  void field_list(int16_t id, Type element, std::size_t size);
  // List elements.
  void element_i32(int32_t v) { varint(zigzag(v)); }
  void element_binary(std::string_view v);
  void element_struct() { begin_struct(); }

 private:
  void field_header(int16_t id, Type type);
  void varint(uint64_t v);
  static uint64_t zigzag(int64_t v) { return (uint64_t(v) << 1) ^ uint64_t(v >> 63); }

  std::string& out_;
  std::vector<int16_t> last_ids_;
};

/// Reads compact-protocol bytes. Every read checks the bounds; a problem
/// throws ThriftError (the caller adds the file name).
class Reader {
 public:
  struct Error : std::exception {
    std::string message;
    explicit Error(std::string m) : message(std::move(m)) {}
    const char* what() const noexcept override { return message.c_str(); }
  };

  Reader(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

  /// Position after what has been read.
  const uint8_t* position() const { return p_; }
  std::size_t remaining() const { return std::size_t(end_ - p_); }

  /// Enters a struct; next_field() then gives its fields until it returns false.
  void begin_struct();
  /// Reads the next field header of the current struct; false at its end.
  bool next_field(int16_t& id, Type& type);
  int32_t read_i32(Type type);
  int64_t read_i64(Type type);
  bool read_bool(Type type);
  std::string read_binary(Type type);
  /// Reads a list header; checks the element type when `expected` is given.
  std::size_t read_list(Type type, Type& element);
  /// Reads a bool list element (one byte).
  bool read_bool_element();
  int32_t read_i32_element() { return int32_t(unzigzag(varint())); }
  std::string read_binary_element();
  /// Skips a value of any type, nested values included.
  void skip(Type type, int depth = 0);

 private:
  uint64_t varint();
  uint8_t byte();
  static int64_t unzigzag(uint64_t v) { return int64_t(v >> 1) ^ -int64_t(v & 1); }
  [[noreturn]] void fail(const std::string& what) const;

  const uint8_t* p_;
  const uint8_t* end_;
  std::vector<int16_t> last_ids_;
};

}  // namespace tremora::parquet::thrift
