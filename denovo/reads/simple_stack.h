// Growable stack of fixed-size elements copied in and out by value.
//
// Calling order: simple_stack_new, any pushes and pops, simple_stack_free.
// The buffer is allocated on the first push (room for 10 elements) and
// doubles when full. A popped element stays readable inside the buffer until
// the next push. One thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

struct simple_stack_t {
  uint8_t *elements;      // capacity * element_size bytes; null until the first push
  uint64_t element_size;  // bytes per element
  uint64_t count;         // elements on the stack
  uint64_t capacity;      // elements the buffer holds
};

// An empty stack of elements of element_size bytes; no buffer yet.
simple_stack_t *simple_stack_new(uint64_t element_size);
// Frees the buffer and the stack (null allowed); returns null.
simple_stack_t *simple_stack_free(simple_stack_t *stack);
// Copies element_size bytes from element onto the top. When the doubled
// buffer would pass 2^63 bytes, prints "Out of memory in simple_stack_push"
// on standard error and exits with status 1.
void simple_stack_push(simple_stack_t *stack, const void *element);
// Removes the top element and returns a pointer to it inside the buffer,
// valid until the next push. The stack must not be empty.
void *simple_stack_pop(simple_stack_t *stack);
// Elements on the stack.
uint64_t simple_stack_get_count(const simple_stack_t *stack);

}  // extern "C"
