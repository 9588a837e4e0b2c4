// Contig output: spells every contig of the final fragment graph into a
// sequence and writes it as FASTA, with optional GFF or AGP 2.0 annotation
// of joined contigs, scaffold gaps and excluded alternatives.
//
// A contig is spelled from its first to its last node: each node's fragment
// (reverse-complemented for a reverse node), neighbouring fragments laid
// over each other where their edge distance is negative, positive gaps
// filled from the read ends (end_info_fill_gap) or, for scaffold gaps, with
// N, overlaps that overlap resolution merged replaced by the merged sequence
// from the gap-sequence map, and consensus extensions from the read ends
// added beyond both ends of a linear contig. Contigs that reach the minimum
// length are written as "contig_<n>", n counting from 1.
//
// Calling order: after the contigs are derived (contig_info_build) and the
// read table's end-info list has been loaded and sorted
// (end_info_read_temp_file, end_info_sort), one call to contig_output_write.
// It changes the graph: circular contigs are cut open (their closing edges
// removed, the flags of the nodes at the cut cleared), so the contig info
// must not be walked again afterwards. It takes each merged sequence it uses
// out of the gap-sequence map and releases it when the contig is spelled;
// the map keeps its entries and still owns the sequences it was not asked
// for. Output files stay the caller's: write errors surface when the caller
// closes them. One thread; nothing else may use the graph meanwhile.
//
// Marks read on nodes (left by the paired stages): mark2 the node lies where
// contigs were joined, mark4 and mark5 scaffold ends, mark1 alternatives
// were excluded here.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/array_list.h"
#include "common/progress_meter.h"
#include "denovo/app/contig_features.h"
#include "denovo/app/gap_sequence_map.h"
#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/end_info.h"
#include "denovo/reads/read_table.h"

struct seq_record_t;

extern "C" {

// Feature modes of contig_output_write.
constexpr int32_t kContigFeaturesGff = 0;
constexpr int32_t kContigFeaturesAgp = 1;

// Annotation state of the contig being spelled; reset before each contig.
struct contig_feature_state_t {
  int32_t join_start;           // start of the open stretch of joined nodes (GFF), -1 = none
  int32_t join_end;             // its end, -1 = none
  int32_t scaffold_position;    // contig position (1-based, inclusive) where the last scaffold component ended
  int32_t part_number;          // AGP part number of the next line
  int32_t component_number;     // AGP component number of the next W line
  int32_t component_begin;      // contig position where the current AGP component begins
  oriented_id_t open_scaffold;  // last node that closed a scaffold component, -1 = none
};

// One pending annotation line of the current contig.
struct feature_line_t {
  int32_t piece_end;   // -1: the line does not split the contig; AGP gap line: position where the component before it ends
  int32_t next_start;  // AGP gap line: 1-based position where the next component begins
  char *line;          // owned, ends with a line end
};

// Resets the state for a new contig.
void contig_feature_state_reset(contig_feature_state_t *state);

// Spells and writes every contig (see above). fasta is the open output;
// features the open feature file or null; mode kContigFeaturesGff or
// kContigFeaturesAgp; meter may be null; show_contigs prints a trace of
// every contig on standard output; gaps may be null. A negative contig
// length prints "error, initial contig_length is less than 0\n" (before the
// end extensions) or "error, contig_length is less than 0\n" (after) on
// standard output and ends the process with status 1.
void contig_output_write(FILE *fasta, FILE *features, int32_t mode, fragment_graph_t *graph, read_table_t *table,
                         contig_info_t *info, int32_t min_length, progress_meter_t *meter, int32_t show_contigs,
                         gap_sequence_map_t *gaps);

// Records the annotation of node u, whose fragment of length fragment_length
// ends at contig position position (bases placed so far); appends
// feature_line_t items to lines and updates the state. extra_offset moves
// the node's start back (the writer passes 0).
void contig_output_add_features(const fragment_graph_t *graph, oriented_id_t u, int32_t position,
                                int32_t fragment_length, contig_feature_state_t *state, seq_record_t *contig,
                                int32_t mode, array_list_t *lines, int32_t extra_offset);

// 1 when edge e is a scaffold gap: either end node has mark5, or both have
// mark4 while no scaffold component is open; 0 for -1 or missing ends.
int contig_output_is_gap_edge(const fragment_graph_t *graph, oriented_id_t edge, const contig_feature_state_t *state);

// Writes n gap bases into contig at position: from the read ends bridging
// fragment from to fragment to when list is given (the fill may rewrite up
// to M bases on either side), else N; nothing is written outside the
// record. Returns the position after the gap. sequences and lengths are the
// fragment codes by index (null: read from the graph's database). The
// contig writer fills its read-end gaps through it.
int64_t contig_output_fill_gap(const fragment_graph_t *graph, uint8_t *const *sequences, const uint32_t *lengths,
                               const end_info_t *list, oriented_id_t from, oriented_id_t to, seq_record_t *contig,
                               int64_t position, int32_t n);

// A new record holding residues [begin, end) of source (clamped to its
// length), named source's name (or "seq") followed by "_<number>".
seq_record_t *contig_output_make_piece(const seq_record_t *source, uint32_t begin, uint32_t end, uint32_t number);

// A (64-bit value, int32, int32) record, as contig_output_append_triple
// appends them.
struct contig_output_triple_t {
  uint64_t value;
  int32_t first;
  int32_t second;
};
// Appends {value, first, second} to a list of contig_output_triple_t. No
// stage calls it.
void contig_output_append_triple(array_list_t *list, uint64_t value, int32_t first, int32_t second);

}  // extern "C"
