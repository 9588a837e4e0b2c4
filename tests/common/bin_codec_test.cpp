// Binary codecs: hand-written golden bytes read back through every family
// (FILE*, input stream over plain and gzip files, gz handle, byte arrays) and
// reproduced exactly by the writers and appenders; early-termination exits.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/array_list.h"
#include "common/bin_codec.h"
#include "common/input_stream.h"
#include "common/memory.h"
#include "test_support.h"

namespace {

using ryx_test::hex_bytes;
using ryx_test::hex_fixture;
using ryx_test::ScratchDir;

// Follows every golden value so that a reader taking too many or too few
// bytes shows.
constexpr int kSentinel = 0xA5;

// Ways of reading the same bytes.
enum class Via { kFile, kStream, kStreamGzip, kStreamOverFile, kGzHandle, kBytes };

const char *via_name(Via via) {
  switch (via) {
    case Via::kFile: return "FILE*";
    case Via::kStream: return "input stream, plain file";
    case Via::kStreamGzip: return "input stream, gzip file";
    case Via::kStreamOverFile: return "input stream over FILE*";
    case Via::kGzHandle: return "gz handle, gzip file";
    case Via::kBytes: return "byte array";
  }
  return "?";
}

constexpr Via kAllVias[] = {Via::kFile, Via::kStream, Via::kStreamGzip, Via::kStreamOverFile, Via::kGzHandle, Via::kBytes};

// The bytes as a plain file, a gzip file and a byte array.
struct Source {
  Source(const ScratchDir &dir, const std::string &name, const std::string &data)
      : bytes(data), plain(dir.file(name)), gz(dir.file(name + ".gz")) {
    ryx_test::write_file(plain, bytes);
    ryx_test::write_gzip_file(gz, bytes);
  }
  std::string bytes;
  std::string plain;  // the streams borrow these paths
  std::string gz;
};

// One open reader of a source.
struct Opened {
  Opened(Via v, const Source &source) : via(v), bytes(&source.bytes) {
    switch (via) {
      case Via::kFile: file = fopen(source.plain.c_str(), "rb"); break;
      case Via::kStream: stream = input_stream_open(source.plain.c_str(), "rb"); break;
      case Via::kStreamGzip: stream = input_stream_open(source.gz.c_str(), "rb"); break;
      case Via::kStreamOverFile: stream = input_stream_new_file(fopen(source.plain.c_str(), "rb")); break;
      case Via::kGzHandle: gz = gzopen(source.gz.c_str(), "rb"); break;
      case Via::kBytes: break;
    }
  }
  ~Opened() {
    if (file != nullptr) fclose(file);
    if (stream != nullptr) input_stream_close(stream);
    if (gz != nullptr) gzclose(gz);
  }
  Opened(const Opened &) = delete;
  Opened &operator=(const Opened &) = delete;

  bool is_stream() const { return stream != nullptr; }
  const uint8_t *array() const { return reinterpret_cast<const uint8_t *>(bytes->data()); }

  // The next raw byte through the family's own byte getter, -1 at the end.
  int next_raw() {
    if (file != nullptr) return getc(file);
    if (stream != nullptr) return input_stream_getc(stream);
    if (gz != nullptr) return gzgetc(gz);
    return cursor < static_cast<int32_t>(bytes->size()) ? static_cast<uint8_t>((*bytes)[cursor++]) : -1;
  }

  Via via;
  const std::string *bytes;
  FILE *file = nullptr;
  input_stream_t *stream = nullptr;
  gzFile gz = nullptr;
  int32_t cursor = 0;
};

enum class Kind { kU8, kU16, kU32, kU64, kNumber, kFlex };

// Reads one value with the family member for (kind, byte order); nullopt
// when the family has no such member.
std::optional<uint64_t> read_value(Opened &o, Kind kind, bool big_endian, int32_t limit) {
  if (!big_endian) {
    if (o.file != nullptr) {
      switch (kind) {
        case Kind::kU8: return bin_file_read_u8(o.file);
        case Kind::kU16: return bin_file_read_u16(o.file);
        case Kind::kU32: return bin_file_read_u32(o.file);
        case Kind::kU64: return bin_file_read_u64(o.file);
        case Kind::kNumber: return bin_file_read_number(o.file, limit);
        case Kind::kFlex: return bin_file_read_flex_number(o.file);
      }
    }
    if (o.stream != nullptr) {
      switch (kind) {
        case Kind::kU8: return bin_stream_read_u8(o.stream);
        case Kind::kU16: return bin_stream_read_u16(o.stream);
        case Kind::kU32: return bin_stream_read_u32(o.stream);
        case Kind::kU64: return bin_stream_read_u64(o.stream);
        case Kind::kNumber: return bin_stream_read_number(o.stream, limit);
        case Kind::kFlex: return bin_stream_read_flex_number(o.stream);
      }
    }
    if (o.gz != nullptr) {
      switch (kind) {
        case Kind::kU8: return bin_gz_read_u8(&o.gz);
        case Kind::kU16: return bin_gz_read_u16(&o.gz);
        case Kind::kU32: return bin_gz_read_u32(&o.gz);
        case Kind::kU64: return bin_gz_read_u64(&o.gz);
        case Kind::kNumber: return bin_gz_read_number(&o.gz, limit);
        case Kind::kFlex: return std::nullopt;
      }
    }
    switch (kind) {
      case Kind::kU8: return bin_bytes_read_u8(o.array(), &o.cursor);
      case Kind::kU16: return bin_bytes_read_u16(o.array(), &o.cursor);
      case Kind::kU32: return bin_bytes_read_u32(o.array(), &o.cursor);
      case Kind::kU64: return bin_bytes_read_u64(o.array(), &o.cursor);
      case Kind::kNumber: return bin_bytes_read_number(o.array(), &o.cursor, limit);
      case Kind::kFlex: return bin_bytes_read_flex_number(o.array(), &o.cursor);
    }
    return std::nullopt;
  }
  if (o.file != nullptr) return std::nullopt;
  if (o.stream != nullptr) {
    switch (kind) {
      case Kind::kU8: return bin_stream_read_u8_be(o.stream);
      case Kind::kU16: return bin_stream_read_u16_be(o.stream);
      case Kind::kU32: return bin_stream_read_u32_be(o.stream);
      case Kind::kU64: return bin_stream_read_u64_be(o.stream);
      case Kind::kNumber: return bin_stream_read_number_be(o.stream, limit);
      case Kind::kFlex: return std::nullopt;
    }
  }
  if (o.gz != nullptr) {
    switch (kind) {
      case Kind::kU8: return bin_gz_read_u8_be(&o.gz);
      case Kind::kU16: return bin_gz_read_u16_be(&o.gz);
      case Kind::kU32: return bin_gz_read_u32_be(&o.gz);
      case Kind::kU64: return bin_gz_read_u64_be(&o.gz);
      case Kind::kNumber: return bin_gz_read_number_be(&o.gz, limit);
      case Kind::kFlex: return std::nullopt;
    }
  }
  switch (kind) {
    case Kind::kU16: return bin_bytes_read_u16_be(o.array(), &o.cursor);
    case Kind::kU32: return bin_bytes_read_u32_be(o.array(), &o.cursor);
    case Kind::kNumber: return bin_bytes_read_number_be(o.array(), &o.cursor, limit);
    default: return std::nullopt;
  }
}

// Writes one value with the FILE* writer and returns the file's bytes.
std::string file_written(const ScratchDir &dir, Kind kind, uint64_t value, int32_t limit) {
  const std::string path = dir.file("written");
  FILE *f = fopen(path.c_str(), "wb");
  switch (kind) {
    case Kind::kU8: bin_file_write_u8(f, static_cast<uint8_t>(value)); break;
    case Kind::kU16: bin_file_write_u16(f, static_cast<uint16_t>(value)); break;
    case Kind::kU32: bin_file_write_u32(f, static_cast<uint32_t>(value)); break;
    case Kind::kU64: bin_file_write_u64(f, value); break;
    case Kind::kNumber: bin_file_write_number(f, static_cast<uint32_t>(value), limit); break;
    case Kind::kFlex: bin_file_write_flex_number(f, static_cast<uint32_t>(value)); break;
  }
  fclose(f);
  return ryx_test::read_file(path);
}

std::string list_bytes(const array_list_t *list) {
  return std::string(reinterpret_cast<const char *>(list->items), list->count);
}

// Appends one value and returns the bytes; nullopt when there is no appender.
std::optional<std::string> appended(Kind kind, uint64_t value, int32_t limit) {
  array_list_t *list = array_list_new(1);
  switch (kind) {
    case Kind::kU8: bin_bytes_append_u8(list, static_cast<uint8_t>(value)); break;
    case Kind::kU16: bin_bytes_append_u16(list, static_cast<uint16_t>(value)); break;
    case Kind::kU32: bin_bytes_append_u32(list, static_cast<uint32_t>(value)); break;
    case Kind::kNumber: bin_bytes_append_number(list, static_cast<uint32_t>(value), limit); break;
    case Kind::kFlex: bin_bytes_append_flex_number(list, static_cast<uint32_t>(value)); break;
    case Kind::kU64:
      array_list_free(list);
      return std::nullopt;
  }
  std::string out = list_bytes(list);
  array_list_free(list);
  return out;
}

struct Golden {
  const char *name;
  Kind kind;
  uint64_t value;
  int32_t limit;        // number by limit only
  const char *le_hex;
  const char *be_hex;   // null: the encoding has no big-endian form
};

// Written by hand from the encoding rules, not produced by the code.
const Golden kGoldens[] = {
    {"u8", Kind::kU8, 0x9C, 0, "9C", "9C"},
    {"u16", Kind::kU16, 0x1234, 0, "34 12", "12 34"},
    {"u16_high_bit", Kind::kU16, 0xFF01, 0, "01 FF", "FF 01"},
    {"u32", Kind::kU32, 0x89ABCDEF, 0, "EF CD AB 89", "89 AB CD EF"},
    {"u64", Kind::kU64, 0x0123456789ABCDEF, 0, "EF CD AB 89 67 45 23 01", "01 23 45 67 89 AB CD EF"},
    {"u64_high_bit", Kind::kU64, 0xFEDCBA9876543210, 0, "10 32 54 76 98 BA DC FE", "FE DC BA 98 76 54 32 10"},
    {"number_limit_0", Kind::kNumber, 0x12345678, 0, "78 56 34 12", "12 34 56 78"},
    {"number_limit_1", Kind::kNumber, 0, 1, "", ""},
    {"number_limit_256", Kind::kNumber, 0xAB, 256, "AB", "AB"},
    {"number_limit_257", Kind::kNumber, 0x0102, 257, "02 01", "01 02"},
    {"number_limit_65536", Kind::kNumber, 0xFEDC, 65536, "DC FE", "FE DC"},
    {"number_limit_65537", Kind::kNumber, 0x010203, 65537, "03 02 01", "01 02 03"},
    {"number_limit_2p24", Kind::kNumber, 0xABCDEF, 1 << 24, "EF CD AB", "AB CD EF"},
    {"number_limit_2p24_plus_1", Kind::kNumber, 0x01000000, (1 << 24) + 1, "00 00 00 01", "01 00 00 00"},
    {"number_negative_limit", Kind::kNumber, 0xCAFEBABE, -5, "BE BA FE CA", "CA FE BA BE"},
    {"flex_0", Kind::kFlex, 0, 0, "00", nullptr},
    {"flex_253", Kind::kFlex, 253, 0, "FD", nullptr},
    {"flex_254", Kind::kFlex, 254, 0, "FE FE 00", nullptr},
    {"flex_65535", Kind::kFlex, 65535, 0, "FE FF FF", nullptr},
    {"flex_65536", Kind::kFlex, 65536, 0, "FF 00 00 01 00", nullptr},
    {"flex_max", Kind::kFlex, 0xFFFFFFFF, 0, "FF FF FF FF FF", nullptr},
};

// Reads the golden bytes (plus the sentinel) through every family that has a
// member for the encoding; returns how many families read it.
int read_back_everywhere(const ScratchDir &dir, const Golden &g, bool big_endian) {
  const std::string golden = hex_bytes(big_endian ? g.be_hex : g.le_hex);
  const Source source(dir, g.name, golden + static_cast<char>(kSentinel));
  int families = 0;
  for (Via via : kAllVias) {
    SCOPED_TRACE(std::string(g.name) + (big_endian ? " big-endian" : "") + " via " + via_name(via));
    Opened o(via, source);
    const std::optional<uint64_t> value = read_value(o, g.kind, big_endian, g.limit);
    if (!value) continue;
    families++;
    EXPECT_EQ(*value, g.value);
    if (via == Via::kBytes) {
      EXPECT_EQ(o.cursor, static_cast<int32_t>(golden.size()));
    }
    EXPECT_EQ(o.next_raw(), kSentinel);
    EXPECT_EQ(o.next_raw(), -1);
  }
  return families;
}

TEST(BinCodecGolden, LittleEndianReadBackThroughEveryFamily) {
  ScratchDir dir;
  for (const Golden &g : kGoldens) {
    const int families = read_back_everywhere(dir, g, false);
    // FILE*, the three input streams and the byte array always; the gz
    // handle for everything but flex numbers.
    EXPECT_EQ(families, g.kind == Kind::kFlex ? 5 : 6) << g.name;
  }
}

TEST(BinCodecGolden, BigEndianReadBackThroughEveryFamily) {
  ScratchDir dir;
  for (const Golden &g : kGoldens) {
    if (g.be_hex == nullptr) continue;
    const int families = read_back_everywhere(dir, g, true);
    // Three input streams and the gz handle; the byte array has u16, u32
    // and number only.
    const bool array_has_it = g.kind == Kind::kU16 || g.kind == Kind::kU32 || g.kind == Kind::kNumber;
    EXPECT_EQ(families, array_has_it ? 5 : 4) << g.name;
  }
}

TEST(BinCodecGolden, WritersAndAppendersProduceTheGoldenBytes) {
  ScratchDir dir;
  for (const Golden &g : kGoldens) {
    SCOPED_TRACE(g.name);
    const std::string golden = hex_bytes(g.le_hex);
    EXPECT_EQ(file_written(dir, g.kind, g.value, g.limit), golden);
    const std::optional<std::string> list = appended(g.kind, g.value, g.limit);
    if (list) {
      EXPECT_EQ(*list, golden);
    }
  }
}

TEST(BinCodecGolden, NumberWritersCutValuesToTheLimitsWidth) {
  ScratchDir dir;
  EXPECT_EQ(file_written(dir, Kind::kNumber, 0x1234, 256), hex_bytes("34"));
  EXPECT_EQ(file_written(dir, Kind::kNumber, 0x123456, 65536), hex_bytes("56 34"));
  EXPECT_EQ(file_written(dir, Kind::kNumber, 7, 1), "");
  EXPECT_EQ(*appended(Kind::kNumber, 0x1234, 256), hex_bytes("34"));
  EXPECT_EQ(bin_number_size(1), 0);
  EXPECT_EQ(bin_number_size(0), 4);
}

struct StringGolden {
  const char *name;
  std::string text;  // the text written
  bool null_text;    // write a null pointer instead
  std::string bytes;
  bool reads_null;   // reads back as a null pointer
};

std::vector<StringGolden> string_goldens() {
  return {
      {"abc", "abc", false, hex_bytes("03 61 62 63"), false},
      {"empty", "", false, hex_bytes("00"), true},
      {"null", "", true, hex_bytes("00"), true},
      // Length 254 is the first that needs the three-byte flex form.
      {"length_254", std::string(254, 'x'), false, hex_bytes("FE FE 00") + std::string(254, 'x'), false},
  };
}

TEST(BinCodecGolden, StringsReadBackAndWriteExactly) {
  ScratchDir dir;
  for (const StringGolden &s : string_goldens()) {
    const Source source(dir, s.name, s.bytes + static_cast<char>(kSentinel));
    for (Via via : {Via::kFile, Via::kStream, Via::kStreamGzip, Via::kStreamOverFile}) {
      SCOPED_TRACE(std::string(s.name) + " via " + via_name(via));
      Opened o(via, source);
      char *text = o.is_stream() ? bin_stream_read_string(o.stream) : bin_file_read_string(o.file);
      if (s.reads_null) {
        EXPECT_EQ(text, nullptr);
      } else {
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(std::string(text), s.text);
      }
      ryx_free(text);
      EXPECT_EQ(o.next_raw(), kSentinel);
    }
    const std::string path = dir.file("written");
    FILE *f = fopen(path.c_str(), "wb");
    bin_file_write_string(f, s.null_text ? nullptr : s.text.c_str());
    fclose(f);
    EXPECT_EQ(ryx_test::read_file(path), s.bytes) << s.name;
  }
}

// A string whose length and bytes straddle the stream's refill.
TEST(BinCodecGolden, StreamStringAcrossTheRefill) {
  ScratchDir dir;
  const std::string text(10000, 'q');
  const std::string filler(kInputStreamBufferSize - 2, 'f');
  const Source source(dir, "straddle", filler + hex_bytes("FE 10 27") + text);  // 0x2710 = 10000
  for (Via via : {Via::kStream, Via::kStreamGzip}) {
    Opened o(via, source);
    std::string skipped(filler.size(), '\0');
    ASSERT_EQ(input_stream_read(skipped.data(), 1, skipped.size(), o.stream), filler.size());
    char *read = bin_stream_read_string(o.stream);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(std::string(read), text) << via_name(via);
    ryx_free(read);
    EXPECT_EQ(input_stream_getc(o.stream), -1);
  }
}

TEST(BinCodecFixture, LittleEndianRecordThroughEveryFamily) {
  ScratchDir dir;
  const std::string record = hex_fixture("common/mixed_record_le.hex");
  const Source source(dir, "record_le", record);
  for (Via via : kAllVias) {
    SCOPED_TRACE(via_name(via));
    Opened o(via, source);
    EXPECT_EQ(read_value(o, Kind::kU8, false, 0), 0x9Cu);
    EXPECT_EQ(read_value(o, Kind::kU16, false, 0), 0x1234u);
    EXPECT_EQ(read_value(o, Kind::kU32, false, 0), 0x89ABCDEFu);
    EXPECT_EQ(read_value(o, Kind::kU64, false, 0), 0x0123456789ABCDEFu);
    EXPECT_EQ(read_value(o, Kind::kNumber, false, 1000), 300u);
    if (via == Via::kGzHandle) continue;  // no flex or string members
    EXPECT_EQ(read_value(o, Kind::kFlex, false, 0), 256u);
    EXPECT_EQ(read_value(o, Kind::kFlex, false, 0), 1u << 24);
    if (via == Via::kBytes) {
      EXPECT_EQ(o.cursor, 25);  // the strings start here
      continue;
    }
    char *abc = o.is_stream() ? bin_stream_read_string(o.stream) : bin_file_read_string(o.file);
    char *none = o.is_stream() ? bin_stream_read_string(o.stream) : bin_file_read_string(o.file);
    ASSERT_NE(abc, nullptr);
    EXPECT_STREQ(abc, "abc");
    EXPECT_EQ(none, nullptr);
    ryx_free(abc);
    EXPECT_EQ(o.next_raw(), -1);
  }

  const std::string path = dir.file("written_record");
  FILE *f = fopen(path.c_str(), "wb");
  bin_file_write_u8(f, 0x9C);
  bin_file_write_u16(f, 0x1234);
  bin_file_write_u32(f, 0x89ABCDEF);
  bin_file_write_u64(f, 0x0123456789ABCDEF);
  bin_file_write_number(f, 300, 1000);
  bin_file_write_flex_number(f, 256);
  bin_file_write_flex_number(f, 1u << 24);
  bin_file_write_string(f, "abc");
  bin_file_write_string(f, nullptr);
  fclose(f);
  EXPECT_EQ(ryx_test::read_file(path), record);

  // The appenders have everything up to the 64-bit value, which they lack.
  array_list_t *list = array_list_new(1);
  bin_bytes_append_u8(list, 0x9C);
  bin_bytes_append_u16(list, 0x1234);
  bin_bytes_append_u32(list, 0x89ABCDEF);
  EXPECT_EQ(list_bytes(list), record.substr(0, 7));
  array_list_free(list);
}

TEST(BinCodecFixture, BigEndianRecordThroughEveryFamily) {
  ScratchDir dir;
  const Source source(dir, "record_be", hex_fixture("common/mixed_record_be.hex"));
  for (Via via : {Via::kStream, Via::kStreamGzip, Via::kStreamOverFile, Via::kGzHandle, Via::kBytes}) {
    SCOPED_TRACE(via_name(via));
    Opened o(via, source);
    // The byte array has no big-endian u8 or u64: the plain u8 reader is the
    // same byte.
    EXPECT_EQ(via == Via::kBytes ? read_value(o, Kind::kU8, false, 0) : read_value(o, Kind::kU8, true, 0), 0x9Cu);
    EXPECT_EQ(read_value(o, Kind::kU16, true, 0), 0x1234u);
    EXPECT_EQ(read_value(o, Kind::kU32, true, 0), 0x89ABCDEFu);
    EXPECT_EQ(read_value(o, Kind::kNumber, true, 1000), 300u);
    EXPECT_EQ(read_value(o, Kind::kNumber, true, 65537), 258u);
    if (via == Via::kBytes) {
      EXPECT_EQ(o.cursor, 12);
      continue;
    }
    EXPECT_EQ(read_value(o, Kind::kU64, true, 0), 0x0123456789ABCDEFu);
    EXPECT_EQ(o.next_raw(), -1);
  }
}

// A value cut short by the end of the input, in each family that exits.
struct ShortRead {
  const char *name;
  Via via;
  Kind kind;
  bool big_endian;
  int32_t limit;
  const char *hex;
};

const ShortRead kShortReads[] = {
    {"file u8, empty", Via::kFile, Kind::kU8, false, 0, ""},
    {"file u16, 1 byte", Via::kFile, Kind::kU16, false, 0, "01"},
    {"file u32, 3 bytes", Via::kFile, Kind::kU32, false, 0, "01 02 03"},
    {"file u64, second half short", Via::kFile, Kind::kU64, false, 0, "01 02 03 04 05 06"},
    {"file number, 4 wanted, 3 there", Via::kFile, Kind::kNumber, false, 0, "01 02 03"},
    {"file flex, 16-bit part short", Via::kFile, Kind::kFlex, false, 0, "FE 01"},
    {"file flex, 32-bit part short", Via::kFile, Kind::kFlex, false, 0, "FF 01 02 03"},
    {"stream u8, empty", Via::kStream, Kind::kU8, false, 0, ""},
    {"stream u32, 3 bytes", Via::kStream, Kind::kU32, false, 0, "01 02 03"},
    {"stream u64, 4 bytes", Via::kStream, Kind::kU64, false, 0, "01 02 03 04"},
    {"stream number, 3 wanted, 2 there", Via::kStream, Kind::kNumber, false, 65537, "01 02"},
    {"stream flex, 32-bit part short", Via::kStream, Kind::kFlex, false, 0, "FF 01 02 03"},
    {"gzip stream u16, 1 byte", Via::kStreamGzip, Kind::kU16, false, 0, "01"},
    {"stream u8 be, empty", Via::kStream, Kind::kU8, true, 0, ""},
    {"stream u16 be, 1 byte", Via::kStream, Kind::kU16, true, 0, "01"},
    {"stream u32 be, 3 bytes", Via::kStream, Kind::kU32, true, 0, "01 02 03"},
    {"stream u64 be, 7 bytes", Via::kStreamGzip, Kind::kU64, true, 0, "01 02 03 04 05 06 07"},
    {"stream number be, 2 wanted, 1 there", Via::kStream, Kind::kNumber, true, 257, "01"},
    {"gz u8, empty", Via::kGzHandle, Kind::kU8, false, 0, ""},
    {"gz u16, 1 byte", Via::kGzHandle, Kind::kU16, false, 0, "01"},
    {"gz u32, 3 bytes", Via::kGzHandle, Kind::kU32, false, 0, "01 02 03"},
    {"gz u64, 5 bytes", Via::kGzHandle, Kind::kU64, false, 0, "01 02 03 04 05"},
    {"gz number, 4 wanted, 3 there", Via::kGzHandle, Kind::kNumber, false, (1 << 24) + 1, "01 02 03"},
    {"gz u8 be, empty", Via::kGzHandle, Kind::kU8, true, 0, ""},
    {"gz u16 be, 1 byte", Via::kGzHandle, Kind::kU16, true, 0, "01"},
    {"gz u32 be, 2 bytes", Via::kGzHandle, Kind::kU32, true, 0, "01 02"},
    {"gz u64 be, 4 bytes", Via::kGzHandle, Kind::kU64, true, 0, "01 02 03 04"},
    {"gz number be, 4 wanted, 3 there", Via::kGzHandle, Kind::kNumber, true, 0, "01 02 03"},
};

TEST(BinCodecDeath, ShortValuesEndWithEarlyTermination) {
  ScratchDir dir;
  int n = 0;
  for (const ShortRead &c : kShortReads) {
    SCOPED_TRACE(c.name);
    const Source source(dir, "short" + std::to_string(n++), hex_bytes(c.hex));
    EXPECT_EXIT(
        {
          Opened o(c.via, source);
          read_value(o, c.kind, c.big_endian, c.limit);
        },
        testing::ExitedWithCode(1), "^Error reading file: early termination\n$");
  }
}

TEST(BinCodecDeath, ShortStringEndsWithReadError) {
  ScratchDir dir;
  const Source source(dir, "short_string", hex_bytes("05 61 62"));
  for (Via via : {Via::kFile, Via::kStream, Via::kStreamGzip}) {
    SCOPED_TRACE(via_name(via));
    EXPECT_EXIT(
        {
          Opened o(via, source);
          if (o.is_stream()) bin_stream_read_string(o.stream);
          else bin_file_read_string(o.file);
        },
        testing::ExitedWithCode(1), "^Read error\n$");
  }
}

// The stored length 0xFFFFFFFF plus the terminator is 4 GiB, not 0 bytes:
// the reader either cannot have that much memory or finds too few bytes,
// and never writes into a zero-byte block.
TEST(BinCodecDeath, HugeStringLengthDoesNotWrap) {
  ScratchDir dir;
  const Source source(dir, "huge_string", hex_bytes("FF FF FF FF FF 61 62"));
  const auto failed = [](int status) {
    return WIFEXITED(status) && (WEXITSTATUS(status) == 1 || WEXITSTATUS(status) == 69);
  };
  for (Via via : {Via::kFile, Via::kStream}) {
    SCOPED_TRACE(via_name(via));
    EXPECT_EXIT(
        {
          Opened o(via, source);
          if (o.is_stream()) bin_stream_read_string(o.stream);
          else bin_file_read_string(o.file);
        },
        failed, "(^Read error|Out of memory allocating 4294967296 bytes\\.)\n$");
  }
}

}  // namespace
