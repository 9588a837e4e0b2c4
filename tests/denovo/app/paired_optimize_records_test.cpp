// Records of the paired stage: routing of results by kind, the job's
// lifetime, the short-library flag, path copies and the diagnostic prints.
#include "denovo/app/paired_optimize_records.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/denovo/app/app_test_util.h"
#include "tests/denovo/app/paired_test_util.h"

namespace {

using paired_test::Library;
using paired_test::PairedFixture;
using graph_test::rev;

TEST(PairedRecords, KindSelectsList) {
  struct Case {
    int32_t kind;
    int list;
  };
  const Case cases[] = {{1, 0}, {3, 0}, {2, 1}, {4, 1}, {6, 1}, {8, 2}, {0, -1}, {16, -1}, {32, -1}};
  for (const Case &c : cases) EXPECT_EQ(paired_result_list_index(c.kind), c.list) << "kind " << c.kind;
}

TEST(PairedRecords, BuildersFillTheirFields) {
  paired_optimize_result_t *r = paired_result_new_edge_removal(7, rev(3), 9);
  EXPECT_EQ(r->kind, 1);
  EXPECT_EQ(r->removal.edge, 7u);
  EXPECT_EQ(r->removal.node, rev(3));
  EXPECT_EQ(r->removal.target, 9u);
  paired_result_free(r);
  r = paired_result_new_scaffold_link(5, rev(6), -40);
  EXPECT_EQ(r->kind, 6);
  EXPECT_EQ(r->link.from, 5u);
  EXPECT_EQ(r->link.to, rev(6));
  EXPECT_EQ(r->link.gap, -40);
  paired_result_free(r);
  r = paired_result_new(4, 1, 2, 3);
  EXPECT_EQ(r->kind, 4);
  EXPECT_EQ(r->link.gap, 3);
  paired_result_free(r);
  const paired_optimize_result_t key = paired_result_search_key(1, 2, 3);
  EXPECT_EQ(key.kind, 2);
  EXPECT_EQ(key.link.to, 2u);
}

// A job over a two-node graph: results of every kind are routed, a kind no
// list takes is dropped (and freed: the sanitizer build reports a leak
// otherwise), and freeing the job frees every result with its node path.
TEST(PairedRecords, JobRoutesResultsAndOwnsThem) {
  PairedFixture f({100, 100}, {{0, 1, 5}});
  const Library lib{180, 250};
  f.libraries({&lib});
  f.paths({});
  paired_optimize_job_t *job = paired_optimize_job_new(f.graph, &f.table, 50, 1);
  ASSERT_NE(job->context, nullptr);
  EXPECT_EQ(job->context->graph, f.graph);
  EXPECT_EQ(job->context->table, &f.table);
  ASSERT_NE(job->context->contigs, nullptr);
  EXPECT_EQ(contig_info_get_contig_count(job->context->contigs), 1);
  EXPECT_EQ(job->short_library, 1);
  EXPECT_EQ(job->bubble_size, 50);
  EXPECT_EQ(job->scaffolding, 1);

  contig_path_t *path = contig_path_new(3, 120, nullptr);
  path->ids[0] = 0;
  path->ids[1] = 1;
  path->ids[2] = rev(0);
  EXPECT_EQ(paired_optimize_job_add_result(job, paired_result_new_edge_removal(0, 0, 1)), 1);
  EXPECT_EQ(paired_optimize_job_add_result(job, paired_result_new_scaffold_link(0, 1, 10)), 1);
  EXPECT_EQ(paired_optimize_job_add_result(job, paired_result_new(4, 0, 1, 12)), 1);
  EXPECT_EQ(paired_optimize_job_add_result(job, paired_result_new_contig_path(path)), 1);
  EXPECT_EQ(paired_optimize_job_add_result(job, paired_result_new(16, 0, 1, 2)), 0);
  EXPECT_EQ(array_list_get_count(job->edge_removals), 1u);
  EXPECT_EQ(array_list_get_count(job->scaffold_links), 2u);
  ASSERT_EQ(array_list_get_count(job->contig_paths), 1u);
  const auto *stored = *static_cast<paired_optimize_result_t **>(array_list_get_item(job->contig_paths, 0));
  EXPECT_EQ(stored->path, path);
  const auto *link4 = *static_cast<paired_optimize_result_t **>(array_list_get_item(job->scaffold_links, 1));
  EXPECT_EQ(link4->kind, 4);
  EXPECT_EQ(paired_optimize_job_free(job), nullptr);
}

TEST(PairedRecords, ContextHandsOutItsContigInfo) {
  PairedFixture f({100}, {});
  paired_context_t *c = paired_context_new(f.graph, &f.table, contig_info_build(f.graph, 1, 1));
  contig_info_t *info = paired_context_take_contig_info(c);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(c->contigs, nullptr);
  paired_context_free(c);
  EXPECT_EQ(contig_info_get_contig_count(info), 1);
  contig_info_free(info);
}

// Short when min + max <= 2001 for some file that has a histogram.
TEST(PairedRecords, ShortLibraryFlag) {
  const Library short_lib{180, 250}, edge_lib{1000, 1001}, long_lib{1000, 1002}, mate_lib{2000, 4000};
  struct Case {
    std::vector<const Library *> files;
    int32_t flag;
  };
  const Case cases[] = {
      {{&short_lib}, 1}, {{&edge_lib}, 1},          {{&long_lib}, 0},           {{&mate_lib, &edge_lib}, 1},
      {{&mate_lib}, 0},  {{nullptr, &long_lib}, 0}, {{nullptr, &short_lib}, 1}, {{nullptr}, 0},
  };
  for (const Case &c : cases) {
    PairedFixture f({50}, {});
    f.libraries(c.files);
    EXPECT_EQ(paired_short_library(&f.table), c.flag) << "files " << c.files.size();
  }
  // A file without a histogram does not count, whatever its setting.
  PairedFixture f({50}, {});
  f.libraries({&short_lib});
  pair_dist_info_free(f.table.pair_dist_info[0]);
  f.table.pair_dist_info[0] = nullptr;
  EXPECT_EQ(paired_short_library(&f.table), 0);
}

TEST(PairedRecords, PathCopyIsIndependent) {
  paired_link_t link{};
  contig_path_t *p = contig_path_new_first(rev(4), 33, &link);
  contig_path_t *q = contig_path_copy(p);
  q->ids[0] = 9;
  EXPECT_EQ(p->ids[0], rev(4));
  EXPECT_EQ(q->count, 1);
  EXPECT_EQ(q->distance, 33);
  EXPECT_EQ(q->link, &link);
  EXPECT_EQ(contig_path_copy(nullptr), nullptr);
  contig_path_free(p);
  contig_path_free(q);
}

TEST(PairedRecords, PrintsPathsAndSets) {
  contig_path_t *p = contig_path_new(3, -12, nullptr);
  p->ids[0] = 0x1;
  p->ids[1] = rev(0x2a);
  p->ids[2] = 0x7ffffffe;
  contig_path_t *q = contig_path_new_first(0x10, 7, nullptr);
  contig_path_t *set[] = {p, q};
  FILE *out = tmpfile();
  contig_path_print(out, p);
  contig_path_print_set(out, set, 2, 1);
  contig_path_print_set(out, set, 2, 0);
  contig_path_print_set(out, nullptr, 0, 1);
  EXPECT_EQ(app_test::contents(out),
            "00000001 -> 8000002a -> 7ffffffe (-12)\n"
            "Contig path 0000: 00000001 -> 8000002a -> 7ffffffe (-12)\n"
            "Contig path 0001: 00000010 (7)\n"
            "Path 0000: 00000001 -> 8000002a -> 7ffffffe (-12)\n"
            "Path 0001: 00000010 (7)\n"
            "(NULL)\n");
  fclose(out);
  contig_path_free(p);
  contig_path_free(q);
}

}  // namespace
