// The nyr file object: construction, the source cache and the slots that
// open the listed sequence files, header and fields block, whole-file
// reading and writing, the streaming writer and the fields rewrite.
#include "seqio/nyr_file.h"

#include <climits>
#include <cstring>

#include "common/bin_codec.h"
#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_fasta_index.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"

namespace {

// Contig tables grow from this many entries as entries arrive.
constexpr uint32_t kFirstContigRoom = 4096;

[[noreturn]] void fail(const char *message, int status) {
  fprintf(stderr, "%s", message);
  ryx_exit(status);
}

[[noreturn]] void newer_version() {
  fail("Error reading assembly file: file version newer than this program.\n", 65);
}

bool magic_matches(const uint8_t *header) { return memcmp(header, kNyrMagic, kNyrMagicSize) == 0; }

nyr_file_t *handle_new(bool with_sources) {
  auto *file = static_cast<nyr_file_t *>(ryx_calloc(sizeof(nyr_file_t)));
  file->arena = chunk_arena_new();
  if (with_sources) {
    file->sources = nyr_sources_new();
    file->open_reads = nyr_file_open_reads;
    file->open_read_reader = nyr_file_open_read_reader;
    file->open_read_reader_range = nyr_file_open_read_reader_range;
    file->open_references = nyr_file_open_references;
    file->contig_get_length = nyr_contig_get_length;
    file->get_read = nyr_file_get_read;
    file->get_read_raw = nyr_file_get_read_raw;
    file->get_reference = nyr_file_get_reference;
    file->next_read = nyr_file_next_read;
    file->get_reference_db = nyr_file_get_reference_db;
  }
  return file;
}

// The first 16 bytes read through a stream at byte 0: magic, version and the
// fields offset, which must point inside the file behind the header.
struct Header {
  int version;
  int64_t fields_offset;
};

Header read_and_check_header(input_stream_t *stream) {
  uint8_t head[8];
  if (input_stream_read(head, 1, sizeof head, stream) != sizeof head || !magic_matches(head)) nyr_bad_file();
  Header header;
  header.version = head[kNyrVersionByte];
  if (header.version > kNyrVersionNewest) newer_version();
  const uint64_t offset = bin_stream_read_u64(stream);
  // 0 is the mark of a writer that never finished.
  if (offset < static_cast<uint64_t>(kNyrHeaderSize) || offset > static_cast<uint64_t>(INT64_MAX)) nyr_bad_file();
  header.fields_offset = static_cast<int64_t>(offset);
  // The fields block starts with a byte at the offset; a stream seeked past
  // its end has none (this also works for gzip files, whose size is unknown).
  input_stream_seek(stream, header.fields_offset, SEEK_SET);
  if (input_stream_tell(stream) != header.fields_offset) nyr_bad_file();
  const int c = input_stream_getc(stream);
  if (c < 0) nyr_bad_file();
  input_stream_ungetc(c, stream);
  return header;
}

// Header checks over a stdio file, for the operations that patch files in
// place; the file's size bounds the offset.
Header read_and_check_file_header(FILE *file) {
  uint8_t head[kNyrHeaderSize];
  if (!large_file_seek(file, 0, SEEK_SET) || fread(head, 1, sizeof head, file) < 8 || !magic_matches(head))
    nyr_bad_file();
  Header header;
  header.version = head[kNyrVersionByte];
  if (header.version > kNyrVersionNewest) newer_version();
  if (!large_file_seek(file, kNyrOffsetField, SEEK_SET)) nyr_bad_file();
  const uint64_t offset = bin_file_read_u64(file);
  if (!large_file_seek(file, 0, SEEK_END)) nyr_bad_file();
  const int64_t size = large_file_tell(file);
  if (offset < static_cast<uint64_t>(kNyrHeaderSize) || size < 0 || offset >= static_cast<uint64_t>(size))
    nyr_bad_file();
  header.fields_offset = static_cast<int64_t>(offset);
  return header;
}

void read_contig_table(nyr_file_t *file, input_stream_t *stream, uint32_t count) {
  // The table grows with the entries actually read: a corrupt count runs
  // into the end of the file long before it costs memory.
  uint32_t room = count < kFirstContigRoom ? count : kFirstContigRoom;
  file->contigs = static_cast<nyr_contig_t **>(ryx_malloc((room > 0 ? room : 1) * sizeof(nyr_contig_t *)));
  // The handle counts only the entries that exist so far.
  file->contig_count = 0;
  for (uint32_t i = 0; i < count; i++) {
    if (i == room) {
      room = room > count / 2 ? count : room * 2;
      file->contigs = static_cast<nyr_contig_t **>(ryx_realloc(file->contigs, room * sizeof(nyr_contig_t *)));
    }
    file->contigs[i] = nyr_contig_read(stream);
    file->contig_count = i + 1;
  }
}

void write_fields(FILE *out, const nyr_file_t *file, int version) {
  bin_file_write_u32(out, file->contig_count);
  if (version >= 2)
    bin_file_write_u64(out, file->read_count);
  else
    bin_file_write_u32(out, static_cast<uint32_t>(file->read_count));
  bin_file_write_string(out, file->program_name);
  bin_file_write_string(out, file->program_version);
  bin_file_write_string(out, file->command_line);
  seq_file_info_list_write_version(out, file->reference_files, version);
  seq_file_info_list_write_version(out, file->read_files, version);
  nyr_scoring_scheme_write(out, file->scheme);
  for (uint32_t i = 0; i < file->contig_count; i++) nyr_contig_write(out, file->contigs[i]);
  if (version < 2) bin_file_write_flex_number(out, 0);  // contig pairs
}

void close_or_fail(FILE *out) {
  if (fclose(out) != 0) fail("Error closing assembly file\n", 74);
}

}  // namespace

// --- Construction and release ---

nyr_file_t *nyr_file_new(uint32_t n, const uint32_t *lengths, uint64_t read_count) {
  nyr_file_t *file = handle_new(true);
  file->contig_count = n;
  file->contigs = static_cast<nyr_contig_t **>(ryx_malloc((n > 0 ? n : 1) * sizeof(nyr_contig_t *)));
  for (uint32_t i = 0; i < n; i++) file->contigs[i] = nyr_contig_new(lengths[i], 0);
  file->read_count = read_count;
  nyr_file_alloc_matches(file);
  return file;
}

nyr_file_t *nyr_file_new_from_seqs(uint32_t n, const seq_record_t *const *records, uint64_t read_count) {
  uint32_t *lengths = static_cast<uint32_t *>(ryx_malloc((n > 0 ? n : 1) * sizeof(uint32_t)));
  for (uint32_t i = 0; i < n; i++) lengths[i] = records[i]->length;
  nyr_file_t *file = nyr_file_new(n, lengths, read_count);
  ryx_free(lengths);
  return file;
}

nyr_file_t *nyr_file_new_like(const nyr_file_t *other) {
  uint32_t *lengths = nyr_file_get_contig_lengths(other);
  nyr_file_t *file = nyr_file_new(other->contig_count, lengths, other->read_count);
  ryx_free(lengths);
  return file;
}

nyr_file_t *nyr_file_new_blank() { return handle_new(true); }

nyr_file_t *nyr_file_new_empty() { return handle_new(false); }

void nyr_file_alloc_matches(nyr_file_t *file) {
  if (file->sources == nullptr) file->sources = nyr_sources_new();
  if (file->read_count == 0) return;
  file->sources->matches =
      static_cast<nyr_match_t **>(ryx_calloc(static_cast<size_t>(file->read_count) * sizeof(nyr_match_t *)));
  file->get_match = nyr_file_get_match;
  file->slot_zero = nyr_file_slot_zero;
}

nyr_file_t *nyr_file_free(nyr_file_t *file) {
  if (file == nullptr) return nullptr;
  if (file->sources != nullptr && file->sources->matches != nullptr) {
    // Records loaded by nyr_file_read live in the arena and go with it.
    if (!file->records_in_arena)
      for (uint64_t i = 0; i < file->read_count; i++) nyr_match_free_hits(file->sources->matches[i]);
    file->sources->matches = static_cast<nyr_match_t **>(ryx_free(file->sources->matches));
  }
  file->sources = nyr_sources_free(file->sources, file);
  if (file->contigs != nullptr)
    for (uint32_t i = 0; i < file->contig_count; i++) nyr_contig_free(file->contigs[i]);
  ryx_free(file->contigs);
  nyr_scoring_scheme_free(file->scheme);
  chunk_arena_free(file->arena);
  seq_file_info_list_free(file->reference_files);
  seq_file_info_list_free(file->read_files);
  ryx_free(file->program_name);
  ryx_free(file->program_version);
  ryx_free(file->command_line);
  ryx_free(file);
  return nullptr;
}

// --- Slots and accessors without sequence files ---

nyr_match_t *nyr_file_get_match(nyr_file_t *file, uint64_t read) { return file->sources->matches[read]; }

uint32_t nyr_contig_get_length(nyr_file_t *, const nyr_contig_t *contig) { return contig->length; }

int nyr_file_slot_zero(nyr_file_t *) { return 0; }

void nyr_file_set_match(nyr_file_t *file, int64_t index, nyr_match_t *record) {
  file->sources->matches[index] = record;
}

uint32_t nyr_file_get_longest_contig(const nyr_file_t *file) {
  uint32_t longest = 0;
  for (uint32_t i = 0; i < file->contig_count; i++)
    if (file->contigs[i]->length > longest) longest = file->contigs[i]->length;
  return longest;
}

uint32_t *nyr_file_get_contig_lengths(const nyr_file_t *file) {
  const uint32_t n = file->contig_count;
  uint32_t *lengths = static_cast<uint32_t *>(ryx_malloc((n > 0 ? n : 1) * sizeof(uint32_t)));
  for (uint32_t i = 0; i < n; i++) lengths[i] = file->contigs[i]->length;
  return lengths;
}

uint32_t nyr_file_get_read_file_sequence_count(const nyr_file_t *file, int32_t i) {
  return static_cast<uint32_t>(file->read_files->entries[i]->sequence_count);
}

uint32_t nyr_file_get_reference_file_sequence_count(const nyr_file_t *file, int32_t i) {
  return static_cast<uint32_t>(file->reference_files->entries[i]->sequence_count);
}

nyr_contig_t *nyr_contig_new(uint32_t length, uint16_t flags) {
  auto *contig = static_cast<nyr_contig_t *>(ryx_malloc(sizeof(nyr_contig_t)));
  contig->length = length;
  contig->flags = flags;
  return contig;
}

nyr_contig_t *nyr_contig_free(nyr_contig_t *contig) {
  ryx_free(contig);
  return nullptr;
}

void nyr_contig_set_circular(nyr_contig_t *contig) { contig->flags |= kNyrContigCircular; }

int nyr_contig_is_circular(const nyr_contig_t *contig) { return contig->flags & kNyrContigCircular ? 1 : 0; }

nyr_contig_t *nyr_contig_read(input_stream_t *stream) {
  const uint32_t length = bin_stream_read_u32(stream);
  const uint16_t flags = bin_stream_read_u16(stream);
  return nyr_contig_new(length, flags);
}

void nyr_contig_write(FILE *file, const nyr_contig_t *contig) {
  bin_file_write_u32(file, contig->length);
  bin_file_write_u16(file, contig->flags);
}

// --- Reading ---

nyr_file_t *nyr_file_read_header_stream(input_stream_t *stream) {
  const Header header = read_and_check_header(stream);
  nyr_file_t *file = nyr_file_new_blank();
  file->version = header.version;
  file->fields_offset = header.fields_offset;
  const uint32_t contig_count = bin_stream_read_u32(stream);
  file->read_count = header.version >= 2 ? bin_stream_read_u64(stream) : bin_stream_read_u32(stream);
  // Every record takes at least one byte of the record section.
  if (file->read_count > static_cast<uint64_t>(header.fields_offset - kNyrHeaderSize)) nyr_bad_file();
  file->program_name = nyr_read_string(stream);
  file->program_version = nyr_read_string(stream);
  file->command_line = nyr_read_string(stream);
  file->reference_files = seq_file_info_list_read(header.version, stream);
  file->read_files = seq_file_info_list_read(header.version, stream);
  file->scheme = nyr_scoring_scheme_read(stream);
  read_contig_table(file, stream, contig_count);
  if (header.version < 2 && bin_stream_read_flex_number(stream) != 0)
    fail("Read error: contig pairs not implemented\n", 65);
  input_stream_seek(stream, kNyrHeaderSize, SEEK_SET);
  return file;
}

nyr_file_t *nyr_file_read_header(const char *path) {
  input_stream_t *stream = input_stream_open(path, "rb");
  if (stream == nullptr) fail("Error opening assembly file for reading\n", 66);
  nyr_file_t *file = nyr_file_read_header_stream(stream);
  if (input_stream_close(stream) != 0) fail("Error closing assembly file\n", 74);
  return file;
}

nyr_file_t *nyr_file_read(const char *path, int resolve_wraps) {
  input_stream_t *stream = input_stream_open(path, "rb");
  if (stream == nullptr) fail("Error opening assembly file for reading\n", 66);
  nyr_file_t *file = nyr_file_read_header_stream(stream);
  nyr_file_alloc_matches(file);
  file->records_in_arena = 1;
  const uint32_t longest = nyr_file_get_longest_contig(file);
  uint32_t *lengths = resolve_wraps ? nyr_file_get_contig_lengths(file) : nullptr;
  for (uint64_t i = 0; i < file->read_count; i++)
    file->sources->matches[i] = nyr_match_read(file->version, stream, file->arena, file->contig_count, longest,
                                               lengths, file->fields_offset);
  ryx_free(lengths);
  // The records must fill the record section exactly.
  if (input_stream_tell(stream) != file->fields_offset) nyr_bad_file();
  chunk_arena_trim(file->arena);
  if (input_stream_close(stream) != 0) fail("Error closing assembly file\n", 74);
  return file;
}

int64_t nyr_file_get_records_size(FILE *file) {
  const Header header = read_and_check_file_header(file);
  if (!large_file_seek(file, kNyrHeaderSize, SEEK_SET)) nyr_bad_file();
  return header.fields_offset - kNyrHeaderSize;
}

int64_t nyr_file_get_records_size_stream(input_stream_t *stream) {
  const Header header = read_and_check_header(stream);
  input_stream_seek(stream, kNyrHeaderSize, SEEK_SET);
  return header.fields_offset - kNyrHeaderSize;
}

// --- Writing ---

void nyr_file_write_start(FILE *out, const nyr_file_t *) {
  uint8_t head[8];
  memcpy(head, kNyrMagic, kNyrMagicSize);
  head[kNyrVersionByte] = kNyrVersionWritten;
  if (fwrite(head, 1, sizeof head, out) != sizeof head) nyr_write_error();
  bin_file_write_u64(out, 0);
}

void nyr_fields_write(FILE *out, const nyr_file_t *file) { write_fields(out, file, kNyrVersionWritten); }

void nyr_fields_write_v1(FILE *out, const nyr_file_t *file) { write_fields(out, file, 1); }

void nyr_file_write_finish(FILE *out, const nyr_file_t *file) {
  // An output that cannot tell or seek (a pipe) cannot be patched: the file
  // would keep offset 0 and be unreadable, so that is an error.
  const char *unpatchable = "Error writing assembly file: could not write the fields offset - seek failed.\n";
  const int64_t offset = large_file_tell(out);
  if (offset < 0) fail(unpatchable, 74);
  if (offset < kNyrHeaderSize) nyr_write_error();
  nyr_fields_write(out, file);
  if (fflush(out) != 0 || ferror(out)) nyr_write_error();
  if (!large_file_seek(out, kNyrOffsetField, SEEK_SET)) fail(unpatchable, 74);
  bin_file_write_u64(out, static_cast<uint64_t>(offset));
  if (fflush(out) != 0 || ferror(out)) nyr_write_error();
}

void nyr_file_write(const char *path, nyr_file_t *file) {
  FILE *out = fopen(path, "wb");
  if (out == nullptr) fail("Error opening assembly file for writing\n", 73);
  nyr_file_write_start(out, file);
  const uint32_t longest = nyr_file_get_longest_contig(file);
  uint32_t *lengths = nyr_file_get_contig_lengths(file);
  for (uint64_t i = 0; i < file->read_count; i++) {
    const nyr_match_t *record = file->get_match != nullptr ? file->get_match(file, i) : nullptr;
    nyr_match_write(out, file->contig_count, longest, lengths, record);
  }
  ryx_free(lengths);
  nyr_file_write_finish(out, file);
  close_or_fail(out);
}

void nyr_file_save(const char *path, nyr_file_t *file) { nyr_file_write(path, file); }

void nyr_file_rewrite_fields(const char *path, const nyr_file_t *file) {
  FILE *io = fopen(path, "rb+");
  if (io == nullptr) fail("Error opening assembly file for writing\n", 73);
  // Everything is checked before the first byte changes.
  const Header header = read_and_check_file_header(io);
  if (header.version == 0) fail("Cannot rewrite the fields of a version 0 assembly file\n", 65);
  if (!large_file_seek(io, kNyrVersionByte, SEEK_SET) || fputc(kNyrVersionRewritten, io) == EOF || fflush(io) != 0)
    nyr_write_error();
  close_or_fail(io);
  if (large_file_truncate(path, header.fields_offset) != 0) nyr_write_error();
  FILE *out = fopen(path, "ab");
  if (out == nullptr) fail("Error opening assembly file for writing\n", 73);
  nyr_fields_write(out, file);
  if (fflush(out) != 0 || ferror(out)) nyr_write_error();
  close_or_fail(out);
}

uint32_t nyr_file_read_legacy_pair_count(FILE *file) {
  if (!large_file_seek(file, kNyrOffsetField, SEEK_SET)) nyr_bad_file();
  const uint32_t contigs = bin_file_read_u32(file);
  bin_file_read_u32(file);
  for (int i = 0; i < 5; i++) nyr_skip_file_string(file);
  if (bin_file_read_u8(file) == 1 && !large_file_seek(file, 16, SEEK_CUR)) nyr_bad_file();
  if (!large_file_seek(file, 6 * static_cast<int64_t>(contigs), SEEK_CUR)) nyr_bad_file();
  return bin_file_read_flex_number(file);
}

// --- Source cache and the slots over sequence files ---

namespace {

// Formats accepted for read files and for reference files.
constexpr uint32_t kReadFormats = 699;
constexpr uint32_t kReferenceFormats = 5;

// A database cached for a list, freed the way it was built.
void free_cached_db(seq_db_t *db, const seq_file_info_list_t *list) {
  if (db == nullptr) return;
  if (list != nullptr)
    seq_file_info_list_free_db(db, list);
  else
    seq_db_free_fasta_indexed(db);
}

seq_record_t *fetch(seq_db_t *db, seq_db_get_fn get, int64_t index) {
  if (db == nullptr || get == nullptr || index < 0 || index >= db->sequence_count) return nullptr;
  return get(db, index);
}

}  // namespace

nyr_sources_t *nyr_sources_new() { return static_cast<nyr_sources_t *>(ryx_calloc(sizeof(nyr_sources_t))); }

nyr_sources_t *nyr_sources_free(nyr_sources_t *sources, nyr_file_t *file) {
  if (sources == nullptr) return nullptr;
  free_cached_db(sources->read_db, file != nullptr ? file->read_files : nullptr);
  if (sources->read_reader != nullptr)
    seq_file_info_list_free_reader(sources->read_reader, file != nullptr ? file->read_files : nullptr);
  free_cached_db(sources->reference_db, file != nullptr ? file->reference_files : nullptr);
  ryx_free(sources);
  return nullptr;
}

seq_db_t *nyr_file_open_reads(nyr_file_t *file, int residue_type) {
  nyr_sources_t *sources = file->sources;
  free_cached_db(sources->read_db, file->read_files);
  sources->read_db = seq_file_info_list_open_db(file->read_files, residue_type, kReadFormats, 0, 0, nullptr,
                                                nullptr, 0);
  if (sources->read_db == nullptr) ryx_exit(66);
  if (sources->read_db->get_qualities == nullptr) file->get_read_raw = nullptr;
  return sources->read_db;
}

seq_reader_t *nyr_file_open_read_reader(nyr_file_t *file, int residue_type, int want_qualities) {
  nyr_sources_t *sources = file->sources;
  seq_file_info_list_free_reader(sources->read_reader, file->read_files);
  sources->read_reader =
      seq_file_info_list_open_reader(file->read_files, residue_type, kReadFormats, want_qualities, 0);
  return sources->read_reader;
}

seq_reader_t *nyr_file_open_read_reader_range(nyr_file_t *file, int32_t entry, int residue_type, int want_qualities) {
  nyr_sources_t *sources = file->sources;
  seq_file_info_list_free_reader(sources->read_reader, file->read_files);
  sources->read_reader =
      seq_file_info_list_open_reader_one(file->read_files, entry, residue_type, kReadFormats, want_qualities, 0);
  return sources->read_reader;
}

seq_db_t *nyr_file_open_references(nyr_file_t *file, int residue_type) {
  nyr_sources_t *sources = file->sources;
  free_cached_db(sources->reference_db, file->reference_files);
  sources->reference_db = seq_file_info_list_open_db(file->reference_files, residue_type, kReferenceFormats, 1, 0,
                                                     nullptr, nullptr, 0);
  if (sources->reference_db == nullptr) ryx_exit(66);
  return sources->reference_db;
}

seq_record_t *nyr_file_get_read(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->read_db;
  return fetch(db, db != nullptr ? db->get : nullptr, index);
}

seq_record_t *nyr_file_get_read_raw(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->read_db;
  return fetch(db, db != nullptr ? db->get_qualities : nullptr, index);
}

seq_record_t *nyr_file_get_reference(nyr_file_t *file, int64_t index) {
  seq_db_t *db = file->sources->reference_db;
  return fetch(db, db != nullptr ? db->get : nullptr, index);
}

seq_record_t *nyr_file_next_read(nyr_file_t *file, seq_record_t **raw) {
  if (file->sources->read_reader == nullptr) {
    if (raw != nullptr) *raw = nullptr;
    return nullptr;
  }
  seq_record_t *quality = nullptr;
  seq_record_t *record = seq_reader_next_with_raw(file->sources->read_reader, &quality);
  if (raw != nullptr)
    *raw = quality;
  else
    seq_record_release(quality);
  return record;
}

seq_db_t *nyr_file_get_reference_db(nyr_file_t *file) { return file->sources->reference_db; }
