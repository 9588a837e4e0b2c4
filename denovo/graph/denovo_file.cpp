#include "denovo/graph/denovo_file.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/bin_codec.h"
#include "common/large_file.h"
#include "common/memory.h"
#include "common/ryx_exit.h"
#include "seqio/seq_db_memory.h"
#include "seqio/seq_format.h"
#include "seqio/seq_record.h"
#include "seqio/seq_write.h"

namespace {

constexpr char kMagic[4] = {'.', 'f', 'o', 'f'};
constexpr uint8_t kFragmentBase = 63;
// Where the header fields of the stage file itself lie.
constexpr long kKindAt = 21;
constexpr long kVersionAt = 25;
constexpr long kFileLengthAt = 29;
// The fragments of a version-0 container began right after its kind.
constexpr uint64_t kVersion0FragmentOffset = 25;
// The tag after the first fragment's name in a kind-0 file; the word size
// is its last field and may be missing.
constexpr char kVersionTag[] = " stage_version=";
constexpr char kWordSizeTag[] = " word_size=";
// Bytes read at a time for a checksum.
constexpr size_t kChecksumBlock = 1 << 20;

[[noreturn]] void fail(const char *format, const char *path) {
  fprintf(stderr, format, path);
  ryx_exit(1);
}

[[noreturn]] void damaged(const char *path, const char *reason) {
  ryx_exit_set_context(nullptr);
  fprintf(stderr, "Error, de novo file %s is damaged: %s\n", path, reason);
  ryx_exit(1);
}

[[noreturn]] void wrong_version(int64_t stored, int64_t expected) {
  ryx_exit_set_context(nullptr);
  fprintf(stderr, "Error, de novo file version is %lld, expected version %lld\n", static_cast<long long>(stored),
          static_cast<long long>(expected));
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

uLong crc_add(uLong crc, const void *bytes, size_t n) {
  const auto *p = static_cast<const Bytef *>(bytes);
  while (n > 0) {
    const auto piece = static_cast<uInt>(n < kChecksumBlock ? n : kChecksumBlock);
    crc = crc32(crc, p, piece);
    p += piece;
    n -= piece;
  }
  return crc;
}

// ---------------------------------------------------------------- kind 0

// A fragment's name without the tag a kind-0 file puts after the first one
// (also the word-size tag alone of a version-0 file).
std::string plain_name(const seq_record_t *record) {
  std::string name = record->name != nullptr ? record->name : "seq";
  for (const char *tag : {kVersionTag, kWordSizeTag}) {
    const size_t at = name.find(tag);
    if (at != std::string::npos) name.erase(at);
  }
  return name;
}

// The letters of stored residues 63 to 66.
void to_letters(const seq_record_t *record, std::string *letters) {
  letters->resize(record->length);
  for (uint32_t j = 0; j < record->length; j++) {
    (*letters)[j] = "ACGT"[(record->residues[j] - kFragmentBase) & 3];
  }
}

uLong crc_of_fragment(uLong crc, const std::string &name, const std::string &letters) {
  crc = crc_add(crc, name.data(), name.size());
  crc = crc_add(crc, "\n", 1);
  crc = crc_add(crc, letters.data(), letters.size());
  return crc_add(crc, "\n", 1);
}

struct fasta_summary_t {
  int64_t count;
  int64_t bases;
  uint32_t crc;
};

// Writes the fragments as FASTA of letters; with tag, the first name is
// followed by the stage-file tag (and the word size when at least 1).
void write_fasta(FILE *file, seq_db_t *fragments, bool tag, int32_t word_size) {
  fasta_summary_t summary = {fragments->sequence_count, 0, 0};
  std::string letters;
  if (tag) {
    // The tag comes first in the file, so the fragments are read once for
    // it before they are written.
    uLong crc = crc32(0, Z_NULL, 0);
    for (int64_t i = 0; i < fragments->sequence_count; i++) {
      seq_record_t *record = fragments->get(fragments, i);
      to_letters(record, &letters);
      crc = crc_of_fragment(crc, plain_name(record), letters);
      summary.bases += record->length;
      seq_db_release_fetched(fragments, record);
    }
    summary.crc = static_cast<uint32_t>(crc);
  }
  for (int64_t i = 0; i < fragments->sequence_count; i++) {
    seq_record_t *record = fragments->get(fragments, i);
    // A copy, so that a database that hands out its own records keeps them.
    seq_record_t *copy = seq_record_copy(record);
    for (uint32_t j = 0; j < copy->length; j++) {
      copy->residues[j] = static_cast<uint8_t>("ACGT"[(copy->residues[j] - kFragmentBase) & 3]);
    }
    std::string name = plain_name(record);
    if (i == 0 && tag) {
      char text[160];
      snprintf(text, sizeof(text), "%s%u fragments=%lld bases=%lld crc32=%08x", kVersionTag, kDenovoFileVersion,
               static_cast<long long>(summary.count), static_cast<long long>(summary.bases), summary.crc);
      name += text;
      if (word_size >= 1) name += kWordSizeTag + std::to_string(word_size);
    }
    copy->name = name.data();
    seq_record_write_fasta(file, copy);
    copy->name = nullptr;
    seq_record_free(copy);
    seq_db_release_fetched(fragments, record);
  }
}

// The fields of the tag after a kind-0 file's first name.
struct fasta_tag_t {
  unsigned version;
  long long count;
  long long bases;
  unsigned crc;
};

// Reads the tag of a first name. Returns 1 when it is a whole tag, 0 when
// the name carries no tag of this layout but only what version 0 wrote
// (nothing, or the word size alone), -1 when it is damaged.
int parse_tag(const char *name, fasta_tag_t *tag) {
  const char *at = strstr(name, kVersionTag);
  if (at == nullptr) {
    const char *space = strchr(name, ' ');
    if (space == nullptr) return 0;
    char *end = nullptr;
    if (strncmp(space, kWordSizeTag, strlen(kWordSizeTag)) != 0) return -1;
    strtol(space + strlen(kWordSizeTag), &end, 10);
    return *end == '\0' ? 0 : -1;
  }
  int used = 0;
  if (sscanf(at, " stage_version=%u fragments=%lld bases=%lld crc32=%8x%n", &tag->version, &tag->count,
             &tag->bases, &tag->crc, &used) != 4) {
    return -1;
  }
  const char *rest = at + used;
  if (*rest == '\0') return 1;
  if (strncmp(rest, kWordSizeTag, strlen(kWordSizeTag)) != 0) return -1;
  char *end = nullptr;
  const long word_size = strtol(rest + strlen(kWordSizeTag), &end, 10);
  return *end == '\0' && word_size >= 1 ? 1 : -1;
}

// Checks a loaded kind-0 file against the tag after its first name: the
// version, the fragment count, the bases and the checksum.
void check_fasta(const char *path, seq_db_t *db) {
  if (db->sequence_count == 0) damaged(path, "it holds no fragment");
  seq_record_t *first = db->get(db, 0);
  fasta_tag_t tag{};
  const int parsed = parse_tag(first->name != nullptr ? first->name : "", &tag);
  seq_db_release_fetched(db, first);
  if (parsed == 0) wrong_version(0, kDenovoFileVersion);
  if (parsed < 0) damaged(path, "the tag after its first name is not whole");
  if (tag.version != kDenovoFileVersion) wrong_version(tag.version, kDenovoFileVersion);
  if (tag.count != db->sequence_count) damaged(path, "it does not hold as many fragments as its first line says");
  long long bases = 0;
  for (int64_t i = 0; i < db->sequence_count; i++) bases += db->get_length(db, i);
  if (bases != tag.bases) damaged(path, "its fragments do not hold as many bases as its first line says");
  uLong crc = crc32(0, Z_NULL, 0);
  std::string letters;
  for (int64_t i = 0; i < db->sequence_count; i++) {
    seq_record_t *record = db->get(db, i);
    for (uint32_t j = 0; j < record->length; j++) {
      // Anything but an upper-case A, C, G or T was read as 0.
      if (record->residues[j] < kFragmentBase || record->residues[j] > kFragmentBase + 3) {
        damaged(path, "a fragment holds a letter other than A, C, G or T");
      }
    }
    to_letters(record, &letters);
    crc = crc_of_fragment(crc, plain_name(record), letters);
    seq_db_release_fetched(db, record);
  }
  if (static_cast<uint32_t>(crc) != tag.crc) damaged(path, "its checksum does not match its content");
}

// ---------------------------------------------------------------- containers

// Fills in the file length and appends the checksum of everything written.
// The bytes are read back through the descriptor, which the temporary file
// of an output holds open for reading and writing.
void finish_container(FILE *file, const char *path) {
  if (!large_file_seek(file, 0, SEEK_END)) fail("Unable to write file %s\n", path);
  const int64_t end = large_file_tell(file);
  if (end < kDenovoFileHeaderSize || !large_file_seek(file, kFileLengthAt, SEEK_SET)) {
    fail("Unable to write file %s\n", path);
  }
  bin_file_write_u64(file, static_cast<uint64_t>(end + kDenovoFileTrailerSize));
  if (fflush(file) != 0) fail("Unable to write file %s\n", path);
  const int fd = fileno(file);
  auto *buffer = static_cast<uint8_t *>(ryx_malloc(kChecksumBlock));
  uLong crc = crc32(0, Z_NULL, 0);
  for (int64_t at = 0; at < end;) {
    const size_t want = static_cast<size_t>(end - at < static_cast<int64_t>(kChecksumBlock) ? end - at
                                                                                           : kChecksumBlock);
    const ssize_t got = pread(fd, buffer, want, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ryx_free(buffer);
      fail("Unable to write file %s\n", path);
    }
    crc = crc_add(crc, buffer, static_cast<size_t>(got));
    at += got;
  }
  ryx_free(buffer);
  if (!large_file_seek(file, 0, SEEK_END)) fail("Unable to write file %s\n", path);
  bin_file_write_u32(file, static_cast<uint32_t>(crc));
}

// Checks a container against the asked kind before any piece is read: the
// header, the file's length and its checksum. Returns the offset where the
// pieces start; *pieces_end receives where the trailer starts.
int64_t check_container(FILE *file, const char *path, int32_t kind, int64_t *pieces_end) {
  uint8_t header[kDenovoFileHeaderSize];
  const size_t got = large_file_read(header, sizeof(header), file);
  if (got < 5 && memcmp(header, kMagic, got) == 0) damaged(path, "the header is cut short");
  if (got < 5 || memcmp(header, kMagic, 4) != 0 || header[4] != 0) fail("Error, %s is not a de novo stage file\n", path);
  uint32_t version = 0;
  if (got >= 13 && le_u64(header + 5) == kVersion0FragmentOffset) {
    version = 0;
  } else if (got >= static_cast<size_t>(kVersionAt) + 4) {
    version = le_u32(header + kVersionAt);
  } else {
    damaged(path, "the header is cut short");
  }
  if (version != kDenovoFileVersion) wrong_version(version, kDenovoFileVersion);
  if (got < sizeof(header)) damaged(path, "the header is cut short");

  struct stat st;
  if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) fail("Error, de novo file %s is not a regular file\n", path);
  const uint64_t length = le_u64(header + kFileLengthAt);
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size < length) damaged(path, "it is cut short");
  if (size > length) damaged(path, "bytes follow its last piece");
  if (length < static_cast<uint64_t>(kDenovoFileHeaderSize + kDenovoFileTrailerSize)) {
    damaged(path, "its length is smaller than its header");
  }

  const int64_t content = static_cast<int64_t>(length) - kDenovoFileTrailerSize;
  if (!large_file_seek(file, 0, SEEK_SET)) damaged(path, "it cannot be read");
  auto *buffer = static_cast<uint8_t *>(ryx_malloc(kChecksumBlock));
  uLong crc = crc32(0, Z_NULL, 0);
  for (int64_t at = 0; at < content;) {
    const size_t want = static_cast<size_t>(content - at < static_cast<int64_t>(kChecksumBlock) ? content - at
                                                                                               : kChecksumBlock);
    const size_t n = large_file_read(buffer, want, file);
    if (n != want) {
      ryx_free(buffer);
      damaged(path, "it is cut short");
    }
    crc = crc_add(crc, buffer, n);
    at += static_cast<int64_t>(n);
  }
  uint8_t trailer[kDenovoFileTrailerSize];
  const bool whole = large_file_read(trailer, sizeof(trailer), file) == sizeof(trailer);
  ryx_free(buffer);
  if (!whole) damaged(path, "it is cut short");
  if (le_u32(trailer) != static_cast<uint32_t>(crc)) damaged(path, "its checksum does not match its content");

  const auto stored = static_cast<int32_t>(le_u32(header + kKindAt));
  if (stored != kind) wrong_version(stored, kind);
  const uint64_t offset = le_u64(header + 5);
  const uint64_t section = le_u64(header + 13);
  if (offset != static_cast<uint64_t>(kDenovoFileHeaderSize)) {
    damaged(path, "the fragments do not start right after the header");
  }
  if (section > static_cast<uint64_t>(content - kDenovoFileHeaderSize)) {
    damaged(path, "the fragment section runs past the end of the file");
  }
  *pieces_end = content;
  return kDenovoFileHeaderSize + static_cast<int64_t>(section);
}

// An empty file (a save cut off at its start) is named as such rather than
// as a file of no known kind.
void check_not_empty(const char *path) {
  struct stat st;
  if (stat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) damaged(path, "it is empty");
}

// What a stored read table was made from against this run's read files:
// their count and which of them are paired. A difference is no damage but
// a resume from other reads or settings.
void check_read_files(const char *path, const read_table_t *table, paired_setting_t *const *pair_par_array,
                      int32_t file_count) {
  if (table == nullptr || file_count == -1) return;
  if (table->file_count != file_count) {
    fprintf(stderr,
            "Error, stage file %s was saved from other reads or settings: it holds %d read file%s, this run names "
            "%d\n",
            path, table->file_count, table->file_count == 1 ? "" : "s", file_count);
    ryx_exit(1);
  }
  for (int32_t i = 0; i < file_count; i++) {
    const bool stored = table->pair_dist_info[i] != nullptr;
    const bool given = pair_par_array != nullptr && pair_par_array[i] != nullptr;
    if (stored == given) continue;
    fprintf(stderr,
            "Error, stage file %s was saved from other reads or settings: read file %d is %s in it and %s on this "
            "command line\n",
            path, i + 1, stored ? "paired" : "not paired", given ? "paired" : "not paired");
    ryx_exit(1);
  }
}

// Saves a stage file into an output made for path.
int32_t write_stage(output_file_t *output, const char *path, int32_t kind, bool tag, int32_t word_size,
                    seq_db_t *fragments, read_table_t *table, const fragment_graph_t *graph,
                    const gap_sequence_map_t *gaps) {
  FILE *file = output->file;
  if (kind == 0) {
    write_fasta(file, fragments, tag, word_size);
  } else {
    denovo_file_write_fragments(file, path, kind, fragments);
    read_table_write(file, table);
    if (kind >= 2) fragment_graph_write(file, graph);
    if (kind == 4) gap_sequence_map_write(file, gaps);
    finish_container(file, path);
  }
  // The commit flushes, checks every write through the stream's error flag
  // and the close, and only then puts the file under its name.
  if (output_file_commit(output) != 0) fail("Unable to write file %s\n", path);
  return 1;
}

void check_kind(int32_t kind) {
  if (kind < 0 || kind > kDenovoFileMaxKind) {
    fprintf(stderr, "Error, unknown de novo file format\n");
    ryx_exit(1);
  }
}

}  // namespace

extern "C" {

void denovo_file_write_fasta(FILE *file, seq_db_t *fragments) { write_fasta(file, fragments, false, -1); }

void denovo_file_write_fragments(FILE *file, const char *path, int32_t kind, seq_db_t *fragments) {
  // A placeholder of the header's size; the real header follows once the
  // section's length is known.
  const uint8_t placeholder[kDenovoFileHeaderSize] = {'.', 'f', 'o', 'f'};
  if (large_file_write(placeholder, sizeof(placeholder), file) != sizeof(placeholder)) {
    fail("Unable to write file %s\n", path);
  }
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
  bin_file_write_u32(file, kDenovoFileVersion);
  bin_file_write_u64(file, 0);
  if (!large_file_seek(file, 0, SEEK_END)) fail("Unable to write file %s\n", path);
}

output_file_t *denovo_file_create(const char *path) {
  output_file_t *output = output_file_open(path);
  if (output == nullptr) fail("Unable to open file %s\n", path);
  return output;
}

int32_t denovo_file_write_output(output_file_t *output, const char *path, int32_t kind, int32_t word_size,
                                 seq_db_t *fragments, read_table_t *table, const fragment_graph_t *graph,
                                 const gap_sequence_map_t *gaps) {
  if (kind < 0 || kind > kDenovoFileMaxKind) {
    output_file_abandon(output);
    check_kind(kind);
  }
  return write_stage(output, path, kind, true, word_size, fragments, table, graph, gaps);
}

int32_t denovo_file_write(const char *path, int32_t kind, seq_db_t *fragments, read_table_t *table,
                          const fragment_graph_t *graph, const gap_sequence_map_t *gaps) {
  check_kind(kind);
  return write_stage(denovo_file_create(path), path, kind, true, -1, fragments, table, graph, gaps);
}

int32_t denovo_file_write_with_word_size(const char *path, int32_t kind, int32_t word_size, seq_db_t *fragments,
                                         read_table_t *table, const fragment_graph_t *graph,
                                         const gap_sequence_map_t *gaps) {
  check_kind(kind);
  return write_stage(denovo_file_create(path), path, kind, true, word_size, fragments, table, graph, gaps);
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
    check_not_empty(path);
    seq_db_t *db = seq_db_open(path, 5, kSeqFormatFasta, 1, 0);
    if (db == nullptr) {
      fprintf(stderr, "ERROR: Could not create the fragment database.\n");
      ryx_exit(1);
    }
    check_fasta(path, db);
    *fragments = db;
    return 1;
  }
  if (kind < 0 || kind > kDenovoFileMaxKind) return 1;
  check_not_empty(path);
  FILE *file = fopen(path, "rb");
  if (file == nullptr) fail("Unable to open file %s\n", path);
  int64_t pieces_end = 0;
  const int64_t pieces = check_container(file, path, kind, &pieces_end);
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
  // The stored read files are compared below, where a difference gets a
  // message of its own rather than the damaged-file line.
  read_table_t *loaded_table = read_table_read(file, static_cast<uint32_t>(db->sequence_count), nullptr, -1);
  fragment_graph_t *loaded_graph = kind >= 2 ? fragment_graph_read(file, db) : nullptr;
  gap_sequence_map_t *loaded_gaps = kind == 4 ? gap_sequence_map_read(file) : nullptr;
  gap_sequence_map_check_edges(loaded_gaps, loaded_graph != nullptr ? loaded_graph->edge_count : 0);
  if (large_file_tell(file) != pieces_end) damaged(path, "its pieces do not end where its checksum begins");
  ryx_exit_set_context(nullptr);
  fclose(file);
  check_read_files(path, loaded_table, pair_par_array, file_count);
  if (loaded_table != nullptr && file_count != -1) {
    for (int32_t i = 0; i < loaded_table->file_count; i++) {
      if (loaded_table->pair_dist_info[i] != nullptr) loaded_table->pair_dist_info[i]->setting = pair_par_array[i];
    }
  }
  *fragments = db;
  *table = loaded_table;
  if (kind >= 2) *graph = loaded_graph;
  if (kind == 4) *gaps = loaded_gaps;
  return 1;
}

}  // extern "C"
