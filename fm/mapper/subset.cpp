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
  SubsetInterval *previous = nullptr;
  SubsetInterval *node = head_;
  while (node != nullptr) {
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
    if (a <= node->begin && node->begin < b) {
      node->begin = b;
    } else if (node->begin < a && a < node->end && node->end <= b) {
      node->end = a;
      return node->next;
    }
    previous = node;
    node = node->next;
  }
  return nullptr;
}
