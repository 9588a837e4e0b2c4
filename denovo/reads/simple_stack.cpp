// Simple stack: a doubling byte buffer of fixed-size elements.
#include "denovo/reads/simple_stack.h"

#include <cstdio>
#include <cstring>

#include "common/memory.h"
#include "common/ryx_exit.h"

namespace {

constexpr uint64_t kFirstCapacity = 10;
constexpr uint64_t kMaxBytes = UINT64_C(1) << 63;

}  // namespace

simple_stack_t *simple_stack_new(uint64_t element_size) {
  auto *stack = static_cast<simple_stack_t *>(ryx_malloc(sizeof(simple_stack_t)));
  stack->elements = nullptr;
  stack->element_size = element_size;
  stack->count = 0;
  stack->capacity = 0;
  return stack;
}

simple_stack_t *simple_stack_free(simple_stack_t *stack) {
  if (stack == nullptr) return nullptr;
  ryx_free(stack->elements);
  ryx_free(stack);
  return nullptr;
}

void simple_stack_push(simple_stack_t *stack, const void *element) {
  if (stack->count == stack->capacity) {
    const uint64_t capacity = stack->capacity == 0 ? kFirstCapacity : 2 * stack->count;
    // The new buffer size is computed without wrapping, so a product beyond
    // 64 bits is caught instead of shrinking the buffer.
    uint64_t bytes = 0;
    const bool overflow =
        stack->count > UINT64_MAX / 2 || __builtin_mul_overflow(stack->element_size, capacity, &bytes);
    if (overflow || bytes > kMaxBytes) {
      fprintf(stderr, "Out of memory in simple_stack_push\n");
      ryx_exit(1);
    }
    stack->elements = static_cast<uint8_t *>(ryx_realloc(stack->elements, bytes));
    stack->capacity = capacity;
  }
  memcpy(stack->elements + stack->count * stack->element_size, element, stack->element_size);
  stack->count++;
}

void *simple_stack_pop(simple_stack_t *stack) {
  stack->count--;
  return stack->elements + stack->count * stack->element_size;
}

uint64_t simple_stack_get_count(const simple_stack_t *stack) { return stack->count; }
