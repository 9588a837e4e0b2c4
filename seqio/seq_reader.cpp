#include "seqio/seq_reader.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_chunk.h"
#include "seqio/seq_record.h"
#include "seqio/seq_stream.h"

namespace {

// Spare bytes behind the residues of a record handed out.
constexpr uint32_t kResidueSlack = 7;

enum class reader_kind_t { kSingle, kConcat, kInterleaved };

}  // namespace

struct seq_reader_t {
  reader_kind_t kind;
  // A single file.
  seq_stream_t *stream;
  seq_splitter_t splitter;
  seq_chunk_t *ready;        // the chunk being handed out
  seq_chunk_t *extra;        // the one-record chunk that follows it
  int32_t next_record;       // next record of the ready chunk
  bool drop_names;
  bool reading_done;         // no block left to read
  bool input_done;           // the held chunk has been closed too
  // A composite.
  seq_reader_t **parts;
  int32_t part_count;
  int32_t current;
  bool ended;
  int64_t size;
};

namespace {

seq_record_t *copy_record(const seq_record_t *source, bool with_name) {
  auto *record = static_cast<seq_record_t *>(ryx_calloc(sizeof(seq_record_t)));
  if (with_name && source->name != nullptr) {
    const size_t size = strlen(source->name) + 1;
    record->name = static_cast<char *>(ryx_malloc(size));
    memcpy(record->name, source->name, size);
  }
  record->length = source->length;
  record->residues = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(source->length) + kResidueSlack));
  memcpy(record->residues, source->residues, source->length);
  memset(record->residues + source->length, 0, kResidueSlack);
  record->free_callback = seq_record_free;
  return record;
}

// Makes sure the ready chunk has a record left; false at the end of input.
bool fill(seq_reader_t *reader) {
  for (;;) {
    if (reader->ready != nullptr && reader->next_record < seq_chunk_record_count(reader->ready)) return true;
    reader->ready = seq_chunk_recycle(reader->stream, reader->ready);
    reader->next_record = 0;
    if (reader->extra != nullptr) {
      reader->ready = reader->extra;
      reader->extra = nullptr;
      continue;
    }
    if (reader->input_done) return false;
    if (reader->reading_done) {
      reader->input_done = true;
      reader->ready = seq_splitter_finish(&reader->splitter);
      if (reader->ready != nullptr) seq_chunk_parse(reader->stream, reader->ready);
      continue;
    }
    bool last = false;
    seq_chunk_t *block = seq_chunk_read_block(reader->stream, &last);
    if (last) reader->reading_done = true;
    if (block == nullptr) {
      reader->reading_done = true;
      continue;
    }
    seq_chunk_t *out[2];
    const int n = seq_splitter_push(&reader->splitter, block, out);
    if (n > 0) {
      reader->ready = out[0];
      seq_chunk_parse(reader->stream, reader->ready);
    }
    if (n > 1) {
      reader->extra = out[1];
      seq_chunk_parse(reader->stream, reader->extra);
    }
  }
}

seq_record_t *single_next(seq_reader_t *reader, seq_record_t **quality) {
  if (quality != nullptr) *quality = nullptr;
  if (!fill(reader)) return nullptr;
  seq_chunk_t *chunk = reader->ready;
  const int32_t k = reader->next_record++;
  seq_record_t *record = copy_record(&chunk->records[k], !reader->drop_names);
  if (quality != nullptr && chunk->quality_records != nullptr && chunk->quality_records[k] != nullptr)
    *quality = copy_record(chunk->quality_records[k], true);
  reader->stream->delivered++;
  return record;
}

[[noreturn]] void unequal_counts() {
  fprintf(stderr, "Interleaved databases should have the same number of sequences\n");
  ryx_exit(1);
}

seq_record_t *next(seq_reader_t *reader, seq_record_t **quality) {
  switch (reader->kind) {
    case reader_kind_t::kSingle:
      return single_next(reader, quality);
    case reader_kind_t::kConcat:
      for (; reader->current < reader->part_count; reader->current++) {
        seq_record_t *record = next(reader->parts[reader->current], quality);
        if (record != nullptr) return record;
      }
      return nullptr;
    case reader_kind_t::kInterleaved: {
      if (reader->ended) {
        if (quality != nullptr) *quality = nullptr;
        return nullptr;
      }
      const int32_t k = reader->current;
      reader->current = (k + 1) % reader->part_count;
      seq_record_t *record = next(reader->parts[k], quality);
      if (record != nullptr) return record;
      // The parts must all end at the same round.
      if (k != 0) unequal_counts();
      for (int32_t j = 1; j < reader->part_count; j++) {
        seq_record_t *spare_quality = nullptr;
        if (next(reader->parts[j], &spare_quality) != nullptr) unequal_counts();
      }
      reader->ended = true;
      return nullptr;
    }
  }
  return nullptr;
}

seq_reader_t *composite_new(reader_kind_t kind, seq_reader_t **parts, int32_t n) {
  auto *reader = static_cast<seq_reader_t *>(ryx_calloc(sizeof(seq_reader_t)));
  reader->kind = kind;
  reader->parts = parts;
  reader->part_count = n;
  for (int32_t i = 0; i < n; i++) reader->size += seq_reader_get_size(parts[i]);
  return reader;
}

}  // namespace

seq_reader_t *seq_reader_open(const char *path, int, uint32_t residue_type, uint32_t mask, int drop_names,
                              int want_qualities, int report) {
  seq_stream_t *stream = seq_stream_open(path, residue_type, mask, want_qualities, report);
  if (stream == nullptr) {
    fprintf(stderr, "Problem with sequence file %s\n", path);
    ryx_exit(1);
  }
  auto *reader = static_cast<seq_reader_t *>(ryx_calloc(sizeof(seq_reader_t)));
  reader->kind = reader_kind_t::kSingle;
  reader->stream = stream;
  reader->drop_names = drop_names != 0;
  reader->size = stream->size;
  seq_splitter_init(&reader->splitter, stream);
  return reader;
}

seq_record_t *seq_reader_next(seq_reader_t *reader) { return next(reader, nullptr); }

seq_record_t *seq_reader_next_with_raw(seq_reader_t *reader, seq_record_t **quality) {
  return next(reader, quality);
}

seq_reader_t *seq_reader_new_concat(seq_reader_t **parts, int32_t n) {
  return composite_new(reader_kind_t::kConcat, parts, n);
}

seq_reader_t *seq_reader_new_interleaved(seq_reader_t **parts, int32_t n) {
  return composite_new(reader_kind_t::kInterleaved, parts, n);
}

int64_t seq_reader_get_position(const seq_reader_t *reader) {
  if (reader->kind != reader_kind_t::kSingle) {
    int64_t sum = 0;
    for (int32_t i = 0; i < reader->part_count; i++) sum += seq_reader_get_position(reader->parts[i]);
    return sum;
  }
  const seq_chunk_t *ready = reader->ready;
  if (ready != nullptr && ready->length > 0) {
    const int32_t boundary = ready->boundaries[reader->next_record];
    return ready->file_position +
           static_cast<int64_t>(static_cast<double>(ready->bytes_consumed) * boundary / ready->length);
  }
  if (reader->splitter.held != nullptr) return reader->splitter.held->file_position;
  return gzoffset(reader->stream->gz);
}

int64_t seq_reader_get_size(const seq_reader_t *reader) { return reader->size; }

seq_reader_t *seq_reader_free(seq_reader_t *reader) {
  if (reader == nullptr) return nullptr;
  if (reader->kind == reader_kind_t::kSingle) {
    seq_splitter_done(&reader->splitter);
    seq_chunk_free(reader->ready);
    seq_chunk_free(reader->extra);
    seq_stream_close(reader->stream);
  } else {
    for (int32_t i = 0; i < reader->part_count; i++) seq_reader_free(reader->parts[i]);
    ryx_free(reader->parts);
  }
  ryx_free(reader);
  return nullptr;
}
