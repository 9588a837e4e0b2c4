// Simple stack: growth from 10 by doubling, last-in first-out copies, and
// the guard against a buffer size beyond 2^63 bytes.
#include "denovo/reads/simple_stack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

struct Pair {
  int64_t a;
  int32_t b;
};

TEST(SimpleStack, GrowsTo10ThenDoublesAndPopsLastInFirstOut) {
  simple_stack_t *stack = simple_stack_new(sizeof(Pair));
  EXPECT_EQ(stack->elements, nullptr);
  EXPECT_EQ(simple_stack_get_count(stack), 0u);
  const uint64_t capacity_after[] = {10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 20, 20};
  for (int i = 0; i < 12; i++) {
    Pair p{i * 1000, -i};
    simple_stack_push(stack, &p);
    EXPECT_EQ(stack->capacity, capacity_after[i]) << "push " << i + 1;
    EXPECT_EQ(simple_stack_get_count(stack), static_cast<uint64_t>(i + 1));
  }
  for (int i = 11; i >= 0; i--) {
    const auto *p = static_cast<const Pair *>(simple_stack_pop(stack));
    EXPECT_EQ(p->a, i * 1000);
    EXPECT_EQ(p->b, -i);
  }
  EXPECT_EQ(simple_stack_get_count(stack), 0u);
  // A popped element stays readable until the next push.
  Pair p{42, 7};
  simple_stack_push(stack, &p);
  const auto *top = static_cast<const Pair *>(simple_stack_pop(stack));
  EXPECT_EQ(top->a, 42);
  EXPECT_EQ(simple_stack_free(stack), nullptr);
  EXPECT_EQ(simple_stack_free(nullptr), nullptr);
}

TEST(SimpleStack, BufferBeyond2To63BytesEndsWithItsMessage) {
  // Ten elements of 2^61 bytes would take 2^63 + 2^61 bytes; the size is
  // caught before any allocation, and nothing is copied.
  EXPECT_EXIT(
      {
        simple_stack_t *stack = simple_stack_new(UINT64_C(1) << 61);
        char element = 0;
        simple_stack_push(stack, &element);
      },
      testing::ExitedWithCode(1), "^Out of memory in simple_stack_push\n$");
  // Doubling a stack whose count is beyond 2^63 would wrap; caught too.
  EXPECT_EXIT(
      {
        simple_stack_t *stack = simple_stack_new(1);
        stack->count = stack->capacity = UINT64_C(1) << 63;
        char element = 0;
        simple_stack_push(stack, &element);
      },
      testing::ExitedWithCode(1), "^Out of memory in simple_stack_push\n$");
}

}  // namespace
