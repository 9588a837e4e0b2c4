// Tree of weighted progress activities.
//
// A program's main builds one RootActivity; every stage hangs a child off
// it (or off another activity) with the share of its parent's progress the
// stage stands for. Workers report through the atomics of their activity
// without locking; a display thread polls RootActivity::get_progress().
// Named activities print "\n<name>...\n" on the root's output when created
// and "<name> took <s> seconds.\n" when done; a root without an output file
// prints nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

struct progress_meter_t;
class RootActivity;

class Activity {
 public:
  // An activity of the tree under root, not yet linked to a parent; use
  // child() to grow a tree. The name is borrowed (null: silent).
  Activity(RootActivity *root, double weight, const char *name);
  // Destroys every child, recursively.
  ~Activity();
  Activity(const Activity &) = delete;
  Activity &operator=(const Activity &) = delete;

  // Progress in [0, 1]: 1 once done, else the own fraction plus done / total
  // (when total is not 0) plus each child's progress times its weight,
  // limited to 1. Takes the root's mutex, so it may run while other threads
  // add children.
  double get();

  // Appends a new child with this weight and name (borrowed, null: silent)
  // and returns it; the tree keeps ownership. A named child of a root with
  // an output file prints "\n<name>...\n" and starts its clock.
  Activity *child(double weight, const char *name);

  // Marks the activity done; returns whether it already was. The first
  // call on a named activity of a root with an output file prints
  // "<name> took <s> seconds.\n"; later calls print nothing.
  bool set_done();

  // Stores x as the own fraction; x >= 1 also marks the activity done as
  // set_done() does. A NaN only stores.
  void set_fraction(double x);

  RootActivity *root;
  // Units of work done and in all; users add and store them atomically. A
  // total of 0 means the activity is not counted in units.
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> total{0};
  // Own progress in [0, 1].
  std::atomic<double> fraction{0.0};
  double weight;
  const char *name;
  // Wall-clock microseconds when the start line was printed; 0 otherwise.
  int64_t start_time = 0;
  // Owned, in creation order; guarded by the root's mutex.
  std::vector<Activity *> children;
  std::atomic<bool> done_flag{false};

 private:
  friend class RootActivity;
  // get() without taking the root's mutex; the caller holds it.
  double progress_locked() const;
};

class RootActivity : public Activity {
 public:
  // The root of a tree, pointing to itself. Start and duration lines go to
  // output (borrowed; null: no lines are printed).
  explicit RootActivity(FILE *output = nullptr);

  // Progress of the whole tree, computed under the tree's mutex; the
  // display thread polls it.
  double get_progress();

  // Guards the child lists of every activity of the tree and the meter list.
  std::mutex mutex;
  FILE *output;
  // Meters reporting to activities of this tree; owned by the tree's user.
  std::vector<progress_meter_t *> meters;
};
