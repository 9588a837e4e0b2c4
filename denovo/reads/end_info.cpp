// End info: read tails beyond fragment ends, their spool file, sorting and
// search, the consensus extension, gap bridging and the stage-file piece.
#include "denovo/reads/end_info.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/temp_file.h"
#include "seqio/seq_complement.h"
#include "seqio/seq_db.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"

namespace {

// Fragment residues are stored as code + 63.
constexpr uint8_t kFragmentBase = 63;
// A reference column the fragment does not reach.
constexpr uint8_t kNoReference = 0xFF;
// A tail leaves the consensus at this many disagreements.
constexpr int kMaxDisagreements = 3;

void set_capacity(end_info_t *list, int32_t capacity) {
  list->records = static_cast<end_info_record_t *>(
      ryx_realloc(list->records, static_cast<size_t>(capacity) * sizeof(end_info_record_t)));
  list->capacity = capacity;
}

// Appends a record whose symbols already lie in the list's arena.
void append(end_info_t *list, oriented_id_t id, uint8_t *symbols, int32_t n) {
  if (list->count == list->capacity) {
    if (list->capacity == INT32_MAX) {
      fprintf(stderr, "Out of memory\n");
      ryx_exit(1);
    }
    set_capacity(list, list->capacity > INT32_MAX / 2 ? INT32_MAX : list->capacity * 2);
  }
  list->records[list->count++] = {id, n, symbols};
}

int compare_records(const void *a, const void *b) {
  const auto *x = static_cast<const end_info_record_t *>(a);
  const auto *y = static_cast<const end_info_record_t *>(b);
  if (x->id != y->id) return x->id < y->id ? -1 : 1;
  if (x->symbol_count != y->symbol_count) return x->symbol_count > y->symbol_count ? -1 : 1;
  return 0;
}

// The codes of a fragment as its oriented id sees it: from the code arrays
// when given, else from the fragment database.
std::vector<uint8_t> oriented_codes(seq_db_t *fragments, uint8_t *const *sequences, const uint32_t *lengths,
                                    oriented_id_t id) {
  const uint32_t index = oriented_id_get_index(id);
  std::vector<uint8_t> codes;
  if (sequences != nullptr && lengths != nullptr) {
    codes.assign(sequences[index], sequences[index] + lengths[index]);
  } else {
    seq_record_t *record = fragments->get(fragments, index);
    codes.resize(record->length);
    for (uint32_t i = 0; i < record->length; i++) {
      codes[i] = static_cast<uint8_t>(record->residues[i] - kFragmentBase) & 3;
    }
    seq_db_release_fetched(fragments, record);
  }
  if (oriented_id_is_reverse(id) && !codes.empty()) {
    seq_codes_reverse_complement(codes.data(), static_cast<uint32_t>(codes.size()));
  }
  return codes;
}

// The fragment's codes under columns 0 ... M-1 (kNoReference where the
// fragment is shorter than M).
std::vector<uint8_t> reference_columns(seq_db_t *fragments, oriented_id_t id, int32_t m) {
  const std::vector<uint8_t> codes = oriented_codes(fragments, nullptr, nullptr, id);
  std::vector<uint8_t> reference(static_cast<size_t>(m), kNoReference);
  const int64_t length = static_cast<int64_t>(codes.size());
  for (int64_t c = 0; c < m; c++) {
    const int64_t at = length - m + c;
    if (at >= 0) reference[static_cast<size_t>(c)] = codes[static_cast<size_t>(at)];
  }
  return reference;
}

[[noreturn]] void bad_piece(const char *format, unsigned long long a = 0, unsigned long long b = 0) {
  fprintf(stderr, "end_info_read: ");
  fprintf(stderr, format, a, b);
  fprintf(stderr, "\n");
  ryx_exit(1);
}

char letter(uint8_t code) { return code < 4 ? "ACGT"[code] : 'N'; }

}  // namespace

end_info_t *end_info_new(int32_t max_distance, int32_t word_size) {
  if (max_distance < word_size) {
    fprintf(stderr, "end info: Max distance must be >= word size\n");
    ryx_exit(1);
  }
  auto *list = static_cast<end_info_t *>(ryx_calloc(sizeof(end_info_t)));
  list->max_distance = max_distance;
  list->word_size = word_size;
  list->arena = chunk_arena_new();
  set_capacity(list, 1);
  return list;
}

end_info_t *end_info_free(end_info_t *list) {
  if (list == nullptr) return nullptr;
  chunk_arena_free(list->arena);
  ryx_free(list->records);
  if (list->spool != nullptr && fclose(list->spool) != 0) {
    fprintf(stderr, "\nERROR: temporary file for end info list was not closed correctly\n");
    ryx_exit(1);
  }
  ryx_free(list);
  return nullptr;
}

void end_info_reset(end_info_t *list) {
  chunk_arena_free(list->arena);
  list->arena = chunk_arena_new();
  list->count = 0;
  set_capacity(list, 1);
}

void end_info_add(end_info_t *list, oriented_id_t id, const uint8_t *symbols, int32_t n) {
  if (n <= 0) {
    fprintf(stderr, "ERROR: end_info symbol length <= 0\n");
    ryx_exit(1);
  }
  auto *copy = static_cast<uint8_t *>(chunk_arena_alloc(list->arena, static_cast<size_t>(n)));
  memcpy(copy, symbols, static_cast<size_t>(n));
  append(list, id, copy, n);
}

void end_info_add_read_tail(end_info_t *list, oriented_id_t id, int32_t overlap, const uint8_t *symbols, int forward) {
  int64_t n = 0;
  if (forward) {
    while (symbols[n] != kEndInfoSeparator) n++;
  } else {
    while (*(symbols - n) != kEndInfoSeparator) n++;
  }
  int64_t pad = static_cast<int64_t>(list->max_distance) - overlap;
  if (pad < 0) {
    // The read covers more of the fragment than the columns reach: its
    // first -pad symbols fall before column 0.
    if (n + pad <= 0) return;
    symbols = forward ? symbols - pad : symbols + pad;
    n += pad;
    pad = 0;
  }
  if (n <= 0) return;
  const int64_t total = pad + n;
  if (total > INT32_MAX) {
    fprintf(stderr, "ERROR: end_info read tail of %lld symbols is too long\n", static_cast<long long>(total));
    ryx_exit(1);
  }
  auto *out = static_cast<uint8_t *>(chunk_arena_alloc(list->arena, static_cast<size_t>(total)));
  memset(out, kEndInfoNoSymbol, static_cast<size_t>(pad));
  for (int64_t i = 0; i < n; i++) out[pad + i] = forward ? symbols[i] : seq_code_complement(*(symbols - i));
  append(list, id, out, static_cast<int32_t>(total));
}

void end_info_spool_records(FILE *spool, const end_info_t *list) {
  // The spool may have been read last; a write after a read needs a seek.
  large_file_seek(spool, 0, SEEK_END);
  for (int32_t i = 0; i < list->count; i++) {
    const end_info_record_t &r = list->records[i];
    bin_file_write_u32(spool, r.id);
    large_file_write(r.symbols, static_cast<size_t>(r.symbol_count), spool);
    putc(kEndInfoSeparator, spool);
  }
}

void end_info_read_temp_file(end_info_t *list) {
  if (list->spool == nullptr) return;
  fflush(list->spool);
  large_file_seek(list->spool, 0, SEEK_SET);
  std::vector<uint8_t> symbols;
  for (;;) {
    const int c = getc(list->spool);
    if (c == EOF) break;
    ungetc(c, list->spool);
    const oriented_id_t id = bin_file_read_u32(list->spool);
    symbols.clear();
    int s;
    while ((s = getc(list->spool)) != EOF && s != kEndInfoSeparator) symbols.push_back(static_cast<uint8_t>(s));
    if (!symbols.empty()) end_info_add(list, id, symbols.data(), static_cast<int32_t>(symbols.size()));
  }
  set_capacity(list, list->count > 0 ? list->count : 1);
}

void end_info_sort(end_info_t *list) {
  qsort(list->records, static_cast<size_t>(list->count), sizeof(end_info_record_t), compare_records);
  chunk_arena_trim(list->arena);
}

int32_t end_info_lower_bound(const end_info_t *list, oriented_id_t id) {
  int32_t low = 0, high = list->count;
  while (low < high) {
    const int32_t mid = low + (high - low) / 2;
    if (list->records[mid].id < id) {
      low = mid + 1;
    } else {
      high = mid;
    }
  }
  return low;
}

end_info_record_t *end_info_find(const end_info_t *list, oriented_id_t id, int32_t *out_count) {
  const int32_t first = end_info_lower_bound(list, id);
  int32_t end = first;
  while (end < list->count && list->records[end].id == id) end++;
  *out_count = end - first;
  return end > first ? list->records + first : nullptr;
}

uint8_t *end_info_get_consensus(seq_db_t *fragments, const end_info_t *list, oriented_id_t id, int32_t *out_count) {
  int32_t n;
  const end_info_record_t *tails = end_info_find(list, id, &n);
  *out_count = 0;
  if (n == 0) return nullptr;
  const int32_t m = list->max_distance;
  const std::vector<uint8_t> reference = reference_columns(fragments, id, m);
  std::vector<int32_t> disagreements(static_cast<size_t>(n), 0);
  std::vector<char> live(static_cast<size_t>(n), 1);
  std::vector<uint8_t> result;
  // The tail's code at column c: 255 stands for the fragment's code, codes
  // above 3 count as 4, and kNoReference means the tail has no say here.
  auto code_at = [&](const end_info_record_t &t, int64_t c) -> uint8_t {
    uint8_t s = t.symbols[c];
    if (s == kEndInfoNoSymbol) return c < m ? reference[static_cast<size_t>(c)] : kNoReference;
    return s > 3 ? 4 : s;
  };
  for (int64_t c = 0;; c++) {
    int64_t votes[5] = {0, 0, 0, 0, 0};
    int64_t weight[5] = {0, 0, 0, 0, 0};
    for (int32_t t = 0; t < n; t++) {
      if (!live[t]) continue;
      if (c == tails[t].symbol_count) {
        live[t] = 0;
        continue;
      }
      const uint8_t s = code_at(tails[t], c);
      if (s == kNoReference) continue;
      votes[s]++;
      if (disagreements[t] == 0) weight[s] += tails[t].symbol_count;
    }
    int best = -1;
    for (int s = 0; s < 4; s++) {
      if (votes[s] == 0) continue;
      if (best < 0 || votes[s] > votes[best] || (votes[s] == votes[best] && weight[s] > weight[best])) best = s;
    }
    if (best < 0) break;
    for (int32_t t = 0; t < n; t++) {
      if (!live[t]) continue;
      const uint8_t s = code_at(tails[t], c);
      if (s != kNoReference && s != best && ++disagreements[t] == kMaxDisagreements) live[t] = 0;
    }
    result.push_back(static_cast<uint8_t>(best));
  }
  if (result.empty()) return nullptr;
  auto *out = static_cast<uint8_t *>(ryx_malloc(result.size()));
  memcpy(out, result.data(), result.size());
  *out_count = static_cast<int32_t>(result.size());
  return out;
}

uint8_t *end_info_column_majority(int32_t n, int32_t tail_count, const end_info_record_t *const *tails,
                                  int32_t margin) {
  const int64_t width = static_cast<int64_t>(n) + 2 * static_cast<int64_t>(margin);
  auto *out = static_cast<uint8_t *>(ryx_malloc(static_cast<size_t>(width > 0 ? width : 1)));
  for (int64_t j = 0; j < width; j++) {
    // 32-bit counters: coverage in the thousands must not wrap.
    int32_t counts[4] = {0, 0, 0, 0};
    int32_t best_count = 0;
    uint8_t best = 4;
    for (int32_t t = 0; t < tail_count; t++) {
      if (j >= tails[t]->symbol_count) continue;
      const uint8_t s = tails[t]->symbols[j];
      if (s > 3) continue;
      if (++counts[s] > best_count) {
        best_count = counts[s];
        best = s;
      }
    }
    out[j] = best;
  }
  return out;
}

int end_info_bridge(seq_db_t *fragments, uint8_t *const *sequences, const uint32_t *lengths, const end_info_t *list,
                    oriented_id_t id_a, oriented_id_t id_b, int32_t n, uint8_t *destination) {
  const int64_t m = list->max_distance;
  const int64_t k = list->word_size;
  // A gap shorter than -M would place id_b before column 0.
  if (m + n < 0) return 0;
  int32_t tail_count;
  const end_info_record_t *tails = end_info_find(list, id_a, &tail_count);
  if (tail_count == 0) return 0;
  const std::vector<uint8_t> b = oriented_codes(fragments, sequences, lengths, id_b);
  const int64_t length = static_cast<int64_t>(b.size());
  std::vector<const end_info_record_t *> accepted;
  for (int32_t t = 0; t < tail_count; t++) {
    const end_info_record_t &tail = tails[t];
    if (k > length || tail.symbol_count < m + n + k) continue;
    for (int64_t f = 0; f + k <= length && m + n + f + k <= tail.symbol_count; f++) {
      if (memcmp(b.data() + f, tail.symbols + m + n + f, static_cast<size_t>(k)) == 0) {
        accepted.push_back(&tail);
        break;
      }
    }
  }
  if (accepted.empty()) return 0;
  uint8_t *columns =
      end_info_column_majority(n, static_cast<int32_t>(accepted.size()), accepted.data(), static_cast<int32_t>(m));
  // The gap takes every column's code; the flanks are real fragment bases
  // and only take codes 0-3, never an N.
  for (int64_t i = -m; i < n + m; i++) {
    const uint8_t code = columns[i + m];
    if ((i >= 0 && i < n) || code <= 3) destination[i] = code;
  }
  ryx_free(columns);
  return 1;
}

void end_info_fill_gap(seq_db_t *fragments, uint8_t *const *sequences, const uint32_t *lengths,
                       const end_info_t *list, oriented_id_t id_a, oriented_id_t id_b, int32_t n,
                       uint8_t *destination) {
  if (end_info_bridge(fragments, sequences, lengths, list, id_a, id_b, n, destination)) return;
  const int64_t m = list->max_distance;
  const int64_t width = n + 2 * m;
  if (width > 0) {
    // The scratch starts as "no base", so that columns the bridge leaves
    // alone cannot overwrite the flanks with N.
    std::vector<uint8_t> scratch(static_cast<size_t>(width), kEndInfoNoSymbol);
    if (end_info_bridge(fragments, sequences, lengths, list, oriented_id_flip(id_b), oriented_id_flip(id_a), n,
                        scratch.data() + m)) {
      seq_codes_reverse_complement(scratch.data(), static_cast<uint32_t>(width));
      for (int64_t i = -m; i < n + m; i++) {
        const uint8_t code = scratch[static_cast<size_t>(i + m)];
        if ((i >= 0 && i < n) ? code <= 4 : code <= 3) destination[i] = code;
      }
      return;
    }
  }
  for (int32_t i = 0; i < n; i++) destination[i] = 4;
}

void end_info_write_record(FILE *file, const end_info_record_t *record) {
  bin_file_write_u32(file, record->id);
  bin_file_write_u32(file, static_cast<uint32_t>(record->symbol_count));
  large_file_write(record->symbols, static_cast<size_t>(record->symbol_count), file);
}

void end_info_read_record(FILE *file, end_info_t *list) {
  const oriented_id_t id = bin_file_read_u32(file);
  const uint32_t n = bin_file_read_u32(file);
  if (n == 0 || n > INT32_MAX) bad_piece("record %llu has %llu symbols", static_cast<unsigned>(list->count), n);
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && n > static_cast<uint64_t>(left)) {
    bad_piece("record %llu needs %llu symbol bytes beyond the end of the file", static_cast<unsigned>(list->count), n);
  }
  auto *symbols = static_cast<uint8_t *>(chunk_arena_alloc(list->arena, n));
  if (large_file_read(symbols, n, file) != n) bad_piece("the file ends inside record %llu", list->count);
  // The spool format ends a record at the separator, so a stored one would
  // split the record.
  if (memchr(symbols, kEndInfoSeparator, n) != nullptr) {
    bad_piece("record %llu holds the separator code 7", static_cast<unsigned>(list->count));
  }
  append(list, id, symbols, static_cast<int32_t>(n));
}

void end_info_write(FILE *file, const end_info_t *list) {
  if (list == nullptr) {
    bin_file_write_u8(file, 0);
    return;
  }
  bin_file_write_u8(file, 1);
  bin_file_write_u32(file, static_cast<uint32_t>(list->count));
  bin_file_write_u32(file, static_cast<uint32_t>(list->capacity));
  bin_file_write_u32(file, static_cast<uint32_t>(list->max_distance));
  bin_file_write_u32(file, static_cast<uint32_t>(list->word_size));
  for (int32_t i = 0; i < list->count; i++) end_info_write_record(file, &list->records[i]);
}

void end_info_write_spooled(FILE *file, end_info_t *list) {
  if (list == nullptr || list->spool == nullptr) {
    end_info_write(file, list);
    return;
  }
  end_info_t *loaded = end_info_new(list->max_distance, list->word_size);
  loaded->spool = list->spool;
  end_info_read_temp_file(loaded);
  loaded->spool = nullptr;
  end_info_write(file, loaded);
  end_info_free(loaded);
}

end_info_t *end_info_read(FILE *file) {
  const uint8_t present = bin_file_read_u8(file);
  if (present == 0) return nullptr;
  if (present != 1) bad_piece("presence byte is %llu, not 0 or 1", present);
  const uint32_t count = bin_file_read_u32(file);
  const uint32_t capacity = bin_file_read_u32(file);
  const uint32_t max_distance = bin_file_read_u32(file);
  const uint32_t word_size = bin_file_read_u32(file);
  if (capacity > INT32_MAX || count > capacity) bad_piece("count %llu and capacity %llu do not fit", count, capacity);
  if (max_distance > INT32_MAX || word_size > max_distance) {
    bad_piece("max distance %llu is below the word size %llu", max_distance, word_size);
  }
  const int64_t left = large_file_bytes_left(file);
  if (left >= 0 && count > static_cast<uint64_t>(left) / 9) {
    bad_piece("%llu records do not fit in the %llu bytes left in the file", count, static_cast<uint64_t>(left));
  }
  end_info_t *list = end_info_new(static_cast<int32_t>(max_distance), static_cast<int32_t>(word_size));
  for (uint32_t i = 0; i < count; i++) end_info_read_record(file, list);
  list->spool = temp_file_create_anonymous();
  end_info_spool_records(list->spool, list);
  end_info_reset(list);
  return list;
}

void end_info_print_stats(const end_info_t *list) {
  printf("\nEnd info:\n");
  printf("  alloc   %12d\n", list->capacity);
  printf("  count   %12d\n", list->count);
}

void end_info_print_list(const end_info_t *list, seq_db_t *fragments) {
  const int32_t m = list->max_distance;
  printf("\nList:");
  std::vector<uint8_t> reference;
  for (int32_t i = 0; i < list->count; i++) {
    const end_info_record_t &r = list->records[i];
    if (i == 0 || r.id != list->records[i - 1].id) {
      reference = reference_columns(fragments, r.id, m);
      printf("\n%8.8x:\n  ", r.id);
      for (uint8_t code : reference) putchar(code == kNoReference ? ' ' : letter(code));
      printf("\n");
    }
    printf("  ");
    bool lettered = false;
    for (int32_t c = 0; c < r.symbol_count; c++) {
      const uint8_t s = r.symbols[c];
      if (s == kEndInfoNoSymbol) {
        putchar('.');
      } else if (c < m && !lettered && s == reference[static_cast<size_t>(c)]) {
        putchar(',');
      } else {
        putchar(letter(s));
        lettered = true;
      }
    }
    printf("\n");
  }
  printf("\n");
}
