#include "seqio/genbank_reader.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_bytes.h"
#include "seqio/seq_record.h"

namespace {

// Line buffer of the record reader; longer lines come in pieces.
constexpr int kLineSize = 1024;
// Columns (from 0) of the LOCUS line and of the sequence lines.
constexpr size_t kNameColumn = 12;
constexpr size_t kLengthColumn = 30;
constexpr size_t kResidueColumn = 10;

// Scanner states of the chunk splitter.
enum : int32_t { kInLine = 0, kLineStart = 1, kOneSlash = 2, kTwoSlashes = 3, kBeforeRecord = 4 };

[[noreturn]] void fail(const char *message, const char *path) {
  fprintf(stderr, message, path);
  ryx_exit(1);
}

int32_t ops_next_length(void *, input_stream_t *stream, array_list_t *) { return genbank_read(stream, nullptr); }
void ops_read(void *, input_stream_t *stream, seq_record_t *record) { genbank_read(stream, record); }

bool starts_with(const char *line, const char *prefix) { return strncmp(line, prefix, strlen(prefix)) == 0; }

bool blank(const char *text) {
  for (; *text != 0; text++)
    if (!seq_is_space(static_cast<unsigned char>(*text))) return false;
  return true;
}

// "//" with nothing but whitespace after it ends a record.
bool terminator(const char *line) { return line[0] == '/' && line[1] == '/' && blank(line + 2); }

// The declared length: the first integer from column 30 on, after optional
// whitespace and sign. False when there is none, it is negative or it does
// not fit 31 bits.
bool declared_length(const char *line, size_t line_length, int32_t *length) {
  if (line_length <= kLengthColumn) return false;
  const char *p = line + kLengthColumn;
  while (seq_is_space(static_cast<unsigned char>(*p))) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; p++) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) return false;
  }
  if (negative && value != 0) return false;
  *length = static_cast<int32_t>(value);
  return true;
}

}  // namespace

const seq_format_ops_t kGenbankFormatOps = {nullptr, ops_next_length, ops_read, nullptr, nullptr, nullptr, nullptr};

const seq_chunk_ops_t kGenbankChunkOps = {genbank_new_split_state, genbank_free_split_state,
                                          genbank_chunk_find_starts, genbank_chunk_parse,
                                          nullptr,                   nullptr,
                                          nullptr,                   nullptr};

bool genbank_detect(input_stream_t *stream) {
  for (const char *p = "LOCUS"; *p != 0; p++)
    if (input_stream_getc(stream) != *p) return false;
  return true;
}

bool genbank_detect_gz(gzFile gz, const char *path) {
  for (const char *p = "LOCUS"; *p != 0; p++)
    if (seq_gz_getc(gz, path) != *p) return false;
  return true;
}

int32_t genbank_read(input_stream_t *stream, seq_record_t *record) {
  char line[kLineSize];
  if (input_stream_gets(line, kLineSize, stream) == nullptr) return -1;
  const char *path = seq_stream_name(stream);
  bool locus = false;
  bool origin = false;
  bool content = false;  // a line other than a blank one was seen
  int32_t declared = 0;
  seq_bytes_t name = {};
  seq_bytes_t residues = {};
  do {
    if (terminator(line)) {
      content = true;
      break;
    }
    const size_t line_length = strlen(line);
    if (!blank(line)) content = true;
    if (starts_with(line, "LOCUS")) {
      if (!declared_length(line, line_length, &declared)) fail("Genbank format error in file %s\n", path);
      locus = true;
      if (record != nullptr) {
        seq_bytes_clear(&name);
        for (size_t k = kNameColumn; k < line_length && !seq_is_space(static_cast<unsigned char>(line[k])); k++)
          seq_bytes_push(&name, static_cast<uint8_t>(line[k]));
      }
    } else if (record != nullptr && starts_with(line, "ORIGIN")) {
      origin = true;
    } else if (origin) {
      // The buffer grows with the residues found, never to a declared
      // length that the file does not hold.
      for (size_t k = kResidueColumn; k < line_length && residues.length < static_cast<uint32_t>(declared); k++)
        if (!seq_is_space(static_cast<unsigned char>(line[k])))
          seq_bytes_push(&residues, static_cast<uint8_t>(line[k]));
    }
  } while (input_stream_gets(line, kLineSize, stream) != nullptr);
  if (!locus) {
    seq_bytes_clear(&name);
    seq_bytes_clear(&residues);
    if (!content) return -1;  // blank lines at the end of the file
    fail("Genbank format error in file %s\n", path);
  }
  if (record != nullptr) {
    if (residues.length != static_cast<uint32_t>(declared)) {
      if (origin && residues.length == 0)
        fail("Error: Genbank file contains a sequence without its symbols in file %s\n", path);
      fail("Genbank sequence error in file %s\n", path);
    }
    seq_bytes_fill_record(record, &name, &residues);
  }
  return declared;
}

void *genbank_new_split_state() {
  auto *state = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t)));
  *state = kBeforeRecord;
  return state;
}

void genbank_free_split_state(void *split_state) { ryx_free(split_state); }

void genbank_chunk_find_starts(const uint8_t *data, int32_t length, array_list_t *starts, void *split_state, void *,
                               const char *) {
  int32_t state = *static_cast<int32_t *>(split_state);
  for (int32_t i = 0; i < length; i++) {
    const uint8_t c = data[i];
    switch (state) {
      case kBeforeRecord:
        if (!seq_is_space(c)) {
          array_list_add(starts, &i);
          state = kInLine;
        }
        break;
      case kInLine: {
        // Most bytes lie inside lines: jump to the next line feed.
        const void *lf = memchr(data + i, '\n', static_cast<size_t>(length - i));
        if (lf == nullptr) {
          i = length;
          break;
        }
        i = static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data);
        state = kLineStart;
        break;
      }
      case kLineStart:
        if (c == '/') state = kOneSlash;
        else if (c != '\n') state = kInLine;
        break;
      case kOneSlash:
        state = c == '/' ? kTwoSlashes : c == '\n' ? kLineStart : kInLine;
        break;
      case kTwoSlashes:
        // "//" and whitespace up to the line feed end the record.
        if (c == '\n') state = kBeforeRecord;
        else if (!seq_is_space(c)) state = kInLine;
        break;
    }
  }
  *static_cast<int32_t *>(split_state) = state;
}

bool genbank_chunk_parse(uint8_t *data, int32_t length, void *, seq_record_t *record, seq_record_t *,
                         const char *path) {
  constexpr const char *kError = "GenBank format error in file %s\n";
  if (length < static_cast<int32_t>(kNameColumn) || memcmp(data, "LOCUS       ", kNameColumn) != 0)
    fail(kError, path);
  int32_t k = static_cast<int32_t>(kNameColumn);
  while (k < length && !seq_is_space(data[k])) k++;
  if (k >= length) fail(kError, path);
  const bool locus_line_ends = data[k] == '\n';
  data[k] = 0;
  auto *name = reinterpret_cast<char *>(data + kNameColumn);
  // Line starts after the LOCUS line, searched for "ORIGIN".
  int32_t line = k + 1;
  if (!locus_line_ends) {
    const void *lf = memchr(data + line, '\n', static_cast<size_t>(length - line));
    if (lf == nullptr) fail(kError, path);
    line = static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data) + 1;
  }
  for (;;) {
    if (length - line < 8) fail(kError, path);
    if (memcmp(data + line, "ORIGIN", 6) == 0) break;
    const void *lf = memchr(data + line, '\n', static_cast<size_t>(length - line));
    if (lf == nullptr) fail(kError, path);
    line = static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data) + 1;
  }
  if (!seq_is_space(data[line + 6])) fail(kError, path);
  // The residues start on the line after ORIGIN and are moved together to
  // where the ORIGIN line was.
  const int32_t out = line;
  const void *lf = memchr(data + line + 6, '\n', static_cast<size_t>(length - line - 6));
  int32_t i = lf != nullptr ? static_cast<int32_t>(static_cast<const uint8_t *>(lf) - data) + 1 : length;
  int32_t n = 0;
  for (; i < length && data[i] != '/'; i++) {
    const uint8_t c = data[i];
    if (seq_is_space(c) || (c >= '0' && c <= '9')) continue;
    data[out + n++] = c;
  }
  record->name = name;
  record->residues = data + out;
  record->length = static_cast<uint32_t>(n);
  record->qualities = nullptr;
  record->use_count = 0;
  record->free_callback = seq_record_free_nothing;
  return false;
}
