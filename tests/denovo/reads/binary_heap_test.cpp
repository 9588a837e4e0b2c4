// Binary heap: growth from capacity 1, pops in compare order against a
// sorted model, positions and heap sort.
#include "denovo/reads/binary_heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

#include "common/memory.h"

namespace {

int compare_ints(const void *a, const void *b) {
  const int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

int value_at(const binary_heap_t *heap, uint32_t position) { return *static_cast<const int *>(heap->items[position]); }

// No child compares below its parent.
void expect_heap_order(const binary_heap_t *heap) {
  for (uint32_t i = 2; i <= heap->count; i++) {
    ASSERT_LE(value_at(heap, binary_heap_parent(i)), value_at(heap, i)) << "position " << i;
  }
}

TEST(BinaryHeap, PositionArithmeticIsOneBased) {
  const struct {
    uint32_t i, parent, left, right;
  } cases[] = {{1, 0, 2, 3}, {2, 1, 4, 5}, {3, 1, 6, 7}, {10, 5, 20, 21}};
  for (const auto &c : cases) {
    EXPECT_EQ(binary_heap_parent(c.i), c.parent);
    EXPECT_EQ(binary_heap_left(c.i), c.left);
    EXPECT_EQ(binary_heap_right(c.i), c.right);
  }
}

TEST(BinaryHeap, CapacityOneDoublesAsItemsArriveAndPopsInOrder) {
  binary_heap_t *heap = binary_heap_new(1, compare_ints);
  std::vector<int> values = {9, 4, 7, 1, 8, 2, 6, 3, 5};
  const uint32_t capacity_after[] = {1, 2, 4, 4, 8, 8, 8, 8, 16};
  EXPECT_TRUE(binary_heap_is_empty(heap));
  for (size_t i = 0; i < values.size(); i++) {
    binary_heap_push(heap, &values[i]);
    EXPECT_EQ(heap->capacity, capacity_after[i]);
    EXPECT_EQ(binary_heap_get_count(heap), i + 1);
  }
  EXPECT_FALSE(binary_heap_is_empty(heap));
  EXPECT_FALSE(binary_heap_is_full(heap));
  for (int expected = 1; expected <= 9; expected++) {
    EXPECT_EQ(*static_cast<int *>(binary_heap_peek(heap)), expected);
    EXPECT_EQ(*static_cast<int *>(binary_heap_pop(heap)), expected);
  }
  EXPECT_TRUE(binary_heap_is_empty(heap));
  EXPECT_EQ(binary_heap_free(heap), nullptr);
  EXPECT_EQ(binary_heap_free(nullptr), nullptr);
}

TEST(BinaryHeap, RandomPushesAndPopsFollowASortedModel) {
  std::mt19937 rng(21);
  for (int round = 0; round < 20; round++) {
    const int n = 1 + static_cast<int>(rng() % 400);
    std::vector<int> values(static_cast<size_t>(n));
    for (int &v : values) v = static_cast<int>(rng() % 50);  // many repeats
    binary_heap_t *heap = binary_heap_new(1 + rng() % 8, compare_ints);
    std::multiset<int> model;
    size_t next = 0;
    while (next < values.size() || !model.empty()) {
      // Pushes outnumber pops until the input is used up.
      if (next < values.size() && (model.empty() || rng() % 3 != 0)) {
        binary_heap_push(heap, &values[next]);
        model.insert(values[next]);
        next++;
      } else {
        ASSERT_EQ(*static_cast<int *>(binary_heap_pop(heap)), *model.begin());
        model.erase(model.begin());
      }
      ASSERT_EQ(binary_heap_get_count(heap), model.size());
      expect_heap_order(heap);
    }
    binary_heap_free(heap);
  }
}

TEST(BinaryHeap, PushFixedReturnsTheFinalPositionAndSiftDownRepairs) {
  std::vector<int> values = {5, 3, 8, 1, 9, 2};
  binary_heap_t *heap = binary_heap_new(static_cast<uint32_t>(values.size()), compare_ints);
  for (int &v : values) {
    const uint32_t at = binary_heap_push_fixed(heap, &v);
    EXPECT_EQ(heap->items[at], &v);
  }
  EXPECT_TRUE(binary_heap_is_full(heap));
  // Raising the top item by hand, then sifting it down, restores the order.
  int big = 100;
  heap->items[1] = &big;
  binary_heap_sift_down(heap, 1);
  expect_heap_order(heap);
  EXPECT_EQ(value_at(heap, 1), 2);
  binary_heap_free(heap);
}

TEST(BinaryHeap, SortFreeLeavesTheTopMostItemLastAndTakeItemsKeepsPositions) {
  std::mt19937 rng(4);
  std::vector<int> values(100);
  for (int &v : values) v = static_cast<int>(rng() % 30);
  binary_heap_t *heap = binary_heap_new(4, compare_ints);
  for (int &v : values) binary_heap_push(heap, &v);
  const uint32_t count = binary_heap_get_count(heap);
  void **items = binary_heap_sort_free(heap);
  std::vector<int> got;
  for (uint32_t i = 1; i <= count; i++) got.push_back(*static_cast<int *>(items[i]));
  std::vector<int> expected = values;
  std::sort(expected.rbegin(), expected.rend());
  EXPECT_EQ(got, expected);
  ryx_free(items);

  heap = binary_heap_new(2, compare_ints);
  int a = 2, b = 1;
  binary_heap_push(heap, &a);
  binary_heap_push(heap, &b);
  items = binary_heap_take_items(heap);
  EXPECT_EQ(items[1], &b);
  EXPECT_EQ(items[2], &a);
  ryx_free(items);
}

}  // namespace
