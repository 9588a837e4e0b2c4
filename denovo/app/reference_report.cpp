#include "denovo/app/reference_report.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr oriented_id_t kNone = kOrientedIdNone;

// One step of a fragment path: its oriented fragment and the distance from
// the previous step (0 for the first).
struct PathStep {
  oriented_id_t fragment;
  int32_t distance;
};

// The first path of a finished read info as steps.
std::vector<PathStep> path_steps(const read_info_t *info) {
  std::vector<PathStep> steps;
  if (info == nullptr || info->count < 3) return steps;
  const uint64_t n = read_info_get_path_length(info, 0);
  steps.reserve(n);
  for (uint64_t e = 0; e < n; e++) {
    steps.push_back({static_cast<oriented_id_t>(info->words[2 * e + 1]),
                     e == 0 ? 0 : read_info_word_distance(info->words[2 * e])});
  }
  return steps;
}

}  // namespace

read_info_t *reference_score_contig_path(const fragment_graph_t *graph, const contig_info_t *info,
                                         oriented_id_t contig, int32_t min_length) {
  const oriented_id_t first = contig_info_get_first_node(info, contig);
  if (first == kNone) return nullptr;
  const oriented_id_t last = contig_info_get_last_node(info, contig);
  const bool circular = contig_info_is_circular(info, contig) != 0;
  read_info_t *path = read_info_new(static_cast<uint32_t>(fragment_graph_get_fragment_count(graph)));
  read_info_start_path(path, fragment_graph_get_node_fragment(graph, first));
  int64_t sum = fragment_graph_get_node_length(graph, first);
  oriented_id_t u = first;
  // A circular contig's last node is its first: go round once instead, and
  // stop before the first node comes up again. The step bound keeps a
  // damaged graph from looping.
  for (int64_t steps = 0; steps <= graph->node_count; steps++) {
    if (u == last && !(circular && steps == 0)) break;
    const oriented_id_t e = fragment_graph_get_first_next_edge(graph, u);
    if (e == kNone) break;
    const oriented_id_t v = fragment_graph_get_edge_to_node(graph, e);
    if (circular && v == first) break;
    const int32_t d = fragment_graph_get_edge_distance(graph, e);
    read_info_add_step(path, d, fragment_graph_get_node_fragment(graph, v));
    sum += d + static_cast<int64_t>(fragment_graph_get_node_length(graph, v));
    u = v;
  }
  if (sum < min_length) return read_info_free(path);
  read_info_make_searchable(path);
  return path;
}

int32_t reference_score_align_paths(const fragment_graph_t *graph, const read_info_t *reference,
                                    const read_info_t *contig_path, int32_t tolerance, int32_t *covered,
                                    int32_t *reference_step) {
  const std::vector<PathStep> ref = path_steps(reference);
  const std::vector<PathStep> con = path_steps(contig_path);
  const int64_t t = tolerance / 2;
  const size_t m = con.size();
  // Two columns of each matrix (reference step i - 1 and i) over the contig
  // steps: every cell needs only its left, upper and upper-left neighbours.
  std::vector<int32_t> s_prev(m + 1, 0), s_cur(m + 1, 0);
  std::vector<int32_t> q_prev(m + 1, 0), q_cur(m + 1, 0);
  std::vector<int32_t> r_prev(m + 1, 0), r_cur(m + 1, 0);
  std::vector<int32_t> contig_lengths(m);
  for (size_t j = 0; j < m; j++) contig_lengths[j] = fragment_graph_get_fragment_length(graph, con[j].fragment);
  int32_t best = 0, best_covered = 0, best_step = 0;
  for (size_t i = 1; i <= ref.size(); i++) {
    const oriented_id_t a_fragment = ref[i - 1].fragment;
    const int64_t a = fragment_graph_get_fragment_length(graph, a_fragment);
    const int64_t p = ref[i - 1].distance;
    const int64_t x = a + p;
    s_cur[0] = q_cur[0] = r_cur[0] = 0;
    for (size_t j = 1; j <= m; j++) {
      const int64_t b = contig_lengths[j - 1];
      const int64_t q = con[j - 1].distance;
      const int64_t diagonal = s_prev[j - 1];
      int64_t match;
      if (a_fragment == con[j - 1].fragment) {
        const int64_t r = r_prev[j - 1];
        // A reference stretch skipped just before a match earns its length
        // back when the contig's distance bridges it within the tolerance.
        if (r >= 1 && r - t < q && q < r + t) {
          match = diagonal + r + q + b;
        } else {
          match = diagonal + b + (diagonal > 0 ? q : 0);
        }
      } else {
        match = diagonal - std::llabs(x);
      }
      const int64_t skip_ref = s_prev[j] - std::llabs(x);
      const int64_t skip_contig = s_cur[j - 1] - std::llabs(b + q);
      if (skip_ref >= match && skip_ref >= 0 && skip_ref >= skip_contig) {
        s_cur[j] = static_cast<int32_t>(skip_ref);
        q_cur[j] = static_cast<int32_t>(q_prev[j] + x);
        r_cur[j] = static_cast<int32_t>(r_prev[j] + x);
      } else if (skip_contig >= 0 && skip_contig >= match) {
        s_cur[j] = static_cast<int32_t>(skip_contig);
        q_cur[j] = q_cur[j - 1];
        r_cur[j] = r_cur[j - 1];
      } else {
        if (match < 1) {
          s_cur[j] = 0;
          q_cur[j] = 0;
        } else {
          s_cur[j] = static_cast<int32_t>(match);
          q_cur[j] = static_cast<int32_t>(q_prev[j - 1] + a + (q_prev[j - 1] > 0 ? p : 0));
        }
        r_cur[j] = 0;
      }
      if (s_cur[j] > best) {
        best = s_cur[j];
        best_covered = q_cur[j];
        best_step = static_cast<int32_t>(i);
      }
    }
    s_prev.swap(s_cur);
    q_prev.swap(q_cur);
    r_prev.swap(r_cur);
  }
  if (covered != nullptr) *covered = best_covered;
  if (reference_step != nullptr) *reference_step = best_step;
  return best;
}

void reference_score_report(const fragment_graph_t *graph, const read_table_t *table, const contig_info_t *info,
                            int32_t min_length, const read_info_t *reference) {
  if (reference == nullptr) return;
  printf("Reference:\n");
  read_info_print(reference);
  puts("\n");
  int32_t tolerance = 0;
  if (table != nullptr && table->pair_dist_info != nullptr) {
    for (int32_t f = 0; f < table->file_count; f++) {
      const pair_dist_info_t *h = table->pair_dist_info[f];
      if (h != nullptr && h->setting != nullptr && h->setting->max_distance > tolerance) {
        tolerance = h->setting->max_distance;
      }
    }
  }
  int64_t total_score = 0, total_contig = 0, total_ref = 0;
  const int32_t count = contig_info_get_contig_count(info);
  for (int32_t j = 0; j < count; j++) {
    const auto contig = static_cast<oriented_id_t>(j);
    if (contig_info_get_first_node(info, contig) == kNone) continue;
    const int32_t h = contig_info_get_contig_length(info, graph, contig);
    if (h < min_length) continue;
    int32_t e = -1, c = 0;
    oriented_id_t chosen = contig;
    read_info_t *path = reference_score_contig_path(graph, info, contig, min_length);
    if (path != nullptr) e = reference_score_align_paths(graph, reference, path, tolerance, &c, nullptr);
    const oriented_id_t reverse = contig_info_reverse_contig(contig);
    read_info_t *reverse_path = reference_score_contig_path(graph, info, reverse, min_length);
    if (reverse_path != nullptr) {
      int32_t c2 = 0;
      const int32_t e2 = reference_score_align_paths(graph, reference, reverse_path, tolerance, &c2, nullptr);
      if (e2 > e) {
        e = e2;
        c = c2;
        chosen = reverse;
        read_info_free(path);
        path = reverse_path;
        reverse_path = nullptr;
      }
    }
    if (c - e > c / 20 || h - e > h / 20) {
      printf("Score for contig %8.8x: %i/%i/%i (score, contig_score, ref_score)\n", chosen, e, h, c);
      if (path != nullptr) read_info_print(path);
    }
    total_score += e;
    total_contig += h;
    total_ref += c;
    read_info_free(path);
    read_info_free(reverse_path);
  }
  printf("Total score:                                    %lld/%lld/%lld (score, contig_score, ref_score)\n",
         static_cast<long long>(total_score), static_cast<long long>(total_contig), static_cast<long long>(total_ref));
}

oriented_id_t reference_score_contig_of_read(const fragment_graph_t *graph, const contig_info_t *info,
                                             const read_info_t *read_info, oriented_id_t fragment, read_ptr_t read_ptr) {
  if (fragment == kNone) {
    if (read_ptr == kReadPtrNone || read_info == nullptr) return kNone;
    while (read_info_has_prev(read_info, read_ptr)) read_ptr = read_info_get_prev(read_info, read_ptr);
    fragment = read_info_get_fragment(read_info, read_ptr);
  }
  oriented_id_t node = fragment_graph_get_fragment_node(graph, fragment);
  oriented_id_t result = kNone;
  for (int64_t steps = 0; node != kNone && steps <= graph->node_count; steps++) {
    const oriented_id_t c = contig_info_get_node_contig(info, node);
    if (c == kNone || (result != kNone && c != result)) return kNone;
    result = c;
    node = fragment_graph_get_other_node(graph, node);
  }
  return result;
}

void reference_score_print_contig_order(const fragment_graph_t *graph, const read_table_t *table,
                                        const contig_info_t *info) {
  const read_pair_info_t *pairs = table->read_pair_info;
  if (pairs == nullptr) return;
  for (uint64_t k = 0; k < pairs->count; k++) {
    const read_pair_t *pair = &pairs->by_end1[k];
    const oriented_id_t f = reference_score_contig_of_read(graph, info, table->read_info,
                                                           read_pair_info_get_fragment1(pairs, pair),
                                                           read_pair_info_get_read_ptr1(pairs, pair));
    oriented_id_t h = reference_score_contig_of_read(graph, info, table->read_info,
                                                     read_pair_info_get_fragment2(pairs, pair),
                                                     read_pair_info_get_read_ptr2(pairs, pair));
    if (h != kNone) h = contig_info_reverse_contig(h);
    if (f == kNone || h == kNone || f == h) continue;
    oriented_id_t first = f, second = h;
    if (contig_info_get_contig_index(h) < contig_info_get_contig_index(f)) {
      first = contig_info_reverse_contig(h);
      second = contig_info_reverse_contig(f);
    }
    printf("# %8.8x < %8.8x\n", first, second);
    printf("# %8.8x < %8.8x\n", contig_info_reverse_contig(second), contig_info_reverse_contig(first));
  }
  printf("\n");
}

void reference_score_print_matrix(const int32_t *matrix, int32_t rows, int32_t columns) {
  for (int32_t r = 0; r < rows; r++) {
    printf("%i: ", r);
    for (int32_t c = 0; c < columns; c++) printf("%4i ", matrix[static_cast<int64_t>(c) * rows + r]);
    printf("\n");
  }
}
