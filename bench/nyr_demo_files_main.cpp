// nyr_demo_files <reads per file> <output 1> [<output 2> ...]
// Writes nyr mapping files of any size, for trying and timing ryx_merge:
// every file maps its own read file against the same two reference contigs
// (5000 and 3000 bases, in "demo_ref.fa"), with one hit per matched read and
// every tenth read unmatched. Output i holds the reads of "demo_reads_<i>.fq".
// Positions come from a generator seeded with the file's number, so runs
// repeat.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/memory.h"
#include "common/random_state.h"
#include "common/string_util.h"
#include "seqio/nyr_file.h"

namespace {

constexpr uint32_t kContigLengths[] = {5000, 3000};
constexpr uint32_t kReadLength = 50;

seq_file_info_list_t *single_entry_list(const char *name, int64_t sequences, int64_t residues) {
  return seq_file_info_list_new_single(seq_file_info_new(string_duplicate(name), sequences, residues));
}

void write_demo_file(const char *path, int index, uint64_t reads) {
  nyr_file_t *file = nyr_file_new(2, kContigLengths, reads);
  file->program_name = string_duplicate("nyr_demo_files");
  file->program_version = string_duplicate("1");
  file->command_line = string_duplicate(("nyr_demo_files " + std::to_string(index)).c_str());
  file->reference_files = single_entry_list("demo_ref.fa", 2, kContigLengths[0] + kContigLengths[1]);
  const std::string read_name = "demo_reads_" + std::to_string(index) + ".fq";
  file->read_files = single_entry_list(read_name.c_str(), static_cast<int64_t>(reads),
                                       static_cast<int64_t>(reads * kReadLength));
  file->scheme = nyr_scoring_scheme_new(5, 2, 5, 2, 1, -3, -3, -3, 0);

  RandomState *random = random_state_new_seeded(static_cast<uint32_t>(index));
  for (uint64_t r = 0; r < reads; r++) {
    if (r % 10 == 9) continue;  // unmatched
    const uint32_t contig = random_state_draw_ranged32(random, 2);
    const uint32_t position = random_state_draw_ranged32(random, kContigLengths[contig] - kReadLength);
    auto *code = static_cast<uint8_t *>(ryx_malloc(1));
    code[0] = kReadLength - 1;  // one run of kReadLength aligned columns
    nyr_file_set_match(file, static_cast<int64_t>(r),
                       nyr_match_new_counted(nullptr, contig, position, random_state_draw_u8(random) & 1, 1, 1, code));
  }
  random_state_free(random);
  nyr_file_write(path, file);
  nyr_file_free(file);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: nyr_demo_files <reads per file> <output 1> [<output 2> ...]\n");
    return 1;
  }
  const uint64_t reads = strtoull(argv[1], nullptr, 10);
  for (int i = 2; i < argc; i++) write_demo_file(argv[i], i - 1, reads);
  return 0;
}
