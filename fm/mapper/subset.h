// An ordered set of half-open integer ranges, kept as a singly linked list
// of intervals in descending order of position (the head holds the
// highest range). Intervals are disjoint and never touch.
//
// The standard seeder keeps one per strand: the read positions from which
// a seed of the currently required length could still start. List nodes
// come from a cache of free nodes and go back to it, so a set that has once
// held n intervals never allocates again for n or fewer.
#pragma once

#include <cstdint>

struct SubsetInterval {
  SubsetInterval *next;
  int32_t begin;
  int32_t end;  // exclusive
};

// A stack of free nodes of a type with a next pointer: taking pops the top
// or, when the stack is empty, allocates; giving pushes. Free nodes are
// deleted when the cache goes away.
template <typename T>
class object_cache {
 public:
  object_cache() = default;
  ~object_cache() {
    while (top_ != nullptr) {
      T *node = top_;
      top_ = node->next;
      delete node;
    }
  }
  object_cache(const object_cache &) = delete;
  object_cache &operator=(const object_cache &) = delete;

  T *take() {
    if (top_ == nullptr) {
      allocated_++;
      return new T();
    }
    T *node = top_;
    top_ = node->next;
    return node;
  }
  void give(T *node) {
    node->next = top_;
    top_ = node;
  }
  // Nodes allocated so far.
  uint64_t allocated() const { return allocated_; }

 private:
  T *top_ = nullptr;
  uint64_t allocated_ = 0;
};

class Subset {
 public:
  Subset() = default;
  ~Subset();
  Subset(const Subset &) = delete;
  Subset &operator=(const Subset &) = delete;

  // Empties the set; its nodes go back to the cache.
  void reset();
  bool empty() const { return head_ == nullptr; }
  SubsetInterval *head() const { return head_; }

  // Adds [a, b), merging it with every interval it overlaps or touches.
  void add_range(int32_t a, int32_t b);
  // Removes [a, b) (nothing when a >= b) and returns the interval a scan
  // from the head may continue with: the one after the lower part of a
  // split interval, or after an interval cut back to end at a; null when
  // the walk ran off the end of the list.
  SubsetInterval *remove_range(int32_t a, int32_t b);

  // Links a node from the cache after node (at the head when node is
  // null) and returns it; its range is for the caller to set.
  SubsetInterval *insert_interval_before(SubsetInterval *node);
  // Unlinks the node after node (the head when node is null) and gives it
  // back to the cache.
  void remove_interval_before(SubsetInterval *node);

  // Nodes the cache has allocated so far.
  uint64_t nodes_allocated() const { return cache_.allocated(); }

 private:
  object_cache<SubsetInterval> cache_;
  SubsetInterval *head_ = nullptr;
};
