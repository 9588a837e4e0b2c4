#include "common/activity.h"

#include "common/clock.h"

Activity::Activity(RootActivity *root_, double weight_, const char *name_)
    : root(root_), weight(weight_), name(name_) {}

Activity::~Activity() {
  // No lock: the tree is torn down by its owner once nobody reads it, and
  // the root's mutex is already gone when the root's own base part runs.
  for (Activity *c : children) delete c;
}

double Activity::progress_locked() const {
  if (done_flag.load()) return 1.0;
  double sum = fraction.load();
  // Read total once so that a concurrent store cannot slip a 0 in between
  // the test and the division.
  uint64_t t = total.load();
  if (t != 0) sum += static_cast<double>(done.load()) / static_cast<double>(t);
  for (const Activity *c : children) sum += c->progress_locked() * c->weight;
  return sum > 1.0 ? 1.0 : sum;
}

double Activity::get() {
  std::lock_guard<std::mutex> lock(root->mutex);
  return progress_locked();
}

Activity *Activity::child(double weight_, const char *name_) {
  Activity *c = new Activity(root, weight_, name_);
  {
    std::lock_guard<std::mutex> lock(root->mutex);
    children.push_back(c);
  }
  if (name_ != nullptr && root->output != nullptr) {
    fprintf(root->output, "\n%s...\n", name_);
    fflush(root->output);
    c->start_time = time_get_usec();
  }
  return c;
}

bool Activity::set_done() {
  // Exchange first so that of two racing calls exactly one prints.
  bool was_done = done_flag.exchange(true);
  if (!was_done && name != nullptr && root->output != nullptr) {
    int64_t elapsed = time_get_usec() - start_time;
    fprintf(root->output, "%s took %.3f seconds.\n", name, static_cast<double>(elapsed) / 1000000.0);
    fflush(root->output);
  }
  return was_done;
}

void Activity::set_fraction(double x) {
  fraction.exchange(x);
  if (x >= 1.0) set_done();
}

RootActivity::RootActivity(FILE *output_) : Activity(this, 1.0, nullptr), output(output_) {}

double RootActivity::get_progress() {
  std::lock_guard<std::mutex> lock(mutex);
  return progress_locked();
}
