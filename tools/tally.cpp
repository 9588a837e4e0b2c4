#include "tools/tally.h"

#include <cstring>
#include <iterator>

#include "common/arg_cursor.h"
#include "common/cpus.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "denovo/reads/word_table.h"
#include "seqio/seq_complement.h"
#include "seqio/seq_for_each.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "tools/tool_usage.h"

namespace {

// The usage text: each entry one paragraph, its lines separated by '\n'.
const char *const kUsageParagraphs[] = {
    "usage: ryx_tally [options] <tag file>",
    "  Count sequence tags. Output each tag followed by its count along with the\n"
    "  indices of the tags in the input file.",
    "Options:",
    "  -h / --help: Display this message",
    "  -m <n> / --mincount <n>: Minimum tag count to report (default 2).",
    "  -r / --reverse: Reverse tags are identical to forward tags.",
};

// Residue type of the tag file: nucleotide codes 0-4.
constexpr uint32_t kResidueCodes = 2;
// Marks an occurrence entry whose record held the reverse complement.
constexpr uint32_t kReverseBit = 0x80000000u;
// Record indexes share their 32 bits with kReverseBit.
constexpr int64_t kMaxRecords = int64_t{1} << 31;
// Payload of a free word-table slot: all 32 bits set. Neither a count nor
// an offset into an occurrence array (both at most 2^31) reaches it.
constexpr uint32_t kEmptyPayload = 0xFFFFFFFFu;

// Everything kept for the tags of one length.
struct tally_length_t {
  word_table_t *table;   // counts, then the kept tags' write positions
  word_table_key_t *key;
  int32_t *entries;      // the occurrence array, in listing order
  uint32_t total;        // its length: occurrences of the kept tags
};

// Records wait in a ring of this many before they are handled, so that the
// word table's cache lines for a record are loaded while the records ahead
// of it are handled: a lookup in a table of millions of tags otherwise waits
// for memory every time.
constexpr int kRingSize = 16;

// A record copied out of the reader: its codes and, in the second pass of
// reverse mode, its reverse complement behind them.
struct pending_record_t {
  uint8_t *codes;
  uint32_t length;
  uint32_t capacity;
  uint32_t index;
};

struct tally_state_t {
  const tally_options_t *options;
  FILE *out;
  tally_length_t **lengths;  // by tag length; null for lengths not seen
  int64_t length_capacity;   // entries of lengths
  int64_t records;           // records read by the counting pass
  int64_t next_index;        // index of the next record in the second pass
  pending_record_t ring[kRingSize];
  int32_t ring_start;        // oldest waiting record
  int32_t ring_count;        // records waiting
};

uint32_t load_u32(const void *p) {
  uint32_t v;
  memcpy(&v, p, sizeof v);
  return v;
}

void store_u32(void *p, uint32_t v) { memcpy(p, &v, sizeof v); }

bool all_bases(const uint8_t *codes, uint32_t length) {
  for (uint32_t i = 0; i < length; i++)
    if (codes[i] > 3) return false;
  return true;
}

[[noreturn]] void fail_changed(const tally_state_t *state) {
  fflush(state->out);
  fprintf(stderr, "Tag file %s changed while it was read\n", state->options->tag_path);
  ryx_exit(1);
}

// The state of tags of this length, made on first use.
tally_length_t *length_state(tally_state_t *state, uint32_t length) {
  if (length >= state->length_capacity) {
    int64_t capacity = state->length_capacity > 0 ? state->length_capacity : 64;
    while (capacity <= length) capacity *= 2;
    const size_t bytes = sizeof(tally_length_t *) * static_cast<size_t>(capacity);
    state->lengths = static_cast<tally_length_t **>(ryx_realloc(state->lengths, bytes));
    memset(state->lengths + state->length_capacity, 0,
           sizeof(tally_length_t *) * static_cast<size_t>(capacity - state->length_capacity));
    state->length_capacity = capacity;
  }
  tally_length_t *tl = state->lengths[length];
  if (tl == nullptr) {
    tl = static_cast<tally_length_t *>(ryx_calloc(sizeof(tally_length_t)));
    tl->table = word_table_new(static_cast<int>(length), sizeof(uint32_t), &kEmptyPayload,
                               state->options->reverse);
    tl->key = word_table_key_new(tl->table);
    state->lengths[length] = tl;
  }
  return tl;
}

// Copies a record into the ring, with room for its reverse complement
// behind it when `both` is set, and returns its place.
pending_record_t *ring_push(tally_state_t *state, const seq_record_t *record, int64_t index, bool both) {
  pending_record_t *p = &state->ring[(state->ring_start + state->ring_count) % kRingSize];
  state->ring_count++;
  const uint32_t room = both ? 2 * record->length : record->length;
  if (room > p->capacity) {
    p->codes = static_cast<uint8_t *>(ryx_realloc(p->codes, room));
    p->capacity = room;
  }
  memcpy(p->codes, record->residues, record->length);
  p->length = record->length;
  p->index = static_cast<uint32_t>(index);
  return p;
}

// Hands the waiting records to handle, oldest first, until at most `keep`
// are left.
void ring_drain(tally_state_t *state, int32_t keep,
                void (*handle)(tally_state_t *state, const pending_record_t *record)) {
  while (state->ring_count > keep) {
    handle(state, &state->ring[state->ring_start]);
    state->ring_start = (state->ring_start + 1) % kRingSize;
    state->ring_count--;
  }
}

// Counting: one count per distinct tag (per canonical tag in reverse mode).
// Tags holding a code above 3 are refused by the table.
void count_pending(tally_state_t *state, const pending_record_t *record) {
  tally_length_t *tl = state->lengths[record->length];
  void *payload = word_table_find_word(tl->table, record->codes, tl->key, nullptr);
  if (payload != nullptr) {
    store_u32(payload, load_u32(payload) + 1);
  } else {
    const uint32_t one = 1;
    word_table_insert_word(tl->table, record->codes, &one, tl->key, nullptr);
  }
}

void count_record(seq_record_t *record, void *user) {
  auto *state = static_cast<tally_state_t *>(user);
  if (state->records == kMaxRecords) {
    fprintf(stderr, "Too many tags in %s (at most %lld)\n", state->options->tag_path,
            static_cast<long long>(kMaxRecords));
    ryx_exit(1);
  }
  const int64_t index = state->records++;
  if (record->length == 0) return;
  tally_length_t *tl = length_state(state, record->length);
  const pending_record_t *p = ring_push(state, record, index, false);
  word_table_prefetch_word(tl->table, p->codes, tl->key);
  ring_drain(state, kRingSize - 1, count_pending);
}

// Smallest log size whose table stays below half full with count keys, as
// a freshly grown table would; at most the key width (a directly indexed
// table may fill up), at least the 16 slots of a new table.
int log_size_for(uint64_t count, int key_bits) {
  int log_size = 4;
  while (log_size < key_bits && count + 1 > (uint64_t{1} << log_size) / 2) log_size++;
  return log_size;
}

// Selection: replaces the counting table by a table of the tags seen at
// least `threshold` times, with their start offsets into a new occurrence
// array as payloads.
void select_tags(tally_length_t *tl, uint32_t length, uint32_t threshold) {
  word_table_t *counts = tl->table;
  uint8_t *word = static_cast<uint8_t *>(ryx_malloc(length));
  uint64_t kept = 0;
  for (uint64_t slot = 0; slot < counts->size; slot++) {
    const void *payload = word_table_get_payload(counts, slot);
    if (payload != nullptr && load_u32(payload) >= threshold) kept++;
  }
  // In reverse mode the counting table held canonical words; the kept table
  // holds them as they are, and the second pass tries both orientations.
  word_table_t *table = word_table_new_sized(static_cast<int>(length), sizeof(uint32_t), &kEmptyPayload, 0,
                                             log_size_for(kept, 2 * static_cast<int>(length)));
  word_table_key_t *key = word_table_key_new(table);
  for (uint64_t slot = 0; slot < counts->size; slot++) {
    const void *payload = word_table_get_word(counts, slot, word);
    if (payload == nullptr) continue;
    const uint32_t count = load_u32(payload);
    if (count >= threshold) word_table_insert_word(table, word, &count, key, nullptr);
  }
  word_table_free(counts);
  word_table_key_free(tl->key);
  ryx_free(word);
  uint64_t offset = 0;
  for (uint64_t slot = 0; slot < table->size; slot++) {
    void *payload = word_table_get_payload(table, slot);
    if (payload == nullptr) continue;
    const uint32_t count = load_u32(payload);
    store_u32(payload, static_cast<uint32_t>(offset));
    offset += count;
  }
  tl->table = table;
  tl->key = key;
  tl->total = static_cast<uint32_t>(offset);
  tl->entries = static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * offset));
}

// Writes entry at the tag's write position and advances it.
void store_entry(const tally_state_t *state, tally_length_t *tl, void *payload, uint32_t entry) {
  const uint32_t position = load_u32(payload);
  if (position >= tl->total) fail_changed(state);
  tl->entries[position] = static_cast<int32_t>(entry);
  store_u32(payload, position + 1);
}

// Occurrence pass: every record of a kept tag goes to its place; with a
// minimum of 1 a tag not kept was seen once and is listed at once.
void place_pending(tally_state_t *state, const pending_record_t *record) {
  const uint32_t length = record->length;
  tally_length_t *tl = state->lengths[length];
  void *payload = word_table_find_word(tl->table, record->codes, tl->key, nullptr);
  if (payload != nullptr) {
    store_entry(state, tl, payload, record->index);
    return;
  }
  if (state->options->reverse != 0) {
    payload = word_table_find_word(tl->table, record->codes + length, tl->key, nullptr);
    if (payload != nullptr) {
      store_entry(state, tl, payload, record->index | kReverseBit);
      return;
    }
  }
  if (state->options->min_count == 1 && all_bases(record->codes, length)) {
    const auto entry = static_cast<int32_t>(record->index);
    tally_print_tag(state->out, record->codes, length, &entry, 1);
  }
}

void place_record(seq_record_t *record, void *user) {
  auto *state = static_cast<tally_state_t *>(user);
  const int64_t index = state->next_index++;
  if (index >= state->records) fail_changed(state);
  const uint32_t length = record->length;
  if (length == 0) return;
  if (length >= state->length_capacity || state->lengths[length] == nullptr) fail_changed(state);
  tally_length_t *tl = state->lengths[length];
  const bool reverse = state->options->reverse != 0;
  pending_record_t *p = ring_push(state, record, index, reverse);
  word_table_prefetch_word(tl->table, p->codes, tl->key);
  if (reverse) {
    // The kept table holds one orientation of each tag; a record may hold
    // either.
    memcpy(p->codes + length, p->codes, length);
    seq_codes_reverse_complement(p->codes + length, length);
    word_table_prefetch_word(tl->table, p->codes + length, tl->key);
  }
  ring_drain(state, kRingSize - 1, place_pending);
}

// Listing: by increasing length, each length's kept tags in slot order.
// After the second pass a tag's payload is the end of its stretch, which is
// where the next tag's stretch begins.
void list_tags(tally_state_t *state, uint32_t threshold) {
  uint8_t *word = nullptr;
  for (int64_t length = 1; length < state->length_capacity; length++) {
    tally_length_t *tl = state->lengths[length];
    if (tl == nullptr) continue;
    word = static_cast<uint8_t *>(ryx_realloc(word, static_cast<size_t>(length)));
    uint32_t start = 0;
    for (uint64_t slot = 0; slot < tl->table->size; slot++) {
      const void *payload = word_table_get_word(tl->table, slot, word);
      if (payload == nullptr) continue;
      const uint32_t end = load_u32(payload);
      // Unchanged input fills every stretch exactly; a short one means the
      // second pass saw other records than the first.
      if (end < start || end - start < threshold) fail_changed(state);
      tally_print_tag(state->out, word, static_cast<uint32_t>(length), tl->entries + start, end - start);
      start = end;
    }
    if (start != tl->total) fail_changed(state);
  }
  ryx_free(word);
}

void free_state(tally_state_t *state) {
  for (int64_t length = 0; length < state->length_capacity; length++) {
    tally_length_t *tl = state->lengths[length];
    if (tl == nullptr) continue;
    word_table_free(tl->table);
    word_table_key_free(tl->key);
    ryx_free(tl->entries);
    ryx_free(tl);
  }
  ryx_free(state->lengths);
  for (pending_record_t &p : state->ring) ryx_free(p.codes);
}

// A listing block is formatted through a fixed buffer and written in
// pieces, so a tag with millions of occurrences needs no large buffer.
struct block_writer_t {
  FILE *out;
  size_t used = 0;
  char buffer[65536];
};

// Room for one count or entry line: two spaces, ten digits, the mark and
// the line end.
constexpr size_t kLineRoom = 14;

void writer_flush(block_writer_t *w) {
  fwrite(w->buffer, 1, w->used, w->out);
  w->used = 0;
}

void writer_room(block_writer_t *w, size_t n) {
  if (w->used + n > sizeof w->buffer) writer_flush(w);
}

// Appends the decimal digits of v (room for ten must be there).
void writer_put_uint(block_writer_t *w, uint32_t v) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) w->buffer[w->used++] = digits[--n];
}

}  // namespace

void tally_print_usage() {
  tool_usage_print(kUsageParagraphs, std::size(kUsageParagraphs), "ryx_sage_version");
}

tally_options_t tally_parse_command_line(int argc, char **argv) {
  tally_options_t options{2, 0, nullptr};
  bool min_count_set = false;
  arg_cursor_t *cursor = arg_cursor_new(argc, argv);
  while (const char *word = arg_cursor_next_option(cursor)) {
    if (tool_usage_option_is(word, "-h", "--help")) {
      tally_print_usage();
    } else if (tool_usage_option_is(word, "-m", "--mincount")) {
      if (min_count_set) tool_usage_problem(tally_print_usage, "Min count option set twice\n");
      min_count_set = true;
      options.min_count = arg_cursor_next_int(cursor);
      if (cursor->error != 0 || options.min_count < 1) tally_print_usage();
    } else if (tool_usage_option_is(word, "-r", "--reverse")) {
      if (options.reverse != 0) tool_usage_problem(tally_print_usage, "Reverse mode used twice\n");
      options.reverse = 1;
    } else {
      tool_usage_problem(tally_print_usage, "Unrecognized option %s\n", word);
    }
  }
  options.tag_path = arg_cursor_next(cursor);
  if (options.tag_path == nullptr) tool_usage_problem(tally_print_usage, "No tag file given.\n");
  if (arg_cursor_next(cursor) != nullptr) tool_usage_problem(tally_print_usage, "Too many options\n");
  arg_cursor_free(cursor);
  return options;
}

void tally_run(const tally_options_t *options, FILE *out) {
  tally_state_t state{};
  state.options = options;
  state.out = out;
  // A tag seen once is never kept: with a minimum of 1 the second pass
  // lists it on the spot.
  const uint32_t threshold = options->min_count > 2 ? static_cast<uint32_t>(options->min_count) : 2;
  // The hashing on the consumer thread sets the pace; further parser
  // workers would mostly let parsed chunks pile up in front of it, some
  // 20 MB each, for little gain.
  set_number_of_cpus(1);

  seq_for_each(options->tag_path, kResidueCodes, kSeqMaskReads, 0, count_record, &state);
  ring_drain(&state, 0, count_pending);
  for (int64_t length = 1; length < state.length_capacity; length++)
    if (state.lengths[length] != nullptr) select_tags(state.lengths[length], static_cast<uint32_t>(length), threshold);
  seq_for_each(options->tag_path, kResidueCodes, kSeqMaskReads, 0, place_record, &state);
  ring_drain(&state, 0, place_pending);
  if (state.next_index != state.records) fail_changed(&state);
  list_tags(&state, threshold);
  free_state(&state);
  if (fflush(out) != 0 || ferror(out) != 0) {
    fprintf(stderr, "Problem writing output\n");
    ryx_exit(1);
  }
}

void tally_print_tag(FILE *out, const uint8_t *codes, uint32_t length, const int32_t *entries, uint32_t count) {
  static const char kLetters[] = "ACGT";
  uint32_t reversed = 0;
  for (uint32_t i = 0; i < count; i++)
    if ((static_cast<uint32_t>(entries[i]) & kReverseBit) != 0) reversed++;
  const bool flip = reversed > count / 2;
  block_writer_t w;
  w.out = out;
  for (uint32_t i = 0; i < length; i++) {
    const uint8_t code = flip ? seq_code_complement(codes[length - 1 - i]) : codes[i];
    writer_room(&w, 1);
    w.buffer[w.used++] = code < 4 ? kLetters[code] : 'N';
  }
  writer_room(&w, kLineRoom);
  w.buffer[w.used++] = ' ';
  writer_put_uint(&w, count);
  w.buffer[w.used++] = '\n';
  for (uint32_t i = 0; i < count; i++) {
    const auto entry = static_cast<uint32_t>(entries[i]);
    writer_room(&w, kLineRoom);
    w.buffer[w.used++] = ' ';
    w.buffer[w.used++] = ' ';
    writer_put_uint(&w, entry & ~kReverseBit);
    // The apostrophe marks the orientation opposite to the printed one.
    w.buffer[w.used++] = ((entry & kReverseBit) != 0) != flip ? '\'' : ' ';
    w.buffer[w.used++] = '\n';
  }
  writer_room(&w, 1);
  w.buffer[w.used++] = '\n';
  writer_flush(&w);
}
