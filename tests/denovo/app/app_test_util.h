// Helpers for the contig output and report tests: a hand-built fragment
// graph over fragments given as letters, its contig info, and the contig
// writer run into memory (on any graph).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "denovo/app/contig_output.h"
#include "tests/denovo/graph/graph_test_util.h"

namespace app_test {

using graph_test::R;

// The whole contents of an open temporary file.
inline std::string contents(FILE *f) {
  fflush(f);
  rewind(f);
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0) out.append(buffer, n);
  return out;
}

struct Output {
  std::string fasta;
  std::string features;
  std::string trace;  // standard output
};

// Runs the contig writer into memory: the FASTA text, the features (only
// when asked for) and what it printed on standard output.
inline Output write_contigs(fragment_graph_t *graph, read_table_t *table, contig_info_t *info, int32_t min_length,
                            int32_t mode = kContigFeaturesGff, bool with_features = false,
                            gap_sequence_map_t *gaps = nullptr, int32_t show = 0) {
  FILE *fasta = tmpfile();
  FILE *features = with_features ? tmpfile() : nullptr;
  testing::internal::CaptureStdout();
  contig_output_write(fasta, features, mode, graph, table, info, min_length, nullptr, show, gaps);
  Output out;
  out.trace = testing::internal::GetCapturedStdout();
  out.fasta = contents(fasta);
  fclose(fasta);
  if (features != nullptr) {
    out.features = contents(features);
    fclose(features);
  }
  return out;
}

// Fragments, graph (word size 21) and, once built, the contig info. The
// read table holds only the end-info list, which is all the writer reads.
struct GraphFixture : graph_test::HandGraph {
  contig_info_t *info = nullptr;
  read_table_t table{};

  GraphFixture(const std::vector<std::string> &letters, const std::vector<graph_test::Edge> &edges)
      : HandGraph(graph_test::fragments_of_letters(letters), edges) {}
  ~GraphFixture() {
    contig_info_free(info);
    end_info_free(table.end_info);
  }

  contig_info_t *contigs() {
    if (info == nullptr) info = contig_info_build(graph, 1, 1);
    return info;
  }
  // Read tails with M = k = word_size, each given as codes from the
  // fragment end's last M positions on.
  void tails(int32_t word_size, const std::vector<std::pair<oriented_id_t, std::string>> &records) {
    table.end_info = end_info_new(word_size, word_size);
    for (const auto &[id, letters] : records) {
      std::vector<uint8_t> codes;
      for (char c : letters) codes.push_back(static_cast<uint8_t>(c == '-' ? 255 : std::string("ACGTN").find(c)));
      end_info_add(table.end_info, id, codes.data(), static_cast<int32_t>(codes.size()));
    }
    end_info_sort(table.end_info);
  }
  Output write(int32_t min_length, int32_t mode = kContigFeaturesGff, bool with_features = false,
               gap_sequence_map_t *gaps = nullptr, int32_t show = 0) {
    return write_contigs(graph, &table, contigs(), min_length, mode, with_features, gaps, show);
  }
};

// FASTA text of one record with 60 letters per line.
inline std::string fasta_record(const std::string &name, const std::string &letters) {
  std::string out = ">" + name + "\n";
  for (size_t i = 0; i < letters.size(); i += 60) out += letters.substr(i, 60) + "\n";
  return out;
}

}  // namespace app_test
