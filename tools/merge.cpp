#include "tools/merge.h"

#include <cstring>
#include <iterator>

#include "common/arg_cursor.h"
#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "common/memory.h"
#include "common/output_file.h"
#include "common/ryx_exit.h"
#include "common/string_util.h"
#include "seqio/nyr_file.h"
#include "seqio/nyr_format.h"
#include "seqio/nyr_hit.h"
#include "tools/tool_usage.h"

namespace {

const char *const kUsageParagraphs[] = {
    "usage: ryx_merge <options> <input nyr file 1> <input nyr file 2> ...",
    "  Joins any number of mappings with identical reference files into one.",
    "Options:",
    "  -h / --help: Display this message.",
    "  -o <file> / --output <file>: Set the output nyr file (required).",
};

// Bytes copied per read and write.
constexpr size_t kCopyBufferSize = 65536;

bool same_text(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b;
  return strcmp(a, b) == 0;
}

// The first input's string when every input has the same one, else null.
char *agreed_string(nyr_file_t *const *headers, int32_t count, char *nyr_file_t::*field) {
  const char *first = headers[0]->*field;
  for (int32_t i = 1; i < count; i++)
    if (!same_text(first, headers[i]->*field)) return nullptr;
  return string_duplicate(first);
}

bool same_contig_lengths(const nyr_file_t *a, const nyr_file_t *b) {
  if (a->contig_count != b->contig_count) return false;
  for (uint32_t i = 0; i < a->contig_count; i++)
    if (a->contigs[i]->length != b->contigs[i]->length) return false;
  return true;
}

void check_layouts(nyr_file_t *const *headers, int32_t count, char *const *paths) {
  for (int32_t i = 0; i < count; i++) {
    // Version-0 records differ from those of versions 1 to 3, and the
    // joined file is always written as version 3.
    if (headers[i]->version == 0) {
      fprintf(stderr, "Assembly file %s is of version 0, whose records cannot be joined.\n", paths[i]);
      ryx_exit(1);
    }
    if (headers[i]->version != headers[0]->version)
      ryx_fail("File versions do not match, so join cannot be performed.\n");
    // Equal tables give every record the same field widths and keep every
    // contig index inside the joined table.
    if (!same_contig_lengths(headers[0], headers[i]))
      ryx_fail("Contig tables do not match, so join cannot be performed.\n");
  }
}

// Bytes of checked records gathered before they are copied.
constexpr int64_t kCheckedStretch = 1 << 20;

[[noreturn]] void damaged(const char *path, const char *what) {
  ryx_exit_set_context(nullptr);
  fprintf(stderr, "Assembly file %s is damaged: %s.\n", path, what);
  ryx_exit(65);
}

input_stream_t *open_at_records(const char *path, int64_t *size) {
  input_stream_t *in = input_stream_open(path, "rb");
  if (in == nullptr) ryx_fail("Problem opening assembly file\n");
  // Checks the header again and leaves the stream at byte 16.
  *size = nyr_file_get_records_size_stream(in);
  return in;
}

// Copies the record section of the input at path, whose header is given, to
// out. Every record is parsed on the way by the file's own record reader
// (from a second stream over the same file, so that the bytes copied are
// exactly those stored), and the records must fill the section exactly,
// one per read of the header: a damaged input never yields a joined file
// that reads back wrong. A failure names the input and ends with status 65
// (the reader's own message and status first where it gives up).
void copy_records(const char *path, const nyr_file_t *header, FILE *out) {
  int64_t size = 0;
  input_stream_t *check = open_at_records(path, &size);
  input_stream_t *copy = open_at_records(path, &size);
  const int64_t section_end = kNyrHeaderSize + size;
  const uint32_t position_limit = nyr_file_get_longest_contig(header);

  const int context_size = snprintf(nullptr, 0, "Assembly file %s is damaged.\n", path) + 1;
  char *context = static_cast<char *>(ryx_malloc(context_size));
  snprintf(context, context_size, "Assembly file %s is damaged.\n", path);
  ryx_exit_set_context(context);

  // The context names the input for the reader's failures only, not for
  // those of the copy and its writes.
  auto copy_to = [&](int64_t end, int64_t *copied) {
    ryx_exit_set_context(nullptr);
    merge_copy_bytes(copy, end - *copied, out, path);
    *copied = end;
    ryx_exit_set_context(context);
  };
  chunk_arena_t *arena = chunk_arena_new();
  int64_t copied = kNyrHeaderSize;
  for (uint64_t read = 0; read < header->read_count; read++) {
    if (input_stream_tell(check) >= section_end) damaged(path, "it holds fewer records than its header states");
    nyr_match_read_all(header->version, check, arena, header->contig_count, position_limit, nullptr, section_end);
    const int64_t at = input_stream_tell(check);
    if (at > section_end) damaged(path, "a record runs past the end of the record section");
    if (at - copied >= kCheckedStretch) {
      copy_to(at, &copied);
      // The parsed records are not kept: a fresh arena per stretch keeps
      // the memory at one stretch's worth.
      chunk_arena_free(arena);
      arena = chunk_arena_new();
    }
  }
  if (input_stream_tell(check) != section_end) damaged(path, "it holds more records than its header states");
  chunk_arena_free(arena);
  copy_to(section_end, &copied);
  ryx_exit_set_context(nullptr);
  ryx_free(context);
  if (input_stream_close(check) != 0 || input_stream_close(copy) != 0) ryx_fail("Problem closing assembly file\n");
}

}  // namespace

void merge_print_usage() {
  tool_usage_print(kUsageParagraphs, std::size(kUsageParagraphs), "ryx_assembly_version");
}

void merge_parse_command_line(int argc, char **argv, merge_options_t *options) {
  memset(options, 0, sizeof *options);
  arg_cursor_t *cursor = arg_cursor_new(argc, argv);
  char *word;
  while ((word = arg_cursor_next_option(cursor)) != nullptr) {
    if (tool_usage_option_is(word, "-h", "--help")) {
      merge_print_usage();
    } else if (tool_usage_option_is(word, "-o", "--output")) {
      if (options->output_path != nullptr) tool_usage_problem(merge_print_usage, "Only one output file allowed\n");
      options->output_path = arg_cursor_next(cursor);
      if (options->output_path == nullptr) tool_usage_problem(merge_print_usage, "Output file set wrong\n");
    } else {
      tool_usage_problem(merge_print_usage, "Unrecognized option %s\n", word);
    }
  }
  // Every word after the options is an input, whatever it begins with.
  const int32_t left = argc - cursor->next;
  options->input_paths = static_cast<char **>(ryx_malloc((left > 0 ? left : 1) * sizeof(char *)));
  while ((word = arg_cursor_next(cursor)) != nullptr) options->input_paths[options->input_count++] = word;
  arg_cursor_free(cursor);

  if (options->output_path == nullptr)
    tool_usage_problem(merge_print_usage, "No output nyr file (must be specified before input files)\n");
  if (options->input_count == 0) tool_usage_problem(merge_print_usage, "No input nyr files specified\n");
}

nyr_file_t *merge_join_headers(nyr_file_t *const *headers, int32_t count, char *const *paths) {
  check_layouts(headers, count, paths);
  const nyr_file_t *first = headers[0];
  nyr_file_t *joined = nyr_file_new_empty();

  joined->program_name = agreed_string(headers, count, &nyr_file_t::program_name);
  joined->program_version = agreed_string(headers, count, &nyr_file_t::program_version);
  joined->command_line = agreed_string(headers, count, &nyr_file_t::command_line);

  // A contig is circular when any input marks it so.
  joined->contig_count = first->contig_count;
  joined->contigs = static_cast<nyr_contig_t **>(
      ryx_malloc((first->contig_count > 0 ? first->contig_count : 1) * sizeof(nyr_contig_t *)));
  for (uint32_t c = 0; c < first->contig_count; c++) {
    uint16_t flags = first->contigs[c]->flags;
    for (int32_t i = 1; i < count; i++)
      if (c < headers[i]->contig_count && nyr_contig_is_circular(headers[i]->contigs[c]))
        flags |= kNyrContigCircular;
    joined->contigs[c] = nyr_contig_new(first->contigs[c]->length, flags);
  }

  // The lists share the inputs' entries (the joined handle frees only its
  // own list shells), so the inputs' headers must outlive it.
  joined->reference_files = seq_file_info_list_concat(first->reference_files, nullptr);
  joined->read_files = seq_file_info_list_concat(first->read_files, nullptr);
  joined->read_count = first->read_count;
  for (int32_t i = 1; i < count; i++) {
    seq_file_info_list_t *longer = seq_file_info_list_concat(joined->read_files, headers[i]->read_files);
    seq_file_info_list_free_shell(joined->read_files);
    joined->read_files = longer;
    joined->read_count += headers[i]->read_count;
  }

  if (first->scheme != nullptr) {
    joined->scheme = nyr_scoring_scheme_new_blank();
    *joined->scheme = *first->scheme;
  }
  return joined;
}

void merge_join_files(nyr_file_t *const *headers, int32_t count, char *const *paths, const char *output_path) {
  nyr_file_t *joined = merge_join_headers(headers, count, paths);
  output_file_t *output = output_file_open(output_path);
  if (output == nullptr) ryx_fail("Problem opening assembly file\n");
  nyr_file_write_start(output->file, joined);
  for (int32_t i = 0; i < count; i++) copy_records(paths[i], headers[i], output->file);
  nyr_file_write_finish(output->file, joined);
  if (output_file_commit(output) != 0) ryx_fail("Problem closing assembly file\n");
  nyr_file_free(joined);
}

void merge_copy_bytes(input_stream_t *source, int64_t count, FILE *destination, const char *source_path) {
  auto *buffer = static_cast<uint8_t *>(ryx_malloc(kCopyBufferSize));
  int64_t left = count;
  while (left > 0) {
    const size_t want = left < static_cast<int64_t>(kCopyBufferSize) ? static_cast<size_t>(left) : kCopyBufferSize;
    const size_t got = input_stream_read(buffer, 1, want, source);
    if (got == 0) {
      fprintf(stderr, "Error reading assembly file %s: the record section is shorter than its header states\n",
              source_path);
      ryx_exit(74);
    }
    if (fwrite(buffer, 1, got, destination) != got) ryx_fail("Problem writing output file\n");
    left -= static_cast<int64_t>(got);
  }
  ryx_free(buffer);
}

int merge_run(const merge_options_t *options) {
  for (int32_t i = 0; i < options->input_count; i++) {
    if (output_file_same_file(options->output_path, options->input_paths[i])) {
      fprintf(stderr, "The output file %s is also an input file.\n", options->output_path);
      ryx_exit(1);
    }
  }
  const int32_t count = options->input_count;
  auto **headers = static_cast<nyr_file_t **>(ryx_malloc(count * sizeof(nyr_file_t *)));
  for (int32_t i = 0; i < count; i++) headers[i] = nyr_file_read_header(options->input_paths[i]);
  for (int32_t i = 1; i < count; i++)
    if (!seq_file_info_list_equal(headers[0]->reference_files, headers[i]->reference_files))
      ryx_fail("Reference sequence files does not match.\n");
  merge_join_files(headers, count, options->input_paths, options->output_path);
  for (int32_t i = 0; i < count; i++) nyr_file_free(headers[i]);
  ryx_free(headers);
  return 0;
}
