#include "denovo/app/contig_output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_alphabet.h"
#include "seqio/seq_complement.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"

namespace {

constexpr uint8_t kFragmentBase = 63;  // fragment residues are stored as 63 + code
constexpr uint8_t kCodeN = 4;

// Every fragment of the graph as codes, fetched from the database once.
struct FragmentCodes {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t *> sequences;
  std::vector<uint32_t> lengths;

  explicit FragmentCodes(const fragment_graph_t *graph) {
    seq_db_t *db = graph->fragments;
    const int64_t n = db != nullptr ? db->sequence_count : 0;
    std::vector<uint64_t> starts(static_cast<size_t>(n));
    lengths.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; i++) {
      seq_record_t *r = db->get(db, i);
      starts[static_cast<size_t>(i)] = bytes.size();
      lengths[static_cast<size_t>(i)] = r->length;
      for (uint32_t j = 0; j < r->length; j++) bytes.push_back(static_cast<uint8_t>(r->residues[j] - kFragmentBase));
      seq_db_release_fetched(db, r);
    }
    bytes.push_back(0);  // so that an empty store still has a valid base pointer
    sequences.resize(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; i++) sequences[static_cast<size_t>(i)] = bytes.data() + starts[static_cast<size_t>(i)];
  }
};

char *copy_string(const std::string &text) {
  auto *out = static_cast<char *>(ryx_malloc(text.size() + 1));
  memcpy(out, text.c_str(), text.size() + 1);
  return out;
}

void add_line(array_list_t *lines, char *line, int32_t piece_end = -1, int32_t next_start = -1) {
  const feature_line_t item{piece_end, next_start, line};
  array_list_add(lines, &item);
}

void clear_lines(array_list_t *lines) {
  for (uint64_t i = 0; i < array_list_get_count(lines); i++) {
    ryx_free(static_cast<feature_line_t *>(array_list_get_item(lines, i))->line);
  }
  array_list_clear(lines);
}

[[noreturn]] void negative_length(const char *message) {
  fputs(message, stdout);
  fflush(stdout);
  ryx_exit(1);
}

// The record's residues are written only through this: positions outside
// [0, length) are dropped, so a walk longer than the length counted never
// overruns the buffer.
inline void put(seq_record_t *record, int64_t position, uint8_t code) {
  if (position >= 0 && position < static_cast<int64_t>(record->length)) record->residues[position] = code;
}

// Copies the fragment of node u, without its first s bases in the node's
// orientation, to position p; returns the position after the last base
// written (never beyond the record's end).
int64_t copy_fragment(const fragment_graph_t *graph, const FragmentCodes &codes, oriented_id_t u, int64_t s,
                      int64_t p, seq_record_t *record) {
  const oriented_id_t fragment = fragment_graph_get_node_fragment(graph, u);
  const uint32_t index = oriented_id_get_index(fragment);
  const int64_t length = codes.lengths[index];
  const uint8_t *seq = codes.sequences[index];
  const bool reverse = oriented_id_is_reverse(fragment) != 0;
  const int64_t end = static_cast<int64_t>(record->length);
  for (int64_t j = std::max<int64_t>(s, 0); j < length && p < end; j++) {
    record->residues[p++] = reverse ? seq_code_complement(seq[length - 1 - j]) : seq[j];
  }
  return p;
}

// Looks the edge up in the map, in its own orientation first. On success
// takes the merged sequence out of the entry (the caller releases it), sets
// the cut before the gap and the skip after it as read along edge, and
// turns the sequence to that orientation. A merged sequence taken before
// counts as not found, so it is never used twice.
seq_record_t *take_merged(gap_sequence_map_t *gaps, oriented_id_t edge, int64_t *cut, int64_t *skip) {
  if (gaps == nullptr) return nullptr;
  gap_sequence_t entry;
  if (gap_sequence_map_find(gaps, edge, &entry)) {
    seq_record_t *merged = gap_sequence_map_take_sequence(gaps, edge);
    if (merged == nullptr) return nullptr;
    *cut = entry.offset;
    *skip = entry.end;
    return merged;
  }
  const oriented_id_t reverse = fragment_graph_reverse_edge(edge);
  if (gap_sequence_map_find(gaps, reverse, &entry)) {
    seq_record_t *merged = gap_sequence_map_take_sequence(gaps, reverse);
    if (merged == nullptr) return nullptr;
    *cut = entry.end;
    *skip = entry.offset;
    seq_codes_reverse_complement(merged->residues, merged->length);
    return merged;
  }
  return nullptr;
}

// Writes the contig's annotation lines and its FASTA record(s) (letters).
void write_contig(FILE *fasta, FILE *features, int32_t mode, seq_record_t *record, array_list_t *lines) {
  const uint64_t n = array_list_get_count(lines);
  if (features == nullptr || n == 0) {
    seq_record_write_fasta(fasta, record);
    return;
  }
  for (uint64_t i = 0; i < n; i++) fputs(static_cast<feature_line_t *>(array_list_get_item(lines, i))->line, features);
  if (mode != kContigFeaturesAgp) {
    seq_record_write_fasta(fasta, record);
    return;
  }
  // AGP: the FASTA file holds the components, without the gap bases.
  int64_t t = 0;
  uint32_t k = 1;
  for (uint64_t i = 0; i < n; i++) {
    const auto *line = static_cast<feature_line_t *>(array_list_get_item(lines, i));
    if (line->piece_end == -1) continue;
    seq_record_t *piece = contig_output_make_piece(record, static_cast<uint32_t>(std::max<int64_t>(t, 0)),
                                                   static_cast<uint32_t>(std::max(line->piece_end, 0)), k);
    seq_record_write_fasta(fasta, piece);
    seq_record_free(piece);
    t = static_cast<int64_t>(line->next_start) - 1;
    k++;
  }
  seq_record_t *piece = contig_output_make_piece(record, static_cast<uint32_t>(std::max<int64_t>(t, 0)), record->length, k);
  seq_record_write_fasta(fasta, piece);
  seq_record_free(piece);
}

// The per-run context of the walk.
struct Writer {
  FILE *features;
  int32_t mode;
  fragment_graph_t *graph;
  end_info_t *ends;  // loaded and sorted, or null
  const FragmentCodes *codes;
  gap_sequence_map_t *gaps;
  int32_t show;
  array_list_t *lines;
  contig_feature_state_t state;
};

// Spells contig i into record, whose length the walk may change; first and
// last are its end nodes, g the length of the start extension.
void walk_contig(Writer &w, seq_record_t *record, oriented_id_t first, oriented_id_t last, int64_t g) {
  fragment_graph_t *graph = w.graph;
  int64_t p = g;
  int64_t s = 0;
  oriented_id_t u = first;
  for (;;) {
    p = copy_fragment(graph, *w.codes, u, s, p, record);
    const int32_t node_length = fragment_graph_get_node_length(graph, u);
    if (w.show) printf(" %8.8x(%d) ", u, node_length);
    const oriented_id_t e = fragment_graph_get_first_next_edge(graph, u);
    const int gap = contig_output_is_gap_edge(graph, e, &w.state);
    if (w.features != nullptr) {
      contig_output_add_features(graph, u, static_cast<int32_t>(p), node_length, &w.state, record, w.mode, w.lines, 0);
    }
    if (fragment_graph_get_mark4(graph, u)) {
      if (w.state.open_scaffold == kOrientedIdNone || fragment_graph_get_mark5(graph, u)) {
        w.state.open_scaffold = u;
      } else {
        w.state.open_scaffold = kOrientedIdNone;
      }
    } else {
      w.state.open_scaffold = kOrientedIdNone;
    }
    if (u == last || e == kOrientedIdNone) return;
    const int32_t d = fragment_graph_get_edge_distance(graph, e);
    if (w.show) printf("<%d>", d);
    oriented_id_t v = fragment_graph_get_edge_to_node(graph, e);
    if (d < 1) {
      int64_t cut = 0;
      int64_t skip = 0;
      seq_record_t *merged = take_merged(w.gaps, e, &cut, &skip);
      if (merged == nullptr) {
        // Plain overlap: the next fragment rewrites the last -d bases with
        // the same sequence.
        p = std::max(p + d, g);
        s = 0;
      } else {
        s = skip;
        const int64_t m = merged->length;
        const int64_t length = record->length;
        // The contig length counted this edge as -m; the merged bases
        // replace the last cut bases written and the first skip bases after
        // the edge instead.
        int64_t updated = std::max<int64_t>(0, g - (p - cut)) + std::min<int64_t>(0, p + d - g) +
                          (length - skip - cut) + 2 * m;
        updated = std::clamp<int64_t>(updated, 0, INT32_MAX);
        if (updated != length) {
          record->residues = static_cast<uint8_t *>(ryx_realloc(record->residues, static_cast<size_t>(updated) + 1));
          for (int64_t j = length; j < updated; j++) record->residues[j] = kCodeN;
          record->length = static_cast<uint32_t>(updated);
        }
        p = std::max(p - cut, g);
        for (int64_t j = 0; j < m && p < updated; j++) record->residues[p++] = merged->residues[j];
        if (p >= updated) {
          seq_record_release(merged);
          return;
        }
        // The skip may reach past the next fragment: move on along the
        // contig (never past its last node) until it lies within one.
        while (v != last && fragment_graph_get_node_length(graph, v) < s) {
          const oriented_id_t f = fragment_graph_get_first_next_edge(graph, v);
          if (f == kOrientedIdNone) break;
          s -= fragment_graph_get_node_length(graph, v) + fragment_graph_get_edge_distance(graph, f);
          v = fragment_graph_get_edge_to_node(graph, f);
        }
        if (s < 0) {
          for (int64_t j = 0; j < -s; j++) put(record, p++, kCodeN);
          s = 0;
        }
        seq_record_release(merged);
        p = std::max(p, g);
      }
    } else if (gap) {
      for (int64_t j = 0; j < d; j++) put(record, p + j, kCodeN);
      p += d;
      s = 0;
    } else {
      p = contig_output_fill_gap(graph, w.codes->sequences.data(), w.codes->lengths.data(), w.ends,
                                 fragment_graph_get_node_fragment(graph, u), fragment_graph_get_node_fragment(graph, v),
                                 record, p, d);
      s = 0;
    }
    u = v;
  }
}

}  // namespace

void contig_feature_state_reset(contig_feature_state_t *state) {
  state->join_start = -1;
  state->join_end = -1;
  state->scaffold_position = 0;
  state->part_number = 1;
  state->component_number = 1;
  state->component_begin = 1;
  state->open_scaffold = kOrientedIdNone;
}

int contig_output_is_gap_edge(const fragment_graph_t *graph, oriented_id_t edge, const contig_feature_state_t *state) {
  if (edge == kOrientedIdNone) return 0;
  const oriented_id_t to = fragment_graph_get_edge_to_node(graph, edge);
  const oriented_id_t from = fragment_graph_get_edge_from_node(graph, edge);
  if (to == kOrientedIdNone || from == kOrientedIdNone) return 0;
  if (fragment_graph_get_mark5(graph, to) || fragment_graph_get_mark5(graph, from)) return 1;
  return fragment_graph_get_mark4(graph, to) && fragment_graph_get_mark4(graph, from) &&
         state->open_scaffold == kOrientedIdNone;
}

void contig_output_add_features(const fragment_graph_t *graph, oriented_id_t u, int32_t position,
                                int32_t fragment_length, contig_feature_state_t *state, seq_record_t *contig,
                                int32_t mode, array_list_t *lines, int32_t extra_offset) {
  const int32_t c = position + 1 - fragment_length - extra_offset;
  const bool gff = mode != kContigFeaturesAgp;
  const bool joined = fragment_graph_get_mark2(graph, u) != 0;
  if (gff && joined) {
    if (state->join_start == -1) state->join_start = c;
    state->join_end = position;
  }
  if (!joined && state->join_start != -1) {
    add_line(lines, feature_format_gff_range(contig, "Contigs joined", state->join_start, state->join_end));
    state->join_start = -1;
    state->join_end = -1;
  }
  const bool scaffold_end = fragment_graph_get_mark4(graph, u) != 0;
  if (scaffold_end && state->open_scaffold != kOrientedIdNone) {
    if (gff) {
      add_line(lines, feature_format_gff_range(contig, "Scaffold", state->scaffold_position + 1, c - 1));
    } else if (c - 1 >= state->scaffold_position + 1) {
      // A component closes at the scaffold position and the gap runs to the
      // base before this node. Where the nodes touch or overlap there are no
      // gap bases, and the component simply goes on.
      add_line(lines, agp_format_component_line(contig, state->component_begin, state->scaffold_position,
                                                state->part_number, state->component_number));
      state->part_number++;
      state->component_number++;
      add_line(lines, agp_format_gap_line(contig, state->scaffold_position + 1, c - 1, state->part_number),
               state->scaffold_position, c);
      state->component_begin = c;
      state->part_number++;
    }
  }
  if (scaffold_end && (fragment_graph_get_mark5(graph, u) || state->open_scaffold == kOrientedIdNone)) {
    state->scaffold_position = position;
  }
  if (gff && fragment_graph_get_mark1(graph, u)) {
    add_line(lines, feature_format_gff_range(contig, "Alternatives Excluded", c, c + graph->word_size));
  }
}

int64_t contig_output_fill_gap(const fragment_graph_t *graph, uint8_t *const *sequences, const uint32_t *lengths,
                               const end_info_t *list, oriented_id_t from, oriented_id_t to, seq_record_t *contig,
                               int64_t position, int32_t n) {
  const int64_t length = contig->length;
  if (list == nullptr || n <= 0) {
    for (int64_t j = 0; j < n; j++) put(contig, position + j, kCodeN);
    return position + std::max(n, 0);
  }
  const int64_t k = list->max_distance;
  if (position >= k && position + n + k <= length) {
    end_info_fill_gap(graph->fragments, sequences, lengths, list, from, to, n, contig->residues + position);
  } else {
    // Too close to an end of the record for the fill's flanks: fill a
    // scratch copy and keep what it wrote inside the record.
    std::vector<uint8_t> scratch(static_cast<size_t>(n + 2 * k), kEndInfoNoSymbol);
    end_info_fill_gap(graph->fragments, sequences, lengths, list, from, to, n, scratch.data() + k);
    for (size_t j = 0; j < scratch.size(); j++) {
      if (scratch[j] != kEndInfoNoSymbol) put(contig, position - k + static_cast<int64_t>(j), scratch[j]);
    }
  }
  return position + n;
}

seq_record_t *contig_output_make_piece(const seq_record_t *source, uint32_t begin, uint32_t end, uint32_t number) {
  seq_record_t *piece = seq_record_new_range(source, begin, end);
  const std::string name = std::string(source->name != nullptr ? source->name : "seq") + "_" + std::to_string(number);
  piece->name = copy_string(name);
  return piece;
}

void contig_output_append_triple(array_list_t *list, uint64_t value, int32_t first, int32_t second) {
  const contig_output_triple_t item{value, first, second};
  array_list_add(list, &item);
}

void contig_output_write(FILE *fasta, FILE *features, int32_t mode, fragment_graph_t *graph, read_table_t *table,
                         contig_info_t *info, int32_t min_length, progress_meter_t *meter, int32_t show_contigs,
                         gap_sequence_map_t *gaps) {
  if (features != nullptr && mode == kContigFeaturesAgp) agp_write_header(features);
  if (show_contigs) printf("Contigs:\n");
  const FragmentCodes codes(graph);
  Writer w{features, mode, graph, table != nullptr ? table->end_info : nullptr, &codes, gaps, show_contigs,
           array_list_new(sizeof(feature_line_t)), {}};
  seq_alphabet_t *letters = seq_alphabet_new_dna_letters();
  const int32_t count = contig_info_get_contig_count(info);
  int32_t number = 1;
  for (int32_t i = 0; i < count; i++) {
    contig_feature_state_reset(&w.state);
    const auto contig = static_cast<oriented_id_t>(i);
    const oriented_id_t first = contig_info_get_first_node(info, contig);
    if (first == kOrientedIdNone) continue;
    oriented_id_t last = contig_info_get_last_node(info, contig);
    int64_t length = contig_info_get_contig_length(info, graph, contig);
    const bool circular = contig_info_is_circular(info, contig) != 0;
    if (circular) {
      // Cut the ring before its first node: the walk then ends at the node
      // the closing edge came from.
      const oriented_id_t closing = fragment_graph_get_first_prev_edge(graph, first);
      if (closing != kOrientedIdNone) {
        fragment_graph_clear_node_flags(graph, first);
        last = fragment_graph_get_edge_from_node(graph, closing);
        fragment_graph_clear_node_flags(graph, fragment_graph_reverse_node(last));
        for (oriented_id_t e; (e = fragment_graph_get_first_prev_edge(graph, first)) != kOrientedIdNone;) {
          fragment_graph_remove_edge(graph, e);
        }
      }
    }
    if (length < 0) negative_length("error, initial contig_length is less than 0\n");
    if (length < min_length) continue;
    // Consensus extensions beyond both ends of a linear contig.
    uint8_t *start_extension = nullptr;
    uint8_t *end_extension = nullptr;
    int32_t start_count = 0;
    int32_t end_count = 0;
    int64_t g = 0;
    if (w.ends != nullptr && !circular) {
      const int64_t k = w.ends->max_distance;
      start_extension = end_info_get_consensus(graph->fragments, w.ends,
                                               fragment_graph_get_node_fragment(graph, fragment_graph_reverse_node(first)),
                                               &start_count);
      if (start_extension != nullptr && start_count > k) {
        seq_codes_reverse_complement(start_extension, static_cast<uint32_t>(start_count));
        g = start_count - k;
        length += g;
      } else {
        start_extension = static_cast<uint8_t *>(ryx_free(start_extension));
        start_count = 0;
      }
      end_extension = end_info_get_consensus(graph->fragments, w.ends, fragment_graph_get_node_fragment(graph, last),
                                             &end_count);
      if (end_extension != nullptr && end_count > k) {
        length += end_count - k;
      } else {
        end_extension = static_cast<uint8_t *>(ryx_free(end_extension));
        end_count = 0;
      }
      if (length < 0) negative_length("error, contig_length is less than 0\n");
    }
    if (length > INT32_MAX) length = INT32_MAX;
    seq_record_t *record = seq_record_new(static_cast<uint32_t>(length));
    // Every position starts as N, so a walk that places fewer bases than
    // counted leaves N rather than stale memory.
    memset(record->residues, kCodeN, static_cast<size_t>(length) + 1);
    record->name = copy_string("contig_" + std::to_string(number));
    number++;
    if (show_contigs) printf("  %8.8x (%5d):", static_cast<unsigned>(i), static_cast<int>(length));
    walk_contig(w, record, first, last, g);
    if (show_contigs) printf("\n");
    const int64_t final_length = record->length;
    for (int64_t j = 0; j < start_count; j++) put(record, j, start_extension[j]);
    for (int64_t j = 0; j < end_count; j++) put(record, final_length - end_count + j, end_extension[j]);
    ryx_free(start_extension);
    ryx_free(end_extension);
    if (features != nullptr && mode == kContigFeaturesAgp) {
      add_line(w.lines, agp_format_component_line(record, w.state.component_begin, static_cast<int32_t>(final_length),
                                                  w.state.part_number, w.state.component_number));
    }
    if (static_cast<uint32_t>(final_length) >= static_cast<uint32_t>(min_length)) {
      seq_alphabet_apply(letters, record);
      write_contig(fasta, features, mode, record, w.lines);
    }
    clear_lines(w.lines);
    seq_record_free(record);
    progress_meter_update(meter, static_cast<double>(i) / count);
  }
  seq_alphabet_free(letters);
  array_list_free(w.lines);
}
