#include "denovo/graph/denovo_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/output_file.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"

namespace {

constexpr char kMagic[4] = {'.', 'f', 'o', 'f'};
constexpr uint8_t kFragmentBase = 63;
// Follows the first fragment's name in a kind-0 file, with the word size.
constexpr char kWordSizeTag[] = " word_size=";

[[noreturn]] void fail(const char *format, const char *path) {
  fprintf(stderr, format, path);
  ryx_exit(1);
}

[[noreturn]] void damaged(const char *path, const char *reason) {
  fprintf(stderr, "Error, de novo file %s is damaged: %s\n", path, reason);
  ryx_exit(1);
}

uint64_t le_u64(const uint8_t *p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; i--) v = v << 8 | p[i];
  return v;
}

uint32_t le_u32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Checks the container header against the file and the asked kind; returns
// the end of the fragment section.
int64_t check_header(FILE *file, const char *path, int32_t kind) {
  uint8_t header[kDenovoFileHeaderSize];
  const size_t got = large_file_read(header, sizeof(header), file);
  if (got < 5 || memcmp(header, kMagic, 4) != 0 || header[4] != 0) fail("Error, %s is not a de novo stage file\n", path);
  if (got < sizeof(header)) damaged(path, "the header is cut short");
  const uint64_t offset = le_u64(header + 5);
  const uint64_t length = le_u64(header + 13);
  const auto stored = static_cast<int32_t>(le_u32(header + 21));
  if (stored != kind) {
    fprintf(stderr, "Error, de novo file version is %d, expected version %d\n", stored, kind);
    ryx_exit(1);
  }
  if (offset != static_cast<uint64_t>(kDenovoFileHeaderSize)) damaged(path, "the fragments do not start at offset 25");
  const int64_t left = large_file_bytes_left(file);
  if (left < 0) damaged(path, "it is not a regular file");
  if (length > static_cast<uint64_t>(left)) damaged(path, "the fragment section runs past the end of the file");
  return kDenovoFileHeaderSize + static_cast<int64_t>(length);
}

// Writes the fragments as FASTA of letters; a word size of at least 1 is
// recorded after the first fragment's name.
void write_fasta(FILE *file, seq_db_t *fragments, int32_t word_size) {
  for (int64_t i = 0; i < fragments->sequence_count; i++) {
    seq_record_t *record = fragments->get(fragments, i);
    // A copy, so that a database that hands out its own records keeps them.
    seq_record_t *letters = seq_record_copy(record);
    for (uint32_t j = 0; j < letters->length; j++) {
      letters->residues[j] = static_cast<uint8_t>("ACGT"[(letters->residues[j] - kFragmentBase) & 3]);
    }
    std::string name = record->name != nullptr ? record->name : "seq";
    // A name already tagged (fragments loaded from a kind-0 file) is
    // tagged again with this run's size only.
    const size_t tagged = name.find(kWordSizeTag);
    if (i == 0 && word_size >= 1) {
      if (tagged != std::string::npos) name.erase(tagged);
      name += kWordSizeTag + std::to_string(word_size);
    }
    letters->name = name.data();
    seq_record_write_fasta(file, letters);
    letters->name = nullptr;
    seq_record_free(letters);
    seq_db_release_fetched(fragments, record);
  }
}

// Saves a stage file; see denovo_file_write_with_word_size.
int32_t write_stage(const char *path, int32_t kind, int32_t word_size, seq_db_t *fragments, read_table_t *table,
                    const fragment_graph_t *graph, const gap_sequence_map_t *gaps) {
  if (kind < 0 || kind > kDenovoFileMaxKind) {
    fprintf(stderr, "Error, unknown de novo file format\n");
    ryx_exit(1);
  }
  output_file_t *output = output_file_open(path);
  if (output == nullptr) fail("Unable to open file %s\n", path);
  FILE *file = output->file;
  if (kind == 0) {
    write_fasta(file, fragments, word_size);
  } else {
    denovo_file_write_fragments(file, path, kind, fragments);
    read_table_write(file, table);
    if (kind >= 2) fragment_graph_write(file, graph);
    if (kind == 4) gap_sequence_map_write(file, gaps);
  }
  // The commit flushes, checks every write through the stream's error flag
  // and the close, and only then puts the file under its name.
  if (output_file_commit(output) != 0) fail("Unable to write file %s\n", path);
  return 1;
}

}  // namespace

extern "C" {

void denovo_file_write_fasta(FILE *file, seq_db_t *fragments) { write_fasta(file, fragments, -1); }

void denovo_file_write_fragments(FILE *file, const char *path, int32_t kind, seq_db_t *fragments) {
  // A placeholder of the header's size; the real header follows once the
  // section's length is known.
  fputs(".fof012345678123456781234", file);
  for (int64_t i = 0; i < fragments->sequence_count; i++) {
    seq_record_t *record = fragments->get(fragments, i);
    seq_record_write_fasta(file, record);
    seq_db_release_fetched(fragments, record);
  }
  if (!large_file_seek(file, 0, SEEK_END)) fail("Unable to write file %s\n", path);
  const int64_t end = large_file_tell(file);
  if (end < kDenovoFileHeaderSize || !large_file_seek(file, 4, SEEK_SET)) fail("Unable to write file %s\n", path);
  bin_file_write_u8(file, 0);
  bin_file_write_u64(file, static_cast<uint64_t>(kDenovoFileHeaderSize));
  bin_file_write_u64(file, static_cast<uint64_t>(end - kDenovoFileHeaderSize));
  bin_file_write_u32(file, static_cast<uint32_t>(kind));
  if (!large_file_seek(file, 0, SEEK_END)) fail("Unable to write file %s\n", path);
}

int32_t denovo_file_write(const char *path, int32_t kind, seq_db_t *fragments, read_table_t *table,
                          const fragment_graph_t *graph, const gap_sequence_map_t *gaps) {
  return write_stage(path, kind, -1, fragments, table, graph, gaps);
}

int32_t denovo_file_write_with_word_size(const char *path, int32_t kind, int32_t word_size, seq_db_t *fragments,
                                         read_table_t *table, const fragment_graph_t *graph,
                                         const gap_sequence_map_t *gaps) {
  return write_stage(path, kind, word_size, fragments, table, graph, gaps);
}

int32_t denovo_file_word_size(int32_t kind, seq_db_t *fragments, const read_table_t *table,
                              const fragment_graph_t *graph) {
  if (kind >= 2 && graph != nullptr) return graph->word_size;
  if (kind == 1 && table != nullptr && table->end_info != nullptr) return table->end_info->word_size;
  if (kind != 0 || fragments == nullptr || fragments->sequence_count == 0) return -1;
  seq_record_t *first = fragments->get(fragments, 0);
  const char *tag = first->name != nullptr ? strstr(first->name, kWordSizeTag) : nullptr;
  int32_t word_size = -1;
  if (tag != nullptr) {
    char *end = nullptr;
    const long value = strtol(tag + strlen(kWordSizeTag), &end, 10);
    if (*end == '\0' && value >= 1 && value <= 64) word_size = static_cast<int32_t>(value);
  }
  seq_db_release_fetched(fragments, first);
  return word_size;
}

int32_t denovo_file_read(const char *path, int32_t kind, seq_db_t **fragments, read_table_t **table,
                         paired_setting_t *const *pair_par_array, int32_t file_count, fragment_graph_t **graph,
                         gap_sequence_map_t **gaps) {
  if (kind == 0) {
    *fragments = seq_db_open(path, 5, kSeqFormatFasta, 1, 0);
    if (*fragments == nullptr) {
      fprintf(stderr, "ERROR: Could not create the fragment database.\n");
      ryx_exit(1);
    }
    return 1;
  }
  if (kind < 0 || kind > kDenovoFileMaxKind) return 1;
  FILE *file = fopen(path, "rb");
  if (file == nullptr) fail("Unable to open file %s\n", path);
  const int64_t pieces = check_header(file, path, kind);
  const std::string context = std::string("De novo file ") + path + " is damaged.\n";
  ryx_exit_set_context(context.c_str());
  seq_db_t *db = seq_db_open(path, 0, kSeqMaskStageFiles, 1, 0);
  if (db == nullptr) {
    ryx_exit_set_context(nullptr);
    fprintf(stderr, "ERROR: Could not create the fragment database.\n");
    ryx_exit(1);
  }
  if (db->sequence_count > 0x7fffffff) damaged(path, "it holds more fragments than a graph can carry");
  if (!large_file_seek(file, pieces, SEEK_SET)) damaged(path, "the pieces cannot be reached");
  read_table_t *loaded_table =
      read_table_read(file, static_cast<uint32_t>(db->sequence_count), pair_par_array, file_count);
  fragment_graph_t *loaded_graph = kind >= 2 ? fragment_graph_read(file, db) : nullptr;
  gap_sequence_map_t *loaded_gaps = kind == 4 ? gap_sequence_map_read(file) : nullptr;
  gap_sequence_map_check_edges(loaded_gaps, loaded_graph != nullptr ? loaded_graph->edge_count : 0);
  if (fgetc(file) != EOF) damaged(path, "bytes follow its last piece");
  ryx_exit_set_context(nullptr);
  fclose(file);
  *fragments = db;
  *table = loaded_table;
  if (kind >= 2) *graph = loaded_graph;
  if (kind == 4) *gaps = loaded_gaps;
  return 1;
}

}  // extern "C"
