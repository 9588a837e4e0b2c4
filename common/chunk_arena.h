// Bump allocator over 256 KiB blocks, freed as a whole.
//
// Pieces are handed out back to back from the current block; a request that
// does not fit the rest of it starts a new block, and the rest is never used.
// A request larger than a block gets a block of exactly its size to itself.
// Memory is neither zeroed nor aligned beyond what earlier request sizes
// give, and pieces are never freed one by one.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int64_t kChunkArenaBlockSize = 0x40000;

struct chunk_arena_t {
  int32_t table_capacity;  // entries the block table can hold
  int32_t current_block;   // index of the block being filled
  int64_t used;            // bytes handed out from the current block
  uint8_t **blocks;        // blocks 0 to current_block
};

// New arena with a one-entry table and one block.
chunk_arena_t *chunk_arena_new();
// n bytes from the arena; never null (an exhausted heap ends the process
// with status 69).
void *chunk_arena_alloc(chunk_arena_t *arena, size_t n);
// Shrinks the block table to the blocks in use.
void chunk_arena_trim(chunk_arena_t *arena);
// Frees every block, the table and the arena (null allowed); returns null.
chunk_arena_t *chunk_arena_free(chunk_arena_t *arena);
// Reads one byte per 4096-byte page of the first 256 KiB of every block in
// use, faulting the pages in; returns the sum of those bytes taken as
// signed, 0 for a null arena.
int32_t chunk_arena_touch_pages(const chunk_arena_t *arena);
