#include "seqio/seq_db_fasta_index.h"

#include <cstring>

#include "common/array_list.h"
#include "common/input_stream.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_record.h"

namespace {

// Line buffer of the fast scan; longer lines come in pieces.
constexpr int kLineBuffer = 2000;

fasta_index_t *index_of(const seq_db_t *db) { return static_cast<fasta_index_t *>(db->impl); }

// Full scan: every record's start and length.
void full_scan(fasta_index_t *index, input_stream_t *in, array_list_t *starts, array_list_t *lengths) {
  for (;;) {
    int c = input_stream_getc(in);
    while (seq_is_space(c)) c = input_stream_getc(in);
    if (c < 0) return;
    if (c != '>') {
      fprintf(stderr, "Fasta file format error 0\n");
      ryx_exit(1);
    }
    const int64_t start = input_stream_tell(in) - 1;
    do c = input_stream_getc(in);
    while (c >= 0 && c != '\n');
    uint32_t length = 0;
    for (;;) {
      c = input_stream_getc(in);
      if (c < 0) break;
      if (c == '>') {
        input_stream_ungetc(c, in);
        break;
      }
      if (!seq_is_space(c)) length++;
    }
    array_list_add(starts, &start);
    array_list_add(lengths, &length);
    index->residue_count += length;
  }
}

// Fast scan: the starts of lines that begin with '>'.
void fast_scan(input_stream_t *in, array_list_t *starts) {
  char line[kLineBuffer];
  bool line_start = true;
  for (;;) {
    const int64_t position = input_stream_tell(in);
    if (input_stream_gets(line, kLineBuffer, in) == nullptr) return;
    if (line_start && line[0] == '>') array_list_add(starts, &position);
    // A piece that does not end in a line feed is part of a longer line.
    const int64_t stored = input_stream_tell(in) - position;
    line_start = line[stored - 1] == '\n';
  }
}

seq_record_t *free_fetched(seq_record_t *record) {
  ryx_free(record->name != nullptr ? static_cast<void *>(record->name) : record->residues);
  ryx_free(record);
  return nullptr;
}

seq_record_t *fasta_index_get(seq_db_t *db, int64_t i) {
  fasta_index_t *index = index_of(db);
  if (i < 0 || i >= index->sequence_count) return nullptr;
  const int64_t size = index->starts[i + 1] - index->starts[i];
  auto *buffer = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(size) + 1));
  pthread_mutex_lock(&index->mutex);
  const bool read = large_file_seek(index->file, index->starts[i], SEEK_SET) &&
                    large_file_read(buffer, static_cast<size_t>(size), index->file) == static_cast<size_t>(size);
  pthread_mutex_unlock(&index->mutex);
  if (!read) {
    fprintf(stderr, "Read error\n");
    ryx_exit(1);
  }
  int64_t pos = 0;
  while (pos < size && seq_is_space(buffer[pos])) pos++;
  if (pos >= size || buffer[pos] != '>') {
    fprintf(stderr, "Fasta file error\n");
    ryx_exit(1);
  }
  pos++;
  while (pos < size && buffer[pos] != '\n' && seq_is_space(buffer[pos])) pos++;
  // Name and residues share the buffer: the name (without carriage returns)
  // moves to its start, the residues follow it.
  int64_t out = 0;
  while (pos < size && buffer[pos] != '\n') {
    const uint8_t c = buffer[pos++];
    if (index->keep_names != 0 && c != '\r') buffer[out++] = c;
  }
  auto *record = static_cast<seq_record_t *>(ryx_calloc(sizeof(seq_record_t)));
  if (index->keep_names != 0) {
    buffer[out++] = 0;
    record->name = reinterpret_cast<char *>(buffer);
  }
  const int64_t residues = out;
  for (; pos < size; pos++) {
    const uint8_t c = buffer[pos];
    if (!seq_is_space(c)) buffer[out++] = c;
  }
  record->residues = buffer + residues;
  record->length = static_cast<uint32_t>(out - residues);
  record->free_callback = free_fetched;
  seq_alphabet_apply(index->alphabet, record);
  return record;
}

uint32_t fasta_index_get_length(seq_db_t *db, int64_t i) { return index_of(db)->lengths[i]; }

}  // namespace

seq_db_t *seq_db_open_fasta_indexed(const char *path, seq_alphabet_t *alphabet, int keep_names, int full) {
  FILE *file = fopen(path, "rb");
  if (file == nullptr) return nullptr;
  auto *index = static_cast<fasta_index_t *>(ryx_calloc(sizeof(fasta_index_t)));
  pthread_mutex_init(&index->mutex, nullptr);
  index->file = file;
  index->alphabet = alphabet;
  index->keep_names = keep_names;
  input_stream_t *in = input_stream_new_file(file);
  in->path = path;
  array_list_t *starts = array_list_new(sizeof(int64_t));
  array_list_t *lengths = full != 0 ? array_list_new(sizeof(uint32_t)) : nullptr;
  if (full != 0) full_scan(index, in, starts, lengths);
  else fast_scan(in, starts);
  index->sequence_count = static_cast<int64_t>(starts->count);
  const int64_t end = input_stream_tell(in);
  array_list_add(starts, &end);
  input_stream_free_keep_file(in);
  index->starts = static_cast<int64_t *>(array_list_take_items(starts));
  if (lengths != nullptr) index->lengths = static_cast<uint32_t *>(array_list_take_items(lengths));

  auto *db = static_cast<seq_db_t *>(ryx_calloc(sizeof(seq_db_t)));
  db->impl = index;
  db->sequence_count = index->sequence_count;
  db->residue_count = index->residue_count;
  db->get = fasta_index_get;
  db->get_length = full != 0 ? fasta_index_get_length : nullptr;
  return db;
}

seq_db_t *seq_db_free_fasta_indexed(seq_db_t *db) {
  if (db == nullptr) return nullptr;
  fasta_index_t *index = index_of(db);
  const int closed = fclose(index->file);
  pthread_mutex_destroy(&index->mutex);
  ryx_free(index->starts);
  ryx_free(index->lengths);
  seq_alphabet_free(index->alphabet);
  ryx_free(index);
  ryx_free(db);
  if (closed != 0) {
    fprintf(stderr, "Error closing fasta file\n");
    ryx_exit(1);
  }
  return nullptr;
}
