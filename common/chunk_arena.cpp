#include "common/chunk_arena.h"

#include "common/memory.h"

chunk_arena_t *chunk_arena_new() {
  auto *arena = static_cast<chunk_arena_t *>(ryx_malloc(sizeof(chunk_arena_t)));
  arena->table_capacity = 1;
  arena->current_block = 0;
  arena->used = 0;
  arena->blocks = static_cast<uint8_t **>(ryx_malloc(sizeof(uint8_t *)));
  arena->blocks[0] = static_cast<uint8_t *>(ryx_malloc(kChunkArenaBlockSize));
  return arena;
}

void *chunk_arena_alloc(chunk_arena_t *arena, size_t n) {
  if (arena->used < kChunkArenaBlockSize && n <= static_cast<size_t>(kChunkArenaBlockSize - arena->used)) {
    uint8_t *piece = arena->blocks[arena->current_block] + arena->used;
    arena->used += static_cast<int64_t>(n);
    return piece;
  }
  arena->current_block++;
  if (arena->current_block >= arena->table_capacity) {
    arena->table_capacity = 2 * arena->current_block;
    arena->blocks = static_cast<uint8_t **>(
        ryx_realloc(arena->blocks, static_cast<size_t>(arena->table_capacity) * sizeof(uint8_t *)));
  }
  const size_t block_size = n > static_cast<size_t>(kChunkArenaBlockSize) ? n : kChunkArenaBlockSize;
  uint8_t *block = static_cast<uint8_t *>(ryx_malloc(block_size));
  arena->blocks[arena->current_block] = block;
  arena->used = static_cast<int64_t>(n);
  return block;
}

void chunk_arena_trim(chunk_arena_t *arena) {
  const int32_t in_use = arena->current_block + 1;
  arena->blocks = static_cast<uint8_t **>(ryx_realloc(arena->blocks, static_cast<size_t>(in_use) * sizeof(uint8_t *)));
  // The capacity follows the table, so a later allocation grows it again
  // instead of writing past its end.
  arena->table_capacity = in_use;
}

chunk_arena_t *chunk_arena_free(chunk_arena_t *arena) {
  if (arena == nullptr) return nullptr;
  for (int32_t i = 0; i <= arena->current_block; i++) ryx_free(arena->blocks[i]);
  ryx_free(arena->blocks);
  ryx_free(arena);
  return nullptr;
}

int32_t chunk_arena_touch_pages(const chunk_arena_t *arena) {
  if (arena == nullptr) return 0;
  int32_t sum = 0;
  for (int32_t i = 0; i <= arena->current_block; i++) {
    // Every block is at least one normal block long.
    const volatile int8_t *block = reinterpret_cast<const volatile int8_t *>(arena->blocks[i]);
    for (int64_t offset = 0; offset < kChunkArenaBlockSize; offset += 4096) sum += block[offset];
  }
  return sum;
}
