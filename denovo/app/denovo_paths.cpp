#include "denovo/app/denovo_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "common/output_file.h"
#include "common/ryx_exit.h"

namespace {

std::vector<std::string> inputs_of(const denovo_options_t *o) {
  std::vector<std::string> inputs;
  for (int32_t i = 0; i < o->entry_count; i++) {
    const seq_file_info_t *entry = o->entries[i];
    inputs.emplace_back(entry->names[0]);
    if (seq_file_info_is_pair(entry)) inputs.emplace_back(entry->names[1]);
  }
  if (o->load_path != nullptr) inputs.emplace_back(o->load_path);
  if (o->reference_path != nullptr) inputs.emplace_back(o->reference_path);
  return inputs;
}

std::vector<std::string> outputs_of(const denovo_options_t *o) {
  std::vector<std::string> outputs;
  for (const char *path : {o->output_path, o->feature_path, o->estimate_path, o->memory_path}) {
    if (path != nullptr) outputs.emplace_back(path);
  }
  for (int32_t stage = 1; stage < kDenovoStageContigs; stage++) {
    if (o->save_paths[stage] != nullptr) outputs.emplace_back(o->save_paths[stage]);
  }
  if (o->graph_prefix != nullptr) {
    outputs.push_back(denovo_fragment_gexf_path(o->graph_prefix));
    outputs.push_back(denovo_contig_gexf_path(o->graph_prefix));
  }
  return outputs;
}

}  // namespace

std::string denovo_fragment_gexf_path(const char *prefix) { return std::string(prefix) + "_fragment.gexf"; }

std::string denovo_contig_gexf_path(const char *prefix) { return std::string(prefix) + "_contig.gexf"; }

void denovo_check_paths(const denovo_options_t *options) {
  const std::vector<std::string> inputs = inputs_of(options);
  for (const std::string &output : outputs_of(options)) {
    for (const std::string &input : inputs) {
      if (output_file_same_file(output.c_str(), input.c_str())) {
        fprintf(stderr, "The output file %s is also an input file.\n", output.c_str());
        ryx_exit(1);
      }
    }
  }
  for (const std::string &input : inputs) {
    struct stat st;
    if (stat(input.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) continue;
    fprintf(stderr, "The input file %s is a pipe or device: ryx_denovo reads it more than once and needs a regular file.\n",
            input.c_str());
    ryx_exit(1);
  }
}

void denovo_check_output_path(const char *path) {
  struct stat st;
  bool ok;
  if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    // Written in place later; opening it now could wait for a reader.
    ok = access(path, W_OK) == 0;
  } else {
    output_file_t *probe = output_file_open(path);
    ok = probe != nullptr;
    output_file_abandon(probe);
  }
  if (!ok) {
    fprintf(stderr, "Unable to open file %s\n", path);
    ryx_exit(1);
  }
}
