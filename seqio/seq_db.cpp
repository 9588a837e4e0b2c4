#include "seqio/seq_db.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "common/array_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/fasta_reader.h"
#include "seqio/fastq_index_scan.h"
#include "seqio/fastq_reader.h"
#include "seqio/gzip_spool.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

// Above this many sequences a format that can skip keeps its starts in the
// offset index.
constexpr int64_t kPlainStartsLimit = 1024;
// Every record start lies at least this many bytes after the index's base.
constexpr int64_t kIndexMargin = 1;
// A fetch at most this many records after the one read last reads its way
// there instead of positioning through the starts or the index.
constexpr int64_t kForwardReads = 16;

// Formats whose next_length reads exactly what read reads and keeps no
// state, so that a fetch may read its way forward record by record.
bool reads_forward(const seq_format_ops_t *ops) { return ops == &kFastqFormatOps || ops == &kFastaFormatOps; }

seq_db_stream_impl_t *impl_of(const seq_db_t *db) { return static_cast<seq_db_stream_impl_t *>(db->impl); }

uint32_t stream_get_length(seq_db_t *db, int64_t index) { return impl_of(db)->lengths[index]; }

// Puts the stream in front of record i.
void stream_position(seq_db_stream_impl_t *impl, int64_t i) {
  const seq_format_ops_t *ops = impl->ops;
  input_stream_t *stream = impl->stream;
  if (ops->next_length == nullptr) {
    // No index: walk forward from the record after the last one read, or
    // from the first record.
    if (i <= impl->last) {
      input_stream_seek(stream, impl->data_start, SEEK_SET);
      impl->last = -1;
    }
    const int64_t k = i - impl->last - 1;
    if (k > 0) ops->skip(impl->state, stream, static_cast<int32_t>(k));
    return;
  }
  if (impl->starts != nullptr) {
    input_stream_seek(stream, impl->starts[i], SEEK_SET);
    return;
  }
  int32_t skip = 0;
  const int64_t base = offset_index_lookup(impl->index, i, &skip);
  if (base > impl->data_start) {
    input_stream_seek(stream, base, SEEK_SET);
    ops->skip(impl->state, stream, skip);
    return;
  }
  // The base lies at or before the first record: start at the first record,
  // whose own start a skip never counts.
  input_stream_seek(stream, impl->data_start, SEEK_SET);
  if (i > 0) ops->skip(impl->state, stream, base < impl->data_start ? skip - 1 : skip);
}

// Puts the stream in front of record i from wherever the last fetch left it.
void stream_move_to(seq_db_stream_impl_t *impl, int64_t i) {
  const seq_format_ops_t *ops = impl->ops;
  if (i == impl->last + 1) return;
  if (reads_forward(ops) && impl->last >= 0 && i > impl->last && i - impl->last - 1 <= kForwardReads) {
    // A little ahead of the stream: read past the records in between,
    // which costs less than going back to the index's base and skipping
    // forward from there byte by byte.
    for (int64_t k = impl->last + 1; k < i; k++) ops->next_length(impl->state, impl->stream, nullptr);
  } else {
    stream_position(impl, i);
  }
}

seq_record_t *stream_fetch(seq_db_t *db, int64_t i, bool qualities) {
  seq_db_stream_impl_t *impl = impl_of(db);
  const seq_format_ops_t *ops = impl->ops;
  if (i < 0 || (ops->next_length != nullptr && i >= db->sequence_count)) return nullptr;
  stream_move_to(impl, i);
  seq_record_t *record = seq_record_new_empty();
  if (qualities || ops->read == nullptr) {
    // A format without letters (the FASTA quality file) hands out its values
    // from get as well, as the streaming parser does.
    ops->read_qualities(impl->state, impl->stream, record);
  } else {
    ops->read(impl->state, impl->stream, record);
    seq_alphabet_apply(impl->alphabet, record);
  }
  impl->last = i;
  return record;
}

seq_record_t *stream_get(seq_db_t *db, int64_t i) { return stream_fetch(db, i, false); }

// FASTQ letters straight into the scratch record.
seq_record_t *stream_get_fastq_letters(seq_db_t *db, int64_t i, seq_scratch_t *scratch) {
  seq_db_stream_impl_t *impl = impl_of(db);
  if (i < 0 || i >= db->sequence_count) return nullptr;
  stream_move_to(impl, i);
  if (fastq_read_letters(impl->stream, scratch) < 0) {
    // The index counted the record: the file changed under the database.
    seq_scratch_set(scratch, nullptr, 0);
  }
  seq_alphabet_apply(impl->alphabet, &scratch->record);
  impl->last = i;
  return &scratch->record;
}
seq_record_t *stream_get_qualities(seq_db_t *db, int64_t i) { return stream_fetch(db, i, true); }

// The lists one pass over the records fills.
struct index_lists_t {
  array_list_t *starts;   // int64_t
  array_list_t *lengths;  // uint32_t, or null when lengths are not kept
  array_list_t *markers;  // int64_t, or null for a format without skip
};

// Counts n records of these lengths: shortest, longest, histogram, record
// and residue counts.
void note_lengths(seq_db_t *db, const int32_t *lengths, uint64_t n) {
  seq_db_stream_impl_t *impl = impl_of(db);
  int32_t shortest = impl->min_length, longest = impl->max_length;
  int64_t residues = 0;
  for (uint64_t r = 0; r < n; r++) {
    const int32_t length = lengths[r];
    if (shortest < 0 || length < shortest) shortest = length;
    if (length > longest) longest = length;
    if (length < impl->buckets) impl->histogram[length]++;
    residues += length;
  }
  impl->min_length = shortest;
  impl->max_length = longest;
  db->sequence_count += static_cast<int64_t>(n);
  db->residue_count += residues;
}

void add_record(seq_db_t *db, index_lists_t *lists, int64_t position, int32_t length) {
  note_lengths(db, &length, 1);
  array_list_add(lists->starts, &position);
  if (lists->lengths != nullptr) {
    const auto stored = static_cast<uint32_t>(length);
    array_list_add(lists->lengths, &stored);
  }
}

// Reads records with the format's reader from position on while they start
// before limit. Returns where the first record it did not read starts;
// *ended is set when the input ended there.
int64_t read_records(seq_db_t *db, index_lists_t *lists, int64_t position, int64_t limit, bool *ended) {
  seq_db_stream_impl_t *impl = impl_of(db);
  input_stream_t *stream = impl->stream;
  if (input_stream_tell(stream) != position) input_stream_seek(stream, position, SEEK_SET);
  for (;;) {
    const int64_t at = input_stream_tell(stream);
    if (at >= limit) return at;
    const int32_t length = impl->ops->next_length(impl->state, stream, lists->markers);
    if (length < 0) {
      *ended = true;
      return at;
    }
    add_record(db, lists, at, length);
  }
}

// Set by seq_db_set_index_threads: the threads of the opening pass and the
// fewest bytes a part of it gets.
std::atomic<int32_t> index_threads{1};
std::atomic<int64_t> index_part_bytes{kSeqDbIndexPartBytes};

// A descriptor for pread over the bytes the stream reads (closed by the
// caller when *owned), or -1 when the stream's source is not a plain
// regular file.
int plain_descriptor(const seq_db_stream_impl_t *impl, bool *owned, int64_t *size) {
  const input_stream_t *stream = impl->stream;
  int fd = -1;
  *owned = false;
  if (stream->file != nullptr) {
    fd = fileno(stream->file);
  } else if (stream->gz != nullptr && gzdirect(stream->gz) != 0 && stream->path != nullptr) {
    fd = open(stream->path, O_RDONLY);
    *owned = fd >= 0;
  }
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (*owned) close(fd);
    *owned = false;
    return -1;
  }
  *size = static_cast<int64_t>(info.st_size);
  return fd;
}

// add_record for every record of a scanned part, the lists appended whole.
void add_part_records(seq_db_t *db, index_lists_t *lists, const fastq_scan_part_t *part) {
  note_lengths(db, reinterpret_cast<const int32_t *>(part->lengths->items), part->lengths->count);
  array_list_add_list(lists->starts, part->starts);
  // The part's lengths are int32_t, the lists' uint32_t: the same bytes.
  if (lists->lengths != nullptr) array_list_add_list(lists->lengths, part->lengths);
}

// Room for n more items, in one step to the capacity that adding them one
// by one would reach. Not to the exact size: the sizes of the large blocks
// freed here steer which later blocks the C library maps afresh and which
// it keeps in its heap, and with exact sizes a mapping run kept some 50 MB
// more resident.
void reserve(array_list_t *list, uint64_t n) {
  if (list == nullptr || list->count + n <= list->capacity) return;
  uint64_t capacity = list->capacity == 0 ? 10 : list->capacity;
  while (capacity < list->count + n) capacity *= 2;
  array_list_set_capacity(list, capacity);
}

// Takes the records of scanned parts in order: a part's records where it
// starts where the records before it ended, the format's reader elsewhere
// (fastq_index_scan.h).
void take_parts(seq_db_t *db, index_lists_t *lists, int64_t start, const fastq_scan_part_t *const *parts,
                int32_t count) {
  // The lists grow once instead of once per part.
  uint64_t records = 0, markers = 0;
  for (int32_t k = 0; k < count; k++) {
    records += parts[k]->starts->count;
    markers += parts[k]->markers->count;
  }
  reserve(lists->starts, records);
  reserve(lists->lengths, records);
  reserve(lists->markers, markers);
  bool ended = false;
  int64_t next = start;
  for (int32_t k = 0; k < count && !ended; k++) {
    const fastq_scan_part_t *part = parts[k];
    if (part->found && part->first == next) {
      add_part_records(db, lists, part);
      array_list_add_list(lists->markers, part->markers);
      next = part->end;
      if (part->complete) continue;
    }
    next = read_records(db, lists, next, part->share_end, &ended);
  }
  if (!ended) read_records(db, lists, next, INT64_MAX, &ended);
}

// The opening pass over a large FASTQ file in parts on several threads
// (fastq_index_scan.h), or over the parts scanned while a gzip file was
// spooled. Returns false, having read nothing, when the file is not for it.
bool read_records_in_parts(seq_db_t *db, index_lists_t *lists, int64_t start, const gzip_spool_scan_t *spooled) {
  seq_db_stream_impl_t *impl = impl_of(db);
  if (impl->ops != &kFastqFormatOps) return false;
  if (spooled != nullptr && spooled->count > 0 && start == 0) {
    take_parts(db, lists, start, spooled->parts, spooled->count);
    return true;
  }
  const int32_t threads = index_threads.load(std::memory_order_relaxed);
  if (threads < 2) return false;
  bool owned = false;
  int64_t size = 0;
  const int fd = plain_descriptor(impl, &owned, &size);
  if (fd < 0) return false;
  const int64_t part_bytes = std::max<int64_t>(index_part_bytes.load(std::memory_order_relaxed), 1);
  const int64_t parts = std::min<int64_t>(threads, (size - start) / part_bytes);
  if (parts < 2) {
    if (owned) close(fd);
    return false;
  }
  fastq_scan_part_t *scanned = fastq_scan_parts(fd, start, size, static_cast<int32_t>(parts));
  if (owned) close(fd);
  auto **order = static_cast<const fastq_scan_part_t **>(ryx_malloc(sizeof(fastq_scan_part_t *) * parts));
  for (int64_t k = 0; k < parts; k++) order[k] = &scanned[k];
  take_parts(db, lists, start, order, static_cast<int32_t>(parts));
  ryx_free(order);
  fastq_scan_parts_free(scanned, static_cast<int32_t>(parts));
  return true;
}

// One pass over the records: counts, lengths, histogram and starts.
void build_index(seq_db_t *db, bool keep_lengths, const gzip_spool_scan_t *spooled) {
  seq_db_stream_impl_t *impl = impl_of(db);
  const seq_format_ops_t *ops = impl->ops;
  input_stream_t *stream = impl->stream;
  const int64_t start = input_stream_tell(stream);
  db->sequence_count = 0;
  db->residue_count = 0;
  impl->min_length = -1;
  impl->max_length = -1;
  impl->last = -1;
  index_lists_t lists{};
  lists.starts = array_list_new(sizeof(int64_t));
  lists.lengths = keep_lengths ? array_list_new(sizeof(uint32_t)) : nullptr;
  lists.markers = ops->skip != nullptr ? array_list_new(sizeof(int64_t)) : nullptr;
  if (!read_records_in_parts(db, &lists, start, spooled)) {
    bool ended = false;
    read_records(db, &lists, start, INT64_MAX, &ended);
  }
  array_list_t *starts = lists.starts;
  array_list_t *markers = lists.markers;
  array_list_t *lengths = lists.lengths;
  const int64_t n = db->sequence_count;
  if (ops->skip != nullptr && n > kPlainStartsLimit) {
    const auto *marker_items = reinterpret_cast<const int64_t *>(markers->items);
    impl->index = offset_index_build(reinterpret_cast<const int64_t *>(starts->items), n, marker_items,
                                     static_cast<int64_t>(markers->count), kIndexMargin);
    array_list_free(starts);
  } else {
    impl->starts = static_cast<int64_t *>(array_list_take_items(starts));
  }
  array_list_free(markers);
  if (lengths != nullptr) impl->lengths = static_cast<uint32_t *>(array_list_take_items(lengths));
  input_stream_seek(stream, start, SEEK_SET);
  impl->data_start = start;
  impl->last = -1;
}

// The database around a stream positioned at its first record.
seq_db_t *db_new(input_stream_t *stream, const seq_format_ops_t *ops, seq_alphabet_t *alphabet, int32_t buckets) {
  auto *db = static_cast<seq_db_t *>(ryx_calloc(sizeof(seq_db_t)));
  auto *impl = static_cast<seq_db_stream_impl_t *>(ryx_calloc(sizeof(seq_db_stream_impl_t)));
  db->impl = impl;
  impl->stream = stream;
  impl->alphabet = alphabet;
  impl->ops = ops;
  impl->last = -1;
  impl->min_length = -1;
  impl->max_length = -1;
  if (buckets > 0) {
    impl->buckets = buckets;
    impl->histogram = static_cast<int32_t *>(ryx_calloc(sizeof(int32_t) * static_cast<size_t>(buckets)));
  }
  db->get = stream_get;
  db->get_qualities = ops->read_qualities != nullptr ? stream_get_qualities : nullptr;
  db->get_letters = ops == &kFastqFormatOps ? stream_get_fastq_letters : nullptr;
  return db;
}

// Records where the data starts and indexes the records when the format
// can count them (with the parts scanned while spooling, when there are).
seq_db_t *db_finish(seq_db_t *db, int keep_lengths, const gzip_spool_scan_t *spooled = nullptr) {
  seq_db_stream_impl_t *impl = impl_of(db);
  impl->data_start = input_stream_tell(impl->stream);
  if (impl->ops->next_length != nullptr) {
    build_index(db, keep_lengths != 0, spooled);
    if (keep_lengths != 0) db->get_length = stream_get_length;
  }
  return db;
}

// Set by seq_db_set_gzip_spooling.
std::atomic<bool> gzip_spooling{false};

seq_db_t *open_stream(input_stream_t *stream, uint32_t residue_type, uint32_t mask, int keep_lengths, int32_t buckets,
                      const gzip_spool_scan_t *spooled) {
  const uint32_t bit = seq_format_detect(stream);
  if (bit == 0 || (bit & mask) == 0) return nullptr;
  const seq_format_t *format = seq_format_by_bit(bit);
  input_stream_seek(stream, 0, SEEK_SET);
  seq_db_t *db = db_new(stream, format->ops, format->alphabet(residue_type), buckets);
  if (format->ops->open_state != nullptr) impl_of(db)->state = format->ops->open_state(stream, db);
  return db_finish(db, keep_lengths, spooled);
}

}  // namespace

seq_db_t *seq_db_new_indexed_stream(input_stream_t *stream, const seq_format_ops_t *ops, void *state,
                                    seq_alphabet_t *alphabet, int keep_lengths, int32_t buckets) {
  seq_db_t *db = db_new(stream, ops, alphabet, buckets);
  impl_of(db)->state = state;
  return db_finish(db, keep_lengths);
}

seq_db_t *seq_db_open_stream(input_stream_t *stream, uint32_t residue_type, uint32_t mask, int keep_lengths,
                             int32_t buckets) {
  return open_stream(stream, residue_type, mask, keep_lengths, buckets, nullptr);
}

seq_record_t *seq_db_fetch_letters(seq_db_t *db, int64_t index, seq_scratch_t *scratch) {
  if (db->get_letters != nullptr) return db->get_letters(db, index, scratch);
  seq_record_t *record = db->get(db, index);
  if (record == nullptr) return nullptr;
  seq_scratch_set(scratch, record->residues, record->length);
  seq_db_release_fetched(db, record);
  return &scratch->record;
}

void seq_db_set_index_threads(int32_t threads, int64_t part_bytes) {
  index_threads.store(threads, std::memory_order_relaxed);
  index_part_bytes.store(part_bytes, std::memory_order_relaxed);
}

void seq_db_set_gzip_spooling(int on) { gzip_spooling.store(on != 0, std::memory_order_relaxed); }

seq_db_t *seq_db_open(const char *path, uint32_t residue_type, uint32_t mask, int keep_lengths, int32_t buckets) {
  input_stream_t *stream = input_stream_open(path, "rb");
  if (stream == nullptr) {
    fprintf(stderr, "Could not open file %s for reading\n", path);
    return nullptr;
  }
  // The stream names its file in the readers' messages for as long as the
  // database lives, so it gets a copy of the path.
  const size_t size = strlen(path) + 1;
  char *copy = static_cast<char *>(ryx_malloc(size));
  memcpy(copy, path, size);
  stream->path = copy;
  gzip_spool_scan_t spooled{};
  if (gzip_spooling.load(std::memory_order_relaxed) && gzdirect(stream->gz) == 0) {
    stream = gzip_spool(stream, index_threads.load(std::memory_order_relaxed),
                        index_part_bytes.load(std::memory_order_relaxed), &spooled);
  }
  seq_db_t *db = open_stream(stream, residue_type, mask, keep_lengths, buckets, &spooled);
  gzip_spool_scan_free(&spooled);
  if (db == nullptr) {
    fprintf(stderr, "Format problem with file %s\n", path);
    input_stream_close(stream);
    ryx_free(copy);
    return nullptr;
  }
  impl_of(db)->path = copy;
  return db;
}

seq_db_t *seq_db_open_file(FILE *file, uint32_t residue_type, uint32_t mask, int keep_lengths, int32_t buckets) {
  input_stream_t *stream = input_stream_new_file(file);
  seq_db_t *db = seq_db_open_stream(stream, residue_type, mask, keep_lengths, buckets);
  if (db == nullptr) {
    fprintf(stderr, "Format problem with file\n");
    input_stream_close(stream);
  }
  return db;
}

seq_db_t *seq_db_free(seq_db_t *db) {
  if (db == nullptr) return nullptr;
  seq_db_stream_impl_t *impl = impl_of(db);
  if (impl->state != nullptr && impl->ops->free_state != nullptr) impl->ops->free_state(impl->state);
  offset_index_free(impl->index);
  ryx_free(impl->starts);
  seq_alphabet_free(impl->alphabet);
  ryx_free(impl->lengths);
  ryx_free(impl->histogram);
  const int closed = input_stream_close(impl->stream);
  ryx_free(impl->path);
  ryx_free(impl);
  ryx_free(db);
  if (closed != 0) {
    fprintf(stderr, "Problem closing file\n");
    ryx_exit(1);
  }
  return nullptr;
}

void seq_db_report(seq_db_t *db, const char *path) {
  seq_db_stream_impl_t *impl = impl_of(db);
  if (impl->ops->report != nullptr) impl->ops->report(db->sequence_count, impl->state, path);
}

int32_t seq_db_get_min_length(const seq_db_t *db) { return impl_of(db)->min_length; }

int32_t seq_db_get_max_length(const seq_db_t *db) { return impl_of(db)->max_length; }

const int32_t *seq_db_get_length_histogram(const seq_db_t *db) { return impl_of(db)->histogram; }
