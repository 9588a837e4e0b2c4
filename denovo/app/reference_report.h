// The hidden reference score report: how well each contig follows a known
// reference, judged on fragment paths rather than bases.
//
// The read mapping stage maps the first sequence of a reference file onto
// the fragments like a read, which gives the reference path. Here every
// contig is turned into the same kind of path and aligned locally against
// the reference path in both orientations; contigs that fall short of their
// own length or of the reference stretch they cover are listed on standard
// output, followed by the totals.
//
// Calling order: after contig_info_build and before the contig writer cuts
// circular contigs. Paths returned belong to the caller (read_info_free).
// Single-threaded; the graph is only read.
#pragma once

#include <cstdint>

#include "denovo/graph/contig_info.h"
#include "denovo/graph/fragment_graph.h"
#include "denovo/reads/read_info.h"
#include "denovo/reads/read_table.h"

extern "C" {

// The contig's fragment path: one step per node from its first node (the
// distance of the edge that led there, 0 first) to its last node, or once
// round a circular contig; null when the bases along it (node lengths plus
// edge distances) fall below min_length. The path is made searchable.
read_info_t *reference_score_contig_path(const fragment_graph_t *graph, const contig_info_t *info,
                                         oriented_id_t contig, int32_t min_length);

// Best local alignment score of the first path of contig_path against the
// first path of reference, with distances allowed to differ by less than
// tolerance / 2; the reference length covered at the best cell goes to
// *covered and the 1-based reference step of that cell to *reference_step
// (both 0 when nothing scores above 0). Either pointer may be null.
int32_t reference_score_align_paths(const fragment_graph_t *graph, const read_info_t *reference,
                                    const read_info_t *contig_path, int32_t tolerance, int32_t *covered,
                                    int32_t *reference_step);

// Prints the report (see above) for every contig of at least min_length
// bases. With no reference path (the reference was not mapped) it prints
// nothing.
void reference_score_report(const fragment_graph_t *graph, const read_table_t *table, const contig_info_t *info,
                            int32_t min_length, const read_info_t *reference);

// The common oriented contig of every node that carries fragment (followed
// through the other-node links), or -1 when they lie on different contigs
// or no node carries it; with fragment -1, the fragment at the start of the
// path holding read_ptr is used. Needs the info's node map.
oriented_id_t reference_score_contig_of_read(const fragment_graph_t *graph, const contig_info_t *info,
                                             const read_info_t *read_info, oriented_id_t fragment, read_ptr_t read_ptr);

// For every read pair whose ends lie on two different known contigs f and h
// (h the reverse of the contig of end 2), turned so that f has the lower
// index, prints "# %8.8x < %8.8x\n" for (f, h) and for (reverse h, reverse
// f); a line end follows the last pair.
void reference_score_print_contig_order(const fragment_graph_t *graph, const read_table_t *table,
                                        const contig_info_t *info);

// Prints an int matrix stored column by column: per row "%i: " and "%4i "
// per column, then a line end.
void reference_score_print_matrix(const int32_t *matrix, int32_t rows, int32_t columns);

}  // extern "C"
