#include "seqio/alignment_code.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/array_list.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_record.h"

namespace {

constexpr int32_t kInitialCapacity = 32;

bool is_match_byte(uint8_t b) { return b <= kCodeMatchFull; }
bool is_insertion_byte(uint8_t b) { return b >= kCodeInsertionBase && b <= kCodeInsertionFull; }
bool is_deletion_byte(uint8_t b) { return b >= kCodeDeletionBase && b <= kCodeDeletionFull; }

// Columns of a run byte (not an escape).
uint32_t run_columns(uint8_t b) {
  if (is_match_byte(b)) return b + 1u;
  if (is_insertion_byte(b)) return b - 127u;
  return b - 191u;
}

// The full byte of b's kind.
uint8_t full_byte_of(uint8_t b) {
  if (is_match_byte(b)) return kCodeMatchFull;
  if (is_insertion_byte(b)) return kCodeInsertionFull;
  return kCodeDeletionFull;
}

// Base byte of a run holding n columns of b's kind (1 <= n <= full run).
uint8_t run_byte(uint8_t kind_base, uint32_t n) {
  return static_cast<uint8_t>(kind_base + n - 1);
}

// The byte that may be extended by the next column: the last byte, or 255
// when the code is empty or ends in an escape argument.
uint8_t last_extendable(const alignment_code_t *code) {
  if (code->length > 0 && !code->argument_written) return code->bytes[code->length - 1];
  return kCodeEscape;
}

void grow_for(alignment_code_t *code, int32_t more) {
  if (code->length + more <= code->capacity) return;
  int64_t capacity = code->capacity > 0 ? code->capacity : kInitialCapacity;
  while (capacity < static_cast<int64_t>(code->length) + more) capacity *= 2;
  code->bytes = static_cast<uint8_t *>(ryx_realloc(code->bytes, static_cast<size_t>(capacity)));
  code->capacity = static_cast<int32_t>(capacity);
}

void append_byte(alignment_code_t *code, uint8_t byte) {
  grow_for(code, 1);
  code->bytes[code->length++] = byte;
}

// Appends n insertion columns in canonical bytes (full bytes first).
int32_t write_insertions(uint8_t *out, uint32_t n) {
  int32_t written = 0;
  while (n > 64) {
    out[written++] = kCodeInsertionFull;
    n -= 64;
  }
  if (n > 0) out[written++] = run_byte(kCodeInsertionBase, n);
  return written;
}

}  // namespace

// --- Builder ---

alignment_code_t *alignment_code_new() {
  auto *code = static_cast<alignment_code_t *>(ryx_malloc(sizeof(alignment_code_t)));
  code->length = 0;
  code->capacity = kInitialCapacity;
  code->bytes = static_cast<uint8_t *>(ryx_malloc(kInitialCapacity));
  code->column_count = 0;
  code->argument_written = 0;
  code->reversed_pending = 0;
  code->reference_position = 0;
  return code;
}

alignment_code_t *alignment_code_free(alignment_code_t *code) {
  if (code == nullptr) return nullptr;
  ryx_free(code->bytes);
  ryx_free(code);
  return nullptr;
}

alignment_code_t *alignment_code_free_shell(alignment_code_t *code) {
  ryx_free(code);
  return nullptr;
}

void alignment_code_reset(alignment_code_t *code, int32_t reference_position, int reversed_pending) {
  code->length = 0;
  code->column_count = 0;
  code->argument_written = 0;
  code->reference_position = reference_position;
  code->reversed_pending = reversed_pending;
}

int alignment_code_is_empty(const alignment_code_t *code) { return code->length == 0 ? 1 : 0; }

void alignment_code_push_byte(alignment_code_t *code, uint8_t byte) { append_byte(code, byte); }

void alignment_code_extend_run(alignment_code_t *code, uint8_t last, uint8_t base, uint8_t limit) {
  if (last >= base && last < limit)
    code->bytes[code->length - 1]++;
  else
    append_byte(code, base);
  code->column_count++;
}

void alignment_code_add(alignment_code_t *code, int op) {
  // Right after an escape marker the op is the marker's argument.
  if (code->length > 0 && !code->argument_written && code->bytes[code->length - 1] == kCodeEscape) {
    append_byte(code, static_cast<uint8_t>(op));
    code->argument_written = 1;
    return;
  }
  const uint8_t last = last_extendable(code);
  switch (op) {
    case kCodeOpMatch: alignment_code_extend_run(code, last, kCodeMatchBase, kCodeMatchFull); break;
    case kCodeOpInsertion: alignment_code_extend_run(code, last, kCodeInsertionBase, kCodeInsertionFull); break;
    case kCodeOpDeletion: alignment_code_extend_run(code, last, kCodeDeletionBase, kCodeDeletionFull); break;
    case kCodeOpEscape: append_byte(code, kCodeEscape); break;
    default:
      fprintf(stderr, "Wrong match type\n");
      ryx_exit(1);
  }
  code->argument_written = 0;
}

void alignment_code_add_run_bytes(alignment_code_t *code, uint8_t last, uint8_t base, uint8_t limit, int32_t n) {
  const int32_t asked = n;
  if (n <= 0) return;
  if (last >= base && last < limit) {
    const int32_t room = limit - last;
    const int32_t take = room < n ? room : n;
    code->bytes[code->length - 1] = static_cast<uint8_t>(last + take);
    n -= take;
  }
  const int32_t full = limit - base + 1;
  while (n > full) {
    append_byte(code, limit);
    n -= full;
  }
  if (n > 0) append_byte(code, static_cast<uint8_t>(base + n - 1));
  code->column_count += asked;
  code->argument_written = 0;
}

void alignment_code_add_run(alignment_code_t *code, int op, int32_t n) {
  uint8_t base, limit;
  switch (op) {
    case kCodeOpMatch: base = kCodeMatchBase, limit = kCodeMatchFull; break;
    case kCodeOpInsertion: base = kCodeInsertionBase, limit = kCodeInsertionFull; break;
    case kCodeOpDeletion: base = kCodeDeletionBase, limit = kCodeDeletionFull; break;
    default:
      fprintf(stderr, "Wrong multi match type\n");
      ryx_exit(1);
  }
  if (n <= 0) return;
  alignment_code_add_run_bytes(code, last_extendable(code), base, limit, n);
}

void alignment_code_reverse_bytes(int32_t length, uint8_t *bytes) {
  for (int32_t i = 0, j = length - 1; i < j; i++, j--) {
    const uint8_t t = bytes[i];
    bytes[i] = bytes[j];
    bytes[j] = t;
  }
  // Each escape marker now follows its argument, and each run's partial byte
  // precedes its full bytes: swap them back into canonical order.
  int32_t i = 0;
  while (i + 1 < length) {
    if (bytes[i + 1] == kCodeEscape) {
      bytes[i + 1] = bytes[i];
      bytes[i] = kCodeEscape;
      i += 2;
      continue;
    }
    const uint8_t b = bytes[i];
    if (b != kCodeEscape && bytes[i + 1] == full_byte_of(b) && b != bytes[i + 1]) {
      bytes[i] = bytes[i + 1];
      bytes[i + 1] = b;
    }
    i++;
  }
}

void alignment_code_reverse(alignment_code_t *code) {
  alignment_code_reverse_bytes(code->length, code->bytes);
  code->reference_position -= static_cast<int32_t>(alignment_code_reference_length(code->length, code->bytes));
  code->reversed_pending = !code->reversed_pending;
}

void alignment_code_finish(alignment_code_t *code) {
  if (code->reversed_pending) alignment_code_reverse(code);
}

uint8_t *alignment_code_get_bytes(alignment_code_t *code) {
  alignment_code_finish(code);
  return code->bytes;
}

int32_t alignment_code_get_position(alignment_code_t *code) {
  alignment_code_finish(code);
  return code->reference_position;
}

int32_t alignment_code_get_length(const alignment_code_t *code) { return code->length; }

void alignment_code_copy_to(const alignment_code_t *code, uint8_t *buffer) {
  if (code->length > 0) memcpy(buffer, code->bytes, static_cast<size_t>(code->length));
}

int32_t alignment_code_truncate(alignment_code_t *code, int32_t n) {
  int32_t m = n < 0 ? 0 : n;
  int32_t kept_columns = 0;
  int32_t i = 0;
  while (i < code->length && m > 0) {
    const uint8_t b = code->bytes[i];
    if (b == kCodeEscape) {
      i += (i + 1 < code->length) ? 2 : 1;
      continue;
    }
    const int32_t v = static_cast<int32_t>(run_columns(b));
    if (v <= m) {
      m -= v;
      kept_columns += v;
      i++;
      continue;
    }
    // The cut falls inside this byte: keep its first m columns.
    code->bytes[i] = static_cast<uint8_t>(b - (v - m));
    kept_columns += m;
    m = 0;
    i++;
  }
  code->length = i;
  code->column_count = kept_columns;
  code->argument_written = (i >= 2 && code->bytes[i - 2] == kCodeEscape) ? 1 : 0;
  return code->length;
}

void alignment_code_trim_end(alignment_code_t *code, int32_t n) {
  const int32_t m = code->column_count - n;
  if (m < 0) {
    code->length = 0;
    code->column_count = 0;
    code->reference_position = 0;
    code->argument_written = 0;
    return;
  }
  alignment_code_truncate(code, m);
}

void alignment_code_print_builder(alignment_code_t *code) {
  alignment_code_finish(code);
  alignment_code_print(code->length, code->bytes);
}

void alignment_code_collapse_indels(alignment_code_t *code) {
  const int32_t length = code->length;
  uint8_t *copy = static_cast<uint8_t *>(ryx_malloc(length > 0 ? static_cast<size_t>(length) : 1));
  if (length > 0) memcpy(copy, code->bytes, static_cast<size_t>(length));
  code->length = 0;
  code->column_count = 0;
  code->argument_written = 0;

  bool seen_match = false;
  int32_t block_start = 0;  // first byte of the current indel block
  int32_t insertions = 0, deletions = 0;
  auto flush_block = [&](int32_t block_end) {
    if (insertions == 0 && deletions == 0) return;
    if (!seen_match || insertions == 0 || deletions == 0) {
      // A lone block, or one before the first match run: kept as it is.
      for (int32_t k = block_start; k < block_end; k++) {
        const uint8_t b = copy[k];
        alignment_code_add_run(code, is_insertion_byte(b) ? kCodeOpInsertion : kCodeOpDeletion,
                               static_cast<int32_t>(run_columns(b)));
      }
    } else {
      const int32_t paired = insertions < deletions ? insertions : deletions;
      alignment_code_add_run(code, kCodeOpMatch, paired);
      if (insertions > deletions) alignment_code_add_run(code, kCodeOpInsertion, insertions - deletions);
      if (deletions > insertions) alignment_code_add_run(code, kCodeOpDeletion, deletions - insertions);
    }
    insertions = deletions = 0;
  };
  for (int32_t k = 0; k < length; k++) {
    const uint8_t b = copy[k];
    if (b == kCodeEscape) break;  // codes given here hold no escapes
    if (is_match_byte(b)) {
      flush_block(k);
      alignment_code_add_run(code, kCodeOpMatch, static_cast<int32_t>(run_columns(b)));
      seen_match = true;
      block_start = k + 1;
    } else if (is_insertion_byte(b)) {
      insertions += static_cast<int32_t>(run_columns(b));
    } else {
      deletions += static_cast<int32_t>(run_columns(b));
    }
  }
  int32_t end = 0;
  while (end < length && copy[end] != kCodeEscape) end++;
  flush_block(end);
  ryx_free(copy);
}

// --- Iterator ---

alignment_code_iter_t *alignment_code_iter_new() {
  auto *iter = static_cast<alignment_code_iter_t *>(ryx_malloc(sizeof(alignment_code_iter_t)));
  alignment_code_iter_init(iter, 0, nullptr);
  return iter;
}

alignment_code_iter_t *alignment_code_iter_free(alignment_code_iter_t *iter) {
  ryx_free(iter);
  return nullptr;
}

void alignment_code_iter_init(alignment_code_iter_t *iter, int32_t length, const uint8_t *bytes) {
  iter->bytes = bytes;
  iter->length = length;
  iter->position = 0;
  iter->run_counter = -1;
  iter->argument_next = 0;
  iter->pending_deletions = 0;
}

int alignment_code_iter_next(alignment_code_iter_t *iter) {
  if (iter->pending_deletions > 0) {
    iter->pending_deletions--;
    return kCodeOpDeletion;
  }
  if (iter->position >= iter->length) return kCodeOpEnd;
  const uint8_t b = iter->bytes[iter->position];
  if (iter->argument_next) {
    iter->position++;
    iter->argument_next = 0;
    iter->run_counter = -1;
    return b;
  }
  if (iter->run_counter == -1) {
    if (is_match_byte(b))
      iter->run_counter = kCodeMatchBase;
    else if (is_insertion_byte(b))
      iter->run_counter = kCodeInsertionBase;
    else if (is_deletion_byte(b))
      iter->run_counter = kCodeDeletionBase;
    else
      iter->run_counter = kCodeEscape;
  }
  if (iter->run_counter == b) {
    iter->position++;
    iter->run_counter = -1;
  } else {
    iter->run_counter++;
  }
  if (b == kCodeEscape) {
    if (iter->position >= iter->length) {
      // A marker without its argument: announce it; the next call ends.
      iter->argument_next = 1;
      return kCodeOpEscape;
    }
    const uint8_t argument = iter->bytes[iter->position];
    if (argument == kCodeArgLongDeletion16 || argument == kCodeArgLongDeletion32) {
      const int32_t width = argument == kCodeArgLongDeletion16 ? 2 : 4;
      if (iter->position + 1 + width > iter->length) {
        iter->position = iter->length;  // count cut off: the walk ends
        return kCodeOpEnd;
      }
      uint32_t count = 0;
      for (int32_t k = 0; k < width; k++)
        count |= static_cast<uint32_t>(iter->bytes[iter->position + 1 + k]) << (8 * k);
      iter->position += 1 + width;
      iter->pending_deletions = count;
      return kCodeOpDeletion;
    }
    iter->argument_next = 1;
    return kCodeOpEscape;
  }
  if (is_match_byte(b)) return kCodeOpMatch;
  if (is_insertion_byte(b)) return kCodeOpInsertion;
  return kCodeOpDeletion;
}

// --- Decoders ---

namespace {

// Columns of the runs for which skipped(b) is false; an escape and its
// argument byte count nothing.
template <typename Skipped>
uint32_t count_columns(int32_t length, const uint8_t *bytes, Skipped skipped) {
  uint32_t columns = 0;
  for (int32_t i = 0; i < length; i++) {
    const uint8_t b = bytes[i];
    if (b == kCodeEscape)
      i++;
    else if (!skipped(b))
      columns += run_columns(b);
  }
  return columns;
}

}  // namespace

uint32_t alignment_code_reference_length(int32_t length, const uint8_t *bytes) {
  return count_columns(length, bytes, [](uint8_t b) { return is_insertion_byte(b); });
}

uint32_t alignment_code_read_length(int32_t length, const uint8_t *bytes) {
  return count_columns(length, bytes, [](uint8_t b) { return is_deletion_byte(b); });
}

uint32_t alignment_code_leading_insertions(int32_t length, const uint8_t *bytes) {
  uint32_t columns = 0;
  for (int32_t i = 0; i < length; i++) {
    const uint8_t b = bytes[i];
    if (b == kCodeEscape) {
      i++;
      continue;
    }
    if (!is_insertion_byte(b)) break;
    columns += run_columns(b);
  }
  return columns;
}

uint32_t alignment_code_read_span(int32_t length, const uint8_t *bytes) {
  uint32_t span = 0;
  uint32_t pending_insertions = 0;
  for (int32_t i = 0; i < length; i++) {
    const uint8_t b = bytes[i];
    if (b == kCodeEscape) {
      i++;
    } else if (is_insertion_byte(b)) {
      pending_insertions += run_columns(b);
    } else {
      span += pending_insertions;
      pending_insertions = 0;
      if (is_match_byte(b)) span += run_columns(b);
    }
  }
  return span;
}

int32_t alignment_code_clip_end(int32_t length, uint8_t *bytes, int32_t n) {
  uint32_t collected = 0;
  int32_t len = length;
  while (n > 0 && len > 0) {
    const uint8_t b = bytes[len - 1];
    if (b == kCodeEscape) break;
    const int32_t v = static_cast<int32_t>(run_columns(b));
    if (is_insertion_byte(b)) {
      collected += static_cast<uint32_t>(v);
      len--;
    } else if (v <= n) {
      if (is_match_byte(b)) collected += static_cast<uint32_t>(v);
      n -= v;
      len--;
    } else {
      if (is_match_byte(b)) collected += static_cast<uint32_t>(n);
      bytes[len - 1] = static_cast<uint8_t>(b - n);
      n = 0;
    }
  }
  while (len > 0 && is_insertion_byte(bytes[len - 1])) {
    collected += run_columns(bytes[len - 1]);
    len--;
  }
  return len + write_insertions(bytes + len, collected);
}

void alignment_code_print(int32_t length, const uint8_t *bytes) {
  for (int line = 0; line < 2; line++) {
    const int gap = line == 0 ? kCodeOpInsertion : kCodeOpDeletion;
    alignment_code_iter_t iter;
    alignment_code_iter_init(&iter, length, bytes);
    for (int op = alignment_code_iter_next(&iter); op != kCodeOpEnd; op = alignment_code_iter_next(&iter)) {
      if (op == kCodeOpEscape) {
        putchar('*');
        alignment_code_iter_next(&iter);  // the argument
      } else {
        putchar(op == gap ? '-' : '#');
      }
    }
    putchar('\n');
  }
}

// --- Builders over byte lists ---

void alignment_code_list_add_op(array_list_t *list, int op) {
  const uint64_t count = array_list_get_count(list);
  uint8_t byte = 0;
  if (count == 0) {
    if (op == kCodeOpInsertion) byte = kCodeInsertionBase;
    if (op == kCodeOpDeletion) byte = kCodeDeletionBase;
    array_list_add(list, &byte);
    return;
  }
  uint8_t *last = static_cast<uint8_t *>(array_list_get_item(list, count - 1));
  switch (op) {
    case kCodeOpMatch:
      if (*last < kCodeMatchFull) {
        (*last)++;
        return;
      }
      byte = kCodeMatchBase;
      break;
    case kCodeOpInsertion:
      if (*last >= kCodeInsertionBase && *last < kCodeInsertionFull) {
        (*last)++;
        return;
      }
      byte = kCodeInsertionBase;
      break;
    case kCodeOpDeletion:
      if (*last >= kCodeDeletionBase && *last < kCodeDeletionFull) {
        (*last)++;
        return;
      }
      byte = kCodeDeletionBase;
      break;
    default: byte = 0; break;
  }
  array_list_add(list, &byte);
}

uint8_t *alignment_code_from_pairs(const aligned_pair_list_t *pairs, int32_t read_length, int32_t *out_length) {
  *out_length = 0;
  if (pairs == nullptr || pairs->count <= 0) return nullptr;
  array_list_t *list = array_list_new(1);
  const int32_t first_read = pairs->pairs[0]->read_index;
  for (int32_t r = 0; r < first_read; r++) alignment_code_list_add_op(list, kCodeOpInsertion);
  int32_t last_read = -1;
  for (int32_t k = 0; k < pairs->count; k++) {
    const aligned_pair_t *pair = pairs->pairs[k];
    if (pair->reference_index >= 0 && pair->read_index >= 0)
      alignment_code_list_add_op(list, kCodeOpMatch);
    else if (pair->reference_index >= 0)
      alignment_code_list_add_op(list, kCodeOpDeletion);
    else
      alignment_code_list_add_op(list, kCodeOpInsertion);
    if (pair->read_index >= 0) last_read = pair->read_index;
  }
  // Trailing read bases after the last pair that holds one.
  for (int32_t r = last_read + 1; r < read_length; r++) alignment_code_list_add_op(list, kCodeOpInsertion);
  *out_length = static_cast<int32_t>(array_list_get_count(list));
  return static_cast<uint8_t *>(array_list_take_items(list));
}

uint8_t *alignment_code_clipped_ungapped(int32_t h, int32_t e, int32_t n, int32_t *out_length) {
  alignment_code_t *code = alignment_code_new();
  alignment_code_add_run(code, kCodeOpInsertion, h);
  alignment_code_add_run(code, kCodeOpMatch, e - h);
  alignment_code_add_run(code, kCodeOpInsertion, n - (h > e ? h : e));
  *out_length = code->length;
  uint8_t *bytes = code->bytes;
  alignment_code_free_shell(code);
  return bytes;
}

// --- Alignment quality ---

namespace {

// The longest-stretch scorer shared by the three measures. Scores run along
// the columns; the stack holds the running scores that fell below every
// earlier one with the read index reached then, so the stretch from just
// after an entry to an agreeing column scores at least 0.
class StretchScorer {
 public:
  StretchScorer(int32_t entries, int32_t start_index, double x)
      : scores_(static_cast<double *>(ryx_malloc(sizeof(double) * static_cast<size_t>(entries)))),
        indexes_(static_cast<int32_t *>(ryx_malloc(sizeof(int32_t) * static_cast<size_t>(entries)))),
        x_(x) {
    scores_[0] = 0.0;
    indexes_[0] = start_index;
  }
  ~StretchScorer() {
    ryx_free(scores_);
    ryx_free(indexes_);
  }
  StretchScorer(const StretchScorer &) = delete;
  StretchScorer &operator=(const StretchScorer &) = delete;

  // An agreeing column at read index `at`.
  void agree(int32_t at) {
    t_ += 1.0 - x_;
    int32_t j = l_;
    while (j > 0 && t_ > scores_[j - 1]) j--;
    const int32_t span = at - indexes_[j];
    if (span > best_) best_ = span;
    l_ = j;
  }
  // A disagreeing column costing `cost`, with g the largest read index so far.
  void disagree(double cost, int32_t g) {
    t_ -= cost;
    if (scores_[i_] > t_) {
      i_++;
      scores_[i_] = t_;
      indexes_[i_] = g;
      l_ = i_;
    } else {
      while (scores_[l_] > t_) l_++;
    }
  }
  int32_t best() const { return best_; }

 private:
  double *scores_;
  int32_t *indexes_;
  double x_;
  double t_ = 0.0;
  int32_t i_ = 0;  // top of the stack
  int32_t l_ = 0;  // search index
  int32_t best_ = 0;
};

// Reference code source of the code-based measures: the next reference code
// for a match or deletion column.
struct PackedReference {
  const uint8_t *packed;
  const uint8_t *mask;
  int32_t position;
  int32_t wrap_start;
  int32_t wrap_end;
  int next() {
    const int32_t p = position;
    const int shift = (p & 3) * 2;
    const int code = (packed[p >> 2] >> shift) & 3;
    const bool valid = mask == nullptr || ((mask[p >> 2] >> shift) & 3) != 0;
    position++;
    if (position == wrap_end) position = wrap_start;
    return valid ? code : 4;
  }
};

struct CallbackReference {
  alignment_code_reference_fn fn;
  void *context;
  int32_t position;
  int next() { return fn(position++, context); }
};

// Both passes over a code; Reference::next gives the reference code of the
// next match or deletion column; read_code(r) the read's code at r.
template <class Reference, class ReadCode>
double code_similar_fraction(int32_t length, const uint8_t *bytes, Reference reference, ReadCode read_code,
                             double x) {
  // Pass 1: scored columns and phase changes size the stack; L counts the
  // insertions scored before the first scored match or deletion column.
  int32_t entries = 1;
  int32_t leading = 0;
  {
    bool skip_match = false, skip_insertion = false, seen_reference = false;
    alignment_code_iter_t iter;
    alignment_code_iter_init(&iter, length, bytes);
    for (int op = alignment_code_iter_next(&iter); op != kCodeOpEnd; op = alignment_code_iter_next(&iter)) {
      if (op == kCodeOpEscape) {
        const int argument = alignment_code_iter_next(&iter);
        if (argument <= 3) {
          entries++;
        } else if (argument >= 8 && argument <= 15) {
          if (argument & 1) skip_match = !skip_match;
          if (argument & 2) skip_insertion = !skip_insertion;
        }
        continue;
      }
      if ((op == kCodeOpMatch && skip_match) || (op == kCodeOpInsertion && skip_insertion)) continue;
      entries++;
      if (op == kCodeOpInsertion && !seen_reference) leading++;
      if (op != kCodeOpInsertion) seen_reference = true;
    }
  }

  StretchScorer scorer(entries, leading - 1, x);
  int exclusive_or = 0;
  bool skip_match = false, skip_insertion = false;
  int32_t r = 0, s = 0;
  int32_t g = leading - 1;
  alignment_code_iter_t iter;
  alignment_code_iter_init(&iter, length, bytes);
  for (int op = alignment_code_iter_next(&iter); op != kCodeOpEnd; op = alignment_code_iter_next(&iter)) {
    if (op == kCodeOpEscape) {
      const int argument = alignment_code_iter_next(&iter);
      if (argument <= 3) {
        // A phase change costs one full unit and consumes no read base.
        scorer.disagree(1.0, g);
        exclusive_or = argument;
      } else if (argument >= 8 && argument <= 15) {
        if (argument & 1) skip_match = !skip_match;
        if (argument & 2) skip_insertion = !skip_insertion;
      }
      continue;
    }
    if (op == kCodeOpMatch && skip_match) {
      r++;
      reference.next();
      continue;
    }
    if (op == kCodeOpInsertion && skip_insertion) {
      r++;
      continue;
    }
    int f = 4;
    if (op != kCodeOpInsertion) f = reference.next();
    int read = -1;
    if (op != kCodeOpDeletion) {
      read = read_code(r);
      if (s > g) g = s;
    }
    const bool agrees = op == kCodeOpMatch && f <= 3 && read >= 0 && f == (read ^ exclusive_or);
    if (agrees)
      scorer.agree(s);
    else
      scorer.disagree(x, g);
    if (op != kCodeOpDeletion) {
      r++;
      s++;
    }
  }
  return static_cast<double>(scorer.best()) / static_cast<double>(s);
}

}  // namespace

double alignment_code_similar_fraction(int32_t length, const uint8_t *bytes, int32_t reference_start,
                                       int32_t wrap_start, int32_t wrap_end, const uint8_t *packed_reference,
                                       double x, const uint8_t *valid_mask, const seq_record_t *read) {
  PackedReference reference{packed_reference, valid_mask, reference_start, wrap_start, wrap_end};
  auto read_code = [read](int32_t r) -> int {
    return static_cast<uint32_t>(r) < read->length ? read->residues[r] : -1;
  };
  return code_similar_fraction(length, bytes, reference, read_code, x);
}

double alignment_code_similar_fraction_cb(int32_t length, const uint8_t *bytes, const uint8_t *read_codes,
                                          int32_t reference_start, alignment_code_reference_fn reference,
                                          void *context, double x) {
  CallbackReference source{reference, context, reference_start};
  auto read_code = [read_codes](int32_t r) -> int { return read_codes[r]; };
  return code_similar_fraction(length, bytes, source, read_code, x);
}

int32_t aligned_pairs_similar_span(const aligned_pair_list_t *pairs, const seq_record_t *reference,
                                   const seq_record_t *read, double x) {
  if (pairs == nullptr || pairs->count <= 0) return 0;
  const int32_t start = pairs->pairs[0]->read_index - 1;
  StretchScorer scorer(pairs->count + 1, start, x);
  int32_t g = start;
  for (int32_t k = 0; k < pairs->count; k++) {
    const aligned_pair_t *pair = pairs->pairs[k];
    const int32_t ref = pair->reference_index;
    const int32_t at = pair->read_index;
    if (at > g) g = at;
    bool agrees = false;
    if (ref >= 0 && at >= 0 && static_cast<uint32_t>(ref) < reference->length &&
        static_cast<uint32_t>(at) < read->length) {
      const uint8_t f = reference->residues[ref];
      agrees = f <= 3 && f == read->residues[at];
    }
    if (agrees)
      scorer.agree(at);
    else
      scorer.disagree(x, g);
  }
  return scorer.best();
}
