#include "fm/mapper/subset.h"

#include <algorithm>

Subset::~Subset() { reset(); }

void Subset::reset() {
  while (head_ != nullptr) remove_interval_before(nullptr);
}

SubsetInterval *Subset::insert_interval_before(SubsetInterval *node) {
  SubsetInterval *fresh = cache_.take();
  SubsetInterval **link = node == nullptr ? &head_ : &node->next;
  fresh->next = *link;
  *link = fresh;
  return fresh;
}

void Subset::remove_interval_before(SubsetInterval *node) {
  SubsetInterval **link = node == nullptr ? &head_ : &node->next;
  SubsetInterval *gone = *link;
  *link = gone->next;
  cache_.give(gone);
}

void Subset::add_range(int32_t a, int32_t b) {
  if (a >= b) return;
  SubsetInterval *previous = nullptr;
  SubsetInterval *merged = nullptr;
  for (SubsetInterval *node = head_; node != nullptr && node->end >= a;) {
    if (merged == nullptr) {
      if (node->begin <= b) {
        node->begin = std::min(node->begin, a);
        node->end = std::max(node->end, b);
        merged = node;
      }
      previous = node;
      node = node->next;
    } else {
      // Below the merged interval and ending at or after a, which is not
      // below its begin: it touches or overlaps it.
      merged->begin = std::min(merged->begin, node->begin);
      node = node->next;
      remove_interval_before(merged);
    }
  }
  if (merged == nullptr) {
    SubsetInterval *fresh = insert_interval_before(previous);
    fresh->begin = a;
    fresh->end = b;
  }
}

SubsetInterval *Subset::remove_range(int32_t a, int32_t b) {
  if (a >= b) return nullptr;
  // The intervals are disjoint and in descending order: those wholly above
  // [a, b) are passed over without looking at the cases, and the first one
  // wholly below it ends the walk, as every later one lies lower still.
  SubsetInterval *previous = nullptr;
  SubsetInterval *node = head_;
  while (node != nullptr && node->begin >= b) {
    previous = node;
    node = node->next;
  }
  while (node != nullptr && node->end > a) {
    if (node->begin < a && b < node->end) {
      // Split: the node keeps [b, end), a new node below it takes
      // [begin, a).
      SubsetInterval *lower = insert_interval_before(node);
      lower->begin = node->begin;
      lower->end = a;
      node->begin = b;
      return lower->next;
    }
    if (a <= node->begin && node->end <= b) {
      node = node->next;
      remove_interval_before(previous);
      continue;
    }
    if (a <= node->begin) {
      // Reaches above b: cut back to start at b.
      node->begin = b;
    } else {
      // Starts below a and ends inside [a, b): cut back to end at a.
      node->end = a;
      return node->next;
    }
    previous = node;
    node = node->next;
  }
  return nullptr;
}
