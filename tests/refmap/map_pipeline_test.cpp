// The mapping pipeline with a stub mapper: read order kept at 1, 2 and 8
// threads while batches finish out of order, levels that split off the
// reads without hits, the merge writing exactly one nyr record per read
// (read back by the nyr reader), the threaded merge writing the bytes of
// the one-thread merge, the reorder stage, an empty pass, the
// threaded pass against the serial one, and no temporary file left behind
// after a run or a failure.
#include "refmap/map_pipeline.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/chunk_arena.h"
#include "common/input_stream.h"
#include "common/random_state.h"
#include "common/ryx_exit.h"
#include "map_fixture.h"
#include "refmap/map_result.h"
#include "seqio/nyr_file.h"

namespace {

using ryx_test::ContextShape;
using ryx_test::make_context;
using ryx_test::ReadSet;

constexpr int32_t kReferences = 7;
constexpr int32_t kLongest = 1000000;

// Hits a read gets in a pass: pass 0 gives reads 4m two hits, pass 1 gives
// reads 4m two more and reads 4m + 1 three, pass 2 (the second level of a
// class) gives reads 4m + 2 one; reads 4m + 3 never map.
int32_t hits_for(int32_t read, int32_t pass) {
  switch (read % 4) {
    case 0: return pass <= 1 ? 2 : 0;
    case 1: return pass == 1 ? 3 : 0;
    case 2: return pass == 2 ? 1 : 0;
    default: return 0;
  }
}

// What a pass of the stub does, shared read-only by the map threads.
struct StubPlan {
  int32_t pass = 0;
  int32_t delay_us = 0;             // batches with lower sequence numbers wait longer
  int32_t fail_at_batch = -1;       // this batch ends the process (status 3)
  const std::string *watched = nullptr;  // directory that must stay empty
  std::atomic<int32_t> *mapped = nullptr;  // batches mapped so far, or null
  std::atomic<bool> hold_first = false;    // batch 0 waits until batch 2 is mapped
  std::atomic<bool> second_done = false;
  std::mutex *order_mutex = nullptr;
  std::vector<int32_t> *finish_order = nullptr;
};

// One worker record per map thread; a record must only ever see one thread.
struct StubWorker {
  const StubPlan *plan = nullptr;
  pthread_t owner{};
  bool bound = false;
  bool shared = false;
  int32_t batches = 0;
};

// The slot rule of the real mapper in small: stores while below R, else a
// uniform draw decides between counting and replacing.
void insert_capped(read_batch_t *batch, alignment_info_t *slot, const alignment_hit_t *hit, int32_t limit) {
  if (slot->hit_count < limit) {
    alignment_info_add_hit(batch, slot, hit, limit);
    return;
  }
  const uint32_t r = random_state_draw_ranged32(batch->random, static_cast<uint32_t>(slot->hit_count + 1));
  if (r >= static_cast<uint32_t>(limit)) {
    alignment_info_count_hit(batch, slot, limit);
  } else {
    int32_t index = -1;
    alignment_info_replace_hit(batch, slot, hit, limit, &index);
  }
}

void stub_map(map_context_t *context, read_batch_t *batch, void *record) {
  auto *worker = static_cast<StubWorker *>(record);
  const StubPlan *plan = worker->plan;
  if (!worker->bound) {
    worker->owner = pthread_self();
    worker->bound = true;
  } else if (!pthread_equal(worker->owner, pthread_self())) {
    worker->shared = true;
  }
  worker->batches++;
  if (plan->fail_at_batch == batch->sequence) {
    // Temporary files never show in the directory, not even while open.
    const bool empty = ryx_test::dir_names(*plan->watched).empty();
    ryx_exit(empty ? 3 : 4);
  }
  if (plan->delay_us > 0) usleep(static_cast<useconds_t>(plan->delay_us * (3 - batch->sequence % 4)));
  if (plan->hold_first && batch->sequence == 0) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!plan->second_done && std::chrono::steady_clock::now() < until) usleep(200);
  }

  const int32_t limit = context->report_limit;
  const int32_t step = read_batch_slots_per_read(batch);
  std::vector<uint8_t> code(1);
  std::vector<bool> done(static_cast<size_t>(batch->read_count));
  for (int32_t r = 0; r < batch->read_count; r++) {
    alignment_info_t *single = read_batch_single_slot(batch, r);
    done[r] = read_batch_has_hits(batch, r) != 0;
    if (single->read == nullptr || done[r]) continue;
    const int32_t n = hits_for(single->read_index, plan->pass);
    if (n == 0) continue;
    const auto length = static_cast<int32_t>(single->read->length);
    alignment_info_raise_score(single, length);
    code[0] = static_cast<uint8_t>(length - 1);
    for (int32_t k = 0; k < n; k++) {
      alignment_hit_t hit = ryx_test::make_hit((single->read_index + k + 2 * plan->pass) % kReferences, single->read_index,
                                               static_cast<uint8_t>(k & 1), code);
      insert_capped(batch, single, &hit, limit);
    }
  }
  if (step == 2) {
    for (int32_t r = 0; r + 1 < batch->read_count; r += 2) {
      alignment_info_t *s1 = read_batch_single_slot(batch, r), *s2 = read_batch_single_slot(batch, r + 1);
      if (s1->hit_count == 0 || s2->hit_count == 0 || (done[r] && done[r + 1])) continue;
      code[0] = 0x1D;
      const int32_t sequence = s1->read_index % kReferences;
      alignment_hit_t h1 = ryx_test::make_hit(sequence, s1->read_index, 0, code);
      alignment_hit_t h2 = ryx_test::make_hit(sequence, s2->read_index, 1, code);
      int32_t index = -1;
      alignment_info_replace_hit(batch, s1 + 1, &h1, limit, &index);
      alignment_info_replace_hit(batch, s2 + 1, &h2, limit, &index);
    }
  }
  if (plan->mapped != nullptr) plan->mapped->fetch_add(1);
  if (plan->finish_order != nullptr) {
    std::lock_guard<std::mutex> lock(*plan->order_mutex);
    plan->finish_order->push_back(batch->sequence);
  }
  if (batch->sequence == 2) const_cast<StubPlan *>(plan)->second_done = true;
}

// Worker records for n threads.
struct Workers {
  Workers(int32_t n, const StubPlan *plan) : records(n), pointers(n) {
    for (int32_t i = 0; i < n; i++) {
      records[i].plan = plan;
      pointers[i] = &records[i];
    }
  }
  void expect_one_thread_each() const {
    for (const StubWorker &w : records) EXPECT_FALSE(w.shared);
  }
  std::vector<StubWorker> records;
  std::vector<void *> pointers;
};

// Runs a pass with the stub on n threads (0: the serial pass).
map_context_t *run_pass(map_context_t *context, int32_t next_pass, int32_t last_block, int32_t n, StubPlan *plan) {
  if (n == 0) {
    StubWorker worker;
    worker.plan = plan;
    return map_pipeline_run_serial(context, next_pass, last_block, stub_map, &worker);
  }
  Workers workers(n, plan);
  map_context_t *next = map_pipeline_run(context, next_pass, last_block, n, stub_map, workers.pointers.data());
  workers.expect_one_thread_each();
  int32_t used = 0;
  for (const StubWorker &w : workers.records) used += w.bound ? 1 : 0;
  EXPECT_LE(used, n);
  return next;
}

// The read set of the scenario: an unpaired file and a paired file with
// reads of both classes and some of unmappable length.
struct Scenario {
  std::vector<int32_t> lengths;
  std::vector<int32_t> file_counts;
  paired_setting_t *setting;
  Scenario() {
    setting = paired_setting_new(1, 0, 0, 1000);
    const int32_t unpaired = 301, pairs = 150;
    for (int32_t i = 0; i < unpaired; i++) lengths.push_back(i % 17 == 5 ? 10 : (i % 3 == 0 ? 40 : 20));
    for (int32_t p = 0; p < pairs; p++) {
      lengths.push_back(p % 5 == 0 ? 45 : 25);
      lengths.push_back(p % 7 == 3 ? 60 : (p % 2 == 0 ? 35 : 18));
    }
    file_counts = {unpaired, 2 * pairs};
  }
  ~Scenario() { paired_setting_free(setting); }
  bool paired(int32_t read) const { return read >= file_counts[0]; }
  bool mappable(int32_t read) const { return lengths[read] >= 15 && lengths[read] <= 55; }
  // Class of a read (0 for [15,30), 1 for [30,56)), -1 when never taken.
  int32_t class_of(int32_t read) const {
    if (!paired(read)) return mappable(read) ? (lengths[read] < 30 ? 0 : 1) : -1;
    const int32_t first = read - (read - file_counts[0]) % 2;
    int32_t shortest = 1000;
    for (int32_t r : {first, first + 1})
      if (mappable(r)) shortest = std::min(shortest, lengths[r]);
    return shortest == 1000 ? -1 : (shortest < 30 ? 0 : 1);
  }
};

struct Expected {
  int32_t single = 0;
  int32_t pair = 0;
};

// The stub's rules played through the scenario's passes: class 0 maps
// passes 0 and 1 at level 0, its reads without hits pass 2 at level 1;
// class 1 maps passes 0 and 1 at one level.
std::vector<Expected> model(const Scenario &s) {
  const auto n = static_cast<int32_t>(s.lengths.size());
  std::vector<Expected> e(n);
  auto pass_over = [&](const std::vector<int32_t> &reads, int32_t pass) {
    for (size_t i = 0; i < reads.size(); i++) {
      const int32_t r = reads[i];
      if (!s.paired(r)) {
        if (s.mappable(r)) e[r].single += hits_for(r, pass);
        continue;
      }
      if ((r - s.file_counts[0]) % 2 != 0) continue;
      const int32_t a = r, b = r + 1;
      const bool da = e[a].single > 0, db = e[b].single > 0;
      if (s.mappable(a) && !da) e[a].single += hits_for(a, pass);
      if (s.mappable(b) && !db) e[b].single += hits_for(b, pass);
      if (e[a].single > 0 && e[b].single > 0 && !(da && db)) {
        e[a].pair++;
        e[b].pair++;
      }
    }
  };
  for (int32_t c = 0; c < 2; c++) {
    std::vector<int32_t> reads;
    for (int32_t r = 0; r < n; r++)
      if (s.class_of(r) == c) reads.push_back(r);
    pass_over(reads, 0);
    pass_over(reads, 1);
    if (c == 1) continue;
    std::vector<int32_t> moved;
    for (int32_t r : reads) {
      if (!s.paired(r)) {
        if (e[r].single == 0) moved.push_back(r);
        continue;
      }
      const int32_t a = r - (r - s.file_counts[0]) % 2;
      if (e[a].single == 0 || e[a + 1].single == 0) moved.push_back(r);
    }
    pass_over(moved, 2);
  }
  return e;
}

// One hit as read back from an nyr file.
struct HitRecord {
  uint32_t contig, position;
  bool paired;
  uint64_t count;
  std::vector<uint8_t> code;
};

// Every record of an nyr file (all hits; empty for an unmapped read); fails
// when the records do not fill the record section exactly.
std::vector<std::vector<HitRecord>> read_records(const std::string &path, uint64_t reads) {
  input_stream_t *stream = input_stream_open(path.c_str(), "rb");
  nyr_file_t *file = nyr_file_read_header_stream(stream);
  EXPECT_EQ(file->read_count, reads);
  std::vector<std::vector<HitRecord>> out;
  for (uint64_t r = 0; r < reads; r++) {
    std::vector<HitRecord> hits;
    for (nyr_match_t *h = nyr_match_read_all(3, stream, file->arena, file->contig_count, kLongest, nullptr,
                                             file->fields_offset);
         h != nullptr; h = nyr_match_next_hit(h)) {
      hits.push_back({h->contig, h->position, nyr_match_is_paired(h) != 0, nyr_match_get_count(h),
                      std::vector<uint8_t>(h->code, h->code + h->code_length)});
    }
    out.push_back(hits);
  }
  EXPECT_EQ(input_stream_tell(stream), file->fields_offset) << "one record per read, nothing more";
  nyr_file_free(file);
  input_stream_close(stream);
  return out;
}

// How the scenario's results are merged and written.
struct MergePlan {
  int32_t threads = 2;
  int32_t window_reads = 0;   // 0: through map_results_merge
  int32_t repeat_ignore = 0;
  int32_t report_limit = 3;
};

// Maps the scenario with n threads (0: serially) and writes the nyr file.
void map_scenario(const Scenario &s, const ReadSet &reads, int32_t n, const std::string &path, int32_t delay_us,
                  const MergePlan &merge = {}) {
  const int32_t total = static_cast<int32_t>(s.lengths.size());
  ContextShape shape{.file_counts = s.file_counts,
                   .settings = {nullptr, s.setting},
                   .report_limit = merge.report_limit,
                   .reference_count = kReferences,
                   .longest_reference = kLongest,
                   .batch_size = 40};
  shape.class_lower = 15;
  shape.class_upper = 30;
  map_context_t *a0 = make_context(reads.db(), shape);
  shape.class_lower = 30;
  shape.class_upper = 56;
  map_context_t *b0 = make_context(reads.db(), shape);
  StubPlan plan;
  plan.delay_us = delay_us;
  // Class [15,30): two blocks at level 0, one at level 1.
  plan.pass = 0;
  EXPECT_EQ(run_pass(a0, 0, 0, n, &plan), nullptr);
  EXPECT_EQ(a0->first_pass, 0);
  plan.pass = 1;
  map_context_t *a1 = run_pass(a0, 1, 1, n, &plan);
  EXPECT_NE(a1, nullptr);
  EXPECT_EQ(a0->outputs, nullptr) << "the last pass of a level keeps no output list";
  plan.pass = 2;
  EXPECT_EQ(run_pass(a1, 0, 1, n, &plan), nullptr);
  // Class [30,56): two blocks at its only level.
  plan.pass = 0;
  run_pass(b0, 0, 0, n, &plan);
  plan.pass = 1;
  run_pass(b0, 0, 1, n, &plan);

  std::vector<uint32_t> lengths(kReferences, kLongest);
  nyr_file_t *header = nyr_file_new(kReferences, lengths.data(), static_cast<uint64_t>(total));
  FILE *out = fopen(path.c_str(), "w+b");
  ASSERT_NE(out, nullptr);
  nyr_file_write_start(out, header);
  map_writer_context_t *writer = map_writer_context_new(kReferences, kLongest, merge.repeat_ignore, nullptr, out);
  map_context_t *contexts[3] = {a0, a1, b0};
  if (merge.window_reads == 0) {
    map_results_merge(contexts, 3, map_result_write_read, writer, merge.threads);
  } else {
    map_results_merge_write(contexts, 3, writer, merge.threads, merge.window_reads);
  }
  nyr_file_write_finish(out, header);
  fclose(out);
  map_writer_context_free(writer);
  nyr_file_free(header);
}

void check_records(const Scenario &s, const std::string &path) {
  const std::vector<Expected> expected = model(s);
  const auto records = read_records(path, s.lengths.size());
  int32_t mapped = 0, paired = 0;
  for (size_t r = 0; r < records.size(); r++) {
    SCOPED_TRACE(testing::Message() << "read " << r << " of length " << s.lengths[r]);
    const Expected &e = expected[r];
    const auto &hits = records[r];
    if (e.single == 0) {
      EXPECT_TRUE(hits.empty());
      continue;
    }
    mapped++;
    ASSERT_FALSE(hits.empty());
    const bool is_pair = e.pair > 0;
    paired += is_pair ? 1 : 0;
    const int32_t total = is_pair ? e.pair : e.single;
    EXPECT_EQ(hits[0].count, static_cast<uint64_t>(total));
    EXPECT_EQ(hits.size(), static_cast<size_t>(std::min(total, 3)));
    std::set<uint32_t> contigs;
    for (const HitRecord &h : hits) {
      EXPECT_EQ(h.position, r) << "the hit of this read's own slot";
      EXPECT_EQ(h.paired, is_pair);
      ASSERT_EQ(h.code.size(), 1u);
      if (!is_pair) {
        EXPECT_EQ(h.code[0], s.lengths[r] - 1);
        contigs.insert(h.contig);
      }
    }
    if (!is_pair) {
      EXPECT_EQ(contigs.size(), hits.size()) << "distinct hits";
    }
  }
  // The scenario reaches every kind of record.
  EXPECT_GT(mapped, 100);
  EXPECT_GT(paired, 20);
}

TEST(MapPipelineThread, KeepsReadOrderAtAnyThreadCount) {
  ryx_test::ScratchDir out;  // made before TMPDIR points elsewhere
  ryx_test::TempDirScope tmp;
  Scenario s;
  ReadSet reads(s.lengths);
  const int base = ryx_test::open_descriptor_count();
  for (int32_t n : {1, 2, 8}) {
    SCOPED_TRACE(testing::Message() << n << " threads");
    const std::string path = out.file("run" + std::to_string(n) + ".nyr");
    map_scenario(s, reads, n, path, 150);
    check_records(s, path);
    EXPECT_TRUE(tmp.entries().empty()) << "no temporary file left after the run";
    EXPECT_EQ(ryx_test::open_descriptor_count(), base) << "every temporary file closed";
  }
}

TEST(MapPipeline, SerialPassGivesTheSameRecords) {
  ryx_test::ScratchDir out;  // made before TMPDIR points elsewhere
  ryx_test::TempDirScope tmp;
  Scenario s;
  ReadSet reads(s.lengths);
  map_scenario(s, reads, 0, out.file("serial.nyr"), 0);
  check_records(s, out.file("serial.nyr"));
  EXPECT_TRUE(tmp.entries().empty());
}

std::string file_bytes(const std::string &path) {
  std::string bytes;
  FILE *file = fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr) << path;
  if (file == nullptr) return bytes;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  fclose(file);
  return bytes;
}

TEST(MapPipelineThread, ThreadedMergeWritesTheOneThreadBytes) {
  // The merge shuffles multi-hit reads with rand() in read order; with the
  // same seed, records encoded in windows on other threads must be the
  // bytes of the one-thread merge: windows of one read, windows ending
  // inside the 40-slot batches, windows of several batches, the default
  // window holding the whole group, at 2 to 8 threads (so contexts get
  // several loading threads). Report limit 4 stores every hit of the stub (its passes draw
  // nothing, so each run maps alike) and still shuffles reads of 2 to 4
  // hits; report limit 2 in ignore mode writes the reads of 3 and 4 hits
  // unmapped (their stored hits depend on draws) and shuffles the rest.
  ryx_test::ScratchDir out;  // made before TMPDIR points elsewhere
  ryx_test::TempDirScope tmp;
  Scenario s;
  ReadSet reads(s.lengths);
  struct Case {
    int32_t threads, window_reads;
  };
  const Case cases[] = {{2, 1}, {3, 7}, {8, 97}, {8, 0}};
  for (const int32_t ignore : {0, 1}) {
    SCOPED_TRACE(testing::Message() << "repeat ignore " << ignore);
    const int32_t limit = ignore ? 2 : 4;
    const std::string one = out.file("one.nyr");
    srand(2024);
    map_scenario(s, reads, 0, one, 0, {.threads = 1, .repeat_ignore = ignore, .report_limit = limit});
    const std::string expected = file_bytes(one);
    for (const Case &c : cases) {
      SCOPED_TRACE(testing::Message() << c.threads << " threads, windows of " << c.window_reads);
      const std::string path = out.file("merged.nyr");
      srand(2024);
      map_scenario(s, reads, 0, path, 0,
                   {.threads = c.threads, .window_reads = c.window_reads, .repeat_ignore = ignore, .report_limit = limit});
      EXPECT_EQ(file_bytes(path), expected);
    }
    // The draws show in the bytes: another seed moves hits.
    srand(2025);
    map_scenario(s, reads, 0, out.file("other.nyr"), 0,
                 {.threads = 4, .window_reads = 7, .repeat_ignore = ignore, .report_limit = limit});
    EXPECT_NE(file_bytes(out.file("other.nyr")), expected);
  }
  EXPECT_TRUE(tmp.entries().empty()) << "no temporary file left after the merges";
}

// Bytes of every input file of a context, in file order.
std::string input_bytes(const map_context_t *context) {
  std::string bytes;
  for (int32_t f = 0; f < kMapContextMaxTempFiles; f++) {
    FILE *file = context->inputs[f];
    if (file == nullptr) continue;
    const long at = ftell(file);
    fseek(file, 0, SEEK_END);
    const long end = ftell(file);
    std::string part(static_cast<size_t>(end), '\0');
    fseek(file, 0, SEEK_SET);
    EXPECT_EQ(fread(part.data(), 1, part.size(), file), part.size());
    fseek(file, at, SEEK_SET);
    bytes += part;
  }
  return bytes;
}

TEST(MapPipelineThread, ThreadedPassWritesWhatTheSerialPassWrites) {
  // Without replacements (R above every count) the stub draws nothing, so
  // both passes must write the same bytes.
  ryx_test::TempDirScope tmp;
  Scenario s;
  ReadSet reads(s.lengths);
  std::string bytes[2], split[2];
  for (int32_t k = 0; k < 2; k++) {
    map_context_t *context = make_context(reads.db(), {.file_counts = s.file_counts,
                                                       .settings = {nullptr, s.setting},
                                                       .report_limit = 50,
                                                       .reference_count = kReferences,
                                                       .longest_reference = kLongest,
                                                       .batch_size = 16});
    StubPlan plan;
    plan.delay_us = k == 0 ? 0 : 100;
    for (int32_t pass = 0; pass < 2; pass++) {
      plan.pass = pass;
      run_pass(context, 0, 0, k == 0 ? 0 : 4, &plan);
    }
    bytes[k] = input_bytes(context);
    // The last block of a level: the reads without hits are split off into
    // the next level's context (the map threads encode their batches as the
    // split leaves them, the serial pass after the split).
    plan.pass = 2;
    map_context_t *next = run_pass(context, 1, 1, k == 0 ? 0 : 4, &plan);
    EXPECT_NE(next, nullptr);
    if (next != nullptr) {
      EXPECT_GT(next->reads_taken, 0);
      EXPECT_LT(next->reads_taken, context->reads_taken);
      split[k] = input_bytes(context) + "|" + input_bytes(next);
    }
    map_context_free(next);
    map_context_free(context);
  }
  EXPECT_GT(bytes[0].size(), 1000u);
  EXPECT_EQ(bytes[0], bytes[1]);
  EXPECT_EQ(split[0], split[1]);
}

TEST(MapPipelineThread, ReorderPassesBatchesOnInSequence) {
  // Three files of 5, 3 and 4 reads make batches 0, 1, 2 of distinct
  // sizes; batch 0 is held until batch 2 is mapped.
  ryx_test::TempDirScope tmp;
  ReadSet reads(std::vector<int32_t>(12, 20));
  map_context_t *context = make_context(reads.db(), {.file_counts = {5, 3, 4}});
  std::mutex mutex;
  std::vector<int32_t> finished;
  StubPlan plan;
  plan.hold_first = true;
  plan.order_mutex = &mutex;
  plan.finish_order = &finished;
  run_pass(context, 0, 0, 3, &plan);
  ASSERT_EQ(finished.size(), 3u);
  EXPECT_EQ(finished.back(), 0) << "batch 0 finished last";
  const std::string bytes = input_bytes(context);
  std::vector<uint32_t> counts, files;
  size_t at = 0;
  while (at + 13 <= bytes.size()) {
    auto u32 = [&](size_t p) {
      return uint32_t(uint8_t(bytes[p])) | uint32_t(uint8_t(bytes[p + 1])) << 8 | uint32_t(uint8_t(bytes[p + 2])) << 16 |
             uint32_t(uint8_t(bytes[p + 3])) << 24;
    };
    const uint32_t length = u32(at);
    counts.push_back(u32(at + 4));
    files.push_back(u32(at + 8));
    EXPECT_EQ(bytes[at + 12], 0) << "no bitset";
    at += 13 + length;
  }
  EXPECT_EQ(at, bytes.size());
  EXPECT_EQ(counts, (std::vector<uint32_t>{5, 3, 4}));
  EXPECT_EQ(files, (std::vector<uint32_t>{0, 1, 2}));
  map_context_free(context);
}

TEST(MapPipelineThread, PassWithoutReadsStillSwaps) {
  ryx_test::TempDirScope tmp;
  ReadSet reads({20, 20, 20});
  map_context_t *context = make_context(reads.db(), {.file_counts = {3}, .class_lower = 40, .class_upper = 56});
  StubPlan plan;
  map_context_t *next = run_pass(context, 1, 1, 2, &plan);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(context->first_pass, 0);
  EXPECT_EQ(context->total_batches, 0);
  EXPECT_EQ(next->total_batches, 0);
  // The merge writes three unmapped reads from no context.
  struct Calls {
    std::vector<std::pair<map_context_t *, int32_t>> seen;
  } calls;
  map_context_t *contexts[2] = {context, next};
  map_results_merge(
      contexts, 2,
      [](map_context_t *c, alignment_info_t *slot, int32_t kind, void *argument) {
        static_cast<Calls *>(argument)->seen.push_back({c, slot == nullptr ? -1 : kind});
      },
      &calls, 1);
  EXPECT_EQ(calls.seen, (std::vector<std::pair<map_context_t *, int32_t>>(3, {nullptr, -1})));
}

TEST(MapPipelineThread, MergeHandsEachReadToTheLatestContextHoldingIt) {
  // Read 1 found no hit at level 0 and none at level 1: it is written from
  // the level-1 context, unmapped; reads 0 and 2 from level 0.
  ryx_test::TempDirScope tmp;
  ReadSet reads({20, 20, 20, 20});
  map_context_t *c0 = make_context(reads.db(), {.file_counts = {4}});
  StubPlan plan;
  plan.pass = 0;  // reads 0 map (4m), reads 1, 2, 3 not
  map_context_t *c1 = run_pass(c0, 1, 1, 2, &plan);
  plan.pass = 2;  // read 2 maps at level 1
  run_pass(c1, 0, 1, 2, &plan);
  struct Seen {
    map_context_t *context;
    int32_t read, kind, hits;
    bool operator==(const Seen &) const = default;
  };
  std::vector<Seen> seen;
  map_context_t *contexts[2] = {c0, c1};
  map_results_merge(
      contexts, 2,
      [](map_context_t *c, alignment_info_t *slot, int32_t kind, void *argument) {
        static_cast<std::vector<Seen> *>(argument)->push_back({c, slot->read_index, kind, slot->hit_count});
      },
      &seen, 2);
  EXPECT_EQ(seen, (std::vector<Seen>{{c0, 0, 0, 2}, {c1, 1, 0, 0}, {c1, 2, 0, 1}, {c1, 3, 0, 0}}));
}

// Not run under the thread sanitizer: ending the process from a map thread
// while the other stages still run is the point here, and that sanitizer
// reports every such exit as leaked threads.
TEST(MapPipelineDeathTest, FailureLeavesNoTemporaryFile) {
  ryx_test::TempDirScope tmp;
  ReadSet reads(std::vector<int32_t>(400, 20));
  const std::string dir = tmp.path();
  EXPECT_EXIT(
      {
        map_context_t *context = make_context(reads.db(), {.file_counts = {400}, .batch_size = 20});
        StubPlan plan;
        plan.watched = &dir;
        run_pass(context, 0, 0, 2, &plan);
        plan.pass = 1;
        plan.fail_at_batch = 12;
        run_pass(context, 0, 1, 2, &plan);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_TRUE(tmp.entries().empty());
}

}  // namespace
