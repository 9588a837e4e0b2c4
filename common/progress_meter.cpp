#include "common/progress_meter.h"

#include <atomic>
#include <cmath>
#include <mutex>

#include "common/activity.h"
#include "common/clock.h"
#include "common/memory.h"

namespace {
// Written by time_set_start; kept for whoever wants the process start.
std::atomic<uint32_t> process_start_time{0};

// Sets child's range to [a, b] of the parent's.
void place_in_parent(const progress_meter_t *parent, progress_meter_t *child, double a, double b) {
  double span = parent->to - parent->from;
  child->from = parent->from + span * a;
  child->to = parent->from + span * b;
}
}  // namespace

progress_meter_t *progress_meter_alloc(void) {
  return static_cast<progress_meter_t *>(ryx_calloc(sizeof(progress_meter_t)));
}

progress_meter_t *progress_meter_new(void) {
  progress_meter_t *m = progress_meter_alloc();
  m->root = m;
  m->last_shown = -1.0;
  m->from = 0.0;
  m->to = 1.0;
  m->output = stdout;
  m->start_time = 0;
  m->timing = 0;
  m->activity = nullptr;
  return m;
}

progress_meter_t *progress_meter_new_for_activity(Activity *activity) {
  progress_meter_t *m = progress_meter_new();
  if (activity == nullptr) return m;
  m->activity = activity;
  RootActivity *root = activity->root;
  std::lock_guard<std::mutex> lock(root->mutex);
  root->meters.push_back(m);
  return m;
}

progress_meter_t *progress_meter_new_child(progress_meter_t *parent, double a, double b) {
  if (parent == nullptr) return nullptr;
  progress_meter_t *m = progress_meter_alloc();
  m->root = parent->root;
  m->last_shown = -1.0;
  m->output = nullptr;
  m->activity = nullptr;
  place_in_parent(parent, m, a, b);
  m->start_time = parent->root->timing ? time_get_usec() : 0;
  return m;
}

void progress_meter_set_range(progress_meter_t *parent, progress_meter_t *child, double a, double b) {
  if (parent == nullptr || child == nullptr) return;
  progress_meter_t *root = parent->root;
  if (root->timing) {
    int64_t now = time_get_usec();
    if (child->start_time != 0) {
      fprintf(root->output, "Progress from %1.1f %% to %1.1f %% took %1.3f seconds.\n", child->from * 100.0,
              child->to * 100.0, static_cast<double>(now - child->start_time) / 1000000.0);
      fflush(root->output);
    }
    child->start_time = now;
  }
  place_in_parent(parent, child, a, b);
}

void progress_meter_update(progress_meter_t *meter, double x) {
  if (meter == nullptr) return;
  if (meter->activity != nullptr) {
    meter->activity->set_fraction(x);
    return;
  }
  double v = meter->from + (meter->to - meter->from) * x;
  if (v > meter->to) v = meter->to;
  progress_meter_t *root = meter->root;
  // Compare in tenths of a percent so the line changes only when the shown
  // digits do; the start value -1 is below every real value.
  if (std::floor(v * 1000.0 + 0.5) > std::floor(root->last_shown * 1000.0 + 0.5)) {
    fprintf(root->output, "Progress: %6.1f %%  \r", v * 100.0);
    fflush(root->output);
  }
  root->last_shown = v;
}

double progress_meter_get_fraction(const progress_meter_t *meter) {
  if (meter == nullptr) return 0.0;
  return (meter->root->last_shown - meter->from) / (meter->to - meter->from);
}

void progress_meter_set_timing(progress_meter_t *meter, int flag) {
  if (meter == nullptr) return;
  meter->timing = flag != 0;
}

progress_meter_t *progress_meter_free(progress_meter_t *meter) {
  ryx_free(meter);
  return nullptr;
}

uint32_t time_set_start(void) {
  uint32_t now = time_get_usec32();
  process_start_time.store(now);
  return now;
}
