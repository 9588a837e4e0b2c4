// Array list, linked list and chunk arena.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "common/array_list.h"
#include "common/chunk_arena.h"
#include "common/linked_list.h"
#include "common/memory.h"

namespace {

TEST(ArrayList, GrowsFromTenByDoubling) {
  array_list_t *list = array_list_new(sizeof(int32_t));
  EXPECT_EQ(list->items, nullptr);
  EXPECT_EQ(list->capacity, 0u);
  for (int32_t i = 0; i < 41; i++) {
    auto *stored = static_cast<int32_t *>(array_list_add(list, &i));
    EXPECT_EQ(*stored, i);
    EXPECT_EQ(stored, array_list_get_item(list, static_cast<uint64_t>(i)));
    const uint64_t expected = i < 10 ? 10 : i < 20 ? 20 : i < 40 ? 40 : 80;
    ASSERT_EQ(list->capacity, expected) << "after add number " << i + 1;
  }
  EXPECT_EQ(array_list_get_count(list), 41u);
  for (int32_t i = 0; i < 41; i++) EXPECT_EQ(*static_cast<int32_t *>(array_list_get_item(list, i)), i);
  EXPECT_EQ(array_list_free(list), nullptr);
  EXPECT_EQ(array_list_free(nullptr), nullptr);
}

TEST(ArrayList, TakeItemsHandsOverTheTrimmedBuffer) {
  array_list_t *list = array_list_new(4);
  const uint32_t values[] = {0x11223344, 0x55667788, 0x99AABBCC};
  for (uint32_t v : values) array_list_add(list, &v);
  ASSERT_EQ(array_list_get_count(list), 3u);
  void *items = array_list_take_items(list);
  // The buffer is exactly 12 bytes long: the sanitizer build catches any
  // read past it.
  EXPECT_EQ(memcmp(items, values, 12), 0);
  ryx_free(items);
}

TEST(ArrayList, ClearStartsAgainAtTen) {
  array_list_t *list = array_list_new(1);
  for (uint8_t i = 0; i < 15; i++) array_list_add(list, &i);
  EXPECT_EQ(list->capacity, 20u);
  array_list_clear(list);
  EXPECT_EQ(array_list_get_count(list), 0u);
  EXPECT_EQ(list->capacity, 0u);
  const uint8_t b = 7;
  array_list_add(list, &b);
  EXPECT_EQ(list->capacity, 10u);
  EXPECT_EQ(*static_cast<uint8_t *>(array_list_get_item(list, 0)), 7);
  array_list_free(list);
}

TEST(ArrayList, ExactSizesForAddListSetCapacityAndTrim) {
  array_list_t *a = array_list_new(sizeof(uint16_t));
  array_list_t *b = array_list_new(sizeof(uint16_t));
  for (uint16_t i = 0; i < 3; i++) array_list_add(a, &i);
  for (uint16_t i = 100; i < 112; i++) array_list_add(b, &i);
  // 3 + 12 items exceed a's capacity of 10: it grows to exactly 15.
  EXPECT_EQ(array_list_add_list(a, b), 12u);
  EXPECT_EQ(a->capacity, 15u);
  EXPECT_EQ(array_list_get_count(a), 15u);
  EXPECT_EQ(*static_cast<uint16_t *>(array_list_get_item(a, 2)), 2);
  EXPECT_EQ(*static_cast<uint16_t *>(array_list_get_item(a, 3)), 100);
  EXPECT_EQ(*static_cast<uint16_t *>(array_list_get_item(a, 14)), 111);

  array_list_set_capacity(a, 40);
  EXPECT_EQ(a->capacity, 40u);
  EXPECT_EQ(array_list_get_count(a), 15u);
  const uint16_t v = 999;
  array_list_set(a, 14, &v);
  array_list_trim(a);
  EXPECT_EQ(a->capacity, 15u);
  auto *copy = static_cast<uint16_t *>(array_list_copy_items(a));
  EXPECT_EQ(copy[0], 0);
  EXPECT_EQ(copy[14], 999);
  ryx_free(copy);
  array_list_free(a);
  array_list_free(b);
}

TEST(ArrayListDeath, SizeOverflowEndsWithItsMessage) {
  // A full list whose byte size no longer fits a signed 64-bit number.
  array_list_t *list = array_list_new(uint64_t{1} << 62);
  list->count = 2;
  list->capacity = 2;
  const uint8_t item = 0;
  EXPECT_EXIT(array_list_add(list, &item), testing::ExitedWithCode(1), "^Out of memory in array_list_add\n$");
  list->count = 0;
  list->capacity = 0;
  array_list_free(list);
}

// Items head to tail, checking that the backward links mirror the forward
// ones and that head and tail are the ends.
std::vector<void *> walk(const linked_list_t *list) {
  std::vector<void *> items;
  const linked_list_node_t *prev = nullptr;
  for (const linked_list_node_t *n = list->head; n != nullptr; n = n->next) {
    EXPECT_EQ(n->prev, prev);
    items.push_back(n->item);
    prev = n;
  }
  EXPECT_EQ(list->tail, prev);
  EXPECT_EQ(static_cast<size_t>(linked_list_get_count(list)), items.size());
  return items;
}

TEST(LinkedList, InsertionsAtEveryPlace) {
  int a, b, c, d, e, f, g;
  linked_list_t *list = linked_list_new();
  EXPECT_TRUE(walk(list).empty());

  // Before a null node on an empty list: the node is head and tail.
  linked_list_node_t *nb = linked_list_insert_before(list, nullptr, &b);
  EXPECT_EQ(list->head, nb);
  EXPECT_EQ(list->tail, nb);
  linked_list_append(list, &c);                                     // [b c]
  // After a null node: prepended.
  linked_list_node_t *na = linked_list_insert_after(list, nullptr, &a);  // [a b c]
  EXPECT_EQ(list->head, na);
  EXPECT_EQ(walk(list), (std::vector<void *>{&a, &b, &c}));

  linked_list_insert_before(list, nb, &d);   // middle: [a d b c]
  linked_list_insert_after(list, nb, &e);    // middle: [a d b e c]
  linked_list_insert_before(list, na, &f);   // at the head: [f a d b e c]
  linked_list_insert_after(list, list->tail, &g);  // at the tail
  linked_list_prepend(list, &a);
  EXPECT_EQ(walk(list), (std::vector<void *>{&a, &f, &a, &d, &b, &e, &c, &g}));
  linked_list_free(list);
}

TEST(LinkedList, RemoveMendsHeadAndTail) {
  int a, b, c;
  linked_list_t *list = linked_list_new();
  linked_list_node_t *only = linked_list_append(list, &a);
  linked_list_remove(list, only);
  EXPECT_EQ(list->head, nullptr);
  EXPECT_EQ(list->tail, nullptr);

  linked_list_node_t *na = linked_list_append(list, &a);
  linked_list_node_t *nb = linked_list_append(list, &b);
  linked_list_node_t *nc = linked_list_append(list, &c);
  linked_list_remove(list, nb);
  EXPECT_EQ(walk(list), (std::vector<void *>{&a, &c}));
  linked_list_remove(list, na);
  EXPECT_EQ(walk(list), (std::vector<void *>{&c}));
  linked_list_append(list, &a);
  linked_list_remove(list, nc);
  EXPECT_EQ(walk(list), (std::vector<void *>{&a}));
  EXPECT_EQ(linked_list_free(list), nullptr);
  EXPECT_EQ(linked_list_free(nullptr), nullptr);
}

TEST(LinkedList, ArraysOfItemsAndOfPointers) {
  int32_t values[] = {5, -6, 7};
  linked_list_t *list = linked_list_new();
  for (int32_t &v : values) linked_list_append(list, &v);

  auto *copied = static_cast<int32_t *>(linked_list_copy_to_array(list, sizeof(int32_t)));
  EXPECT_EQ(copied[0], 5);
  EXPECT_EQ(copied[1], -6);
  EXPECT_EQ(copied[2], 7);
  ryx_free(copied);

  auto *pointers = static_cast<int32_t **>(linked_list_to_array(list, sizeof(void *)));
  EXPECT_EQ(pointers[0], &values[0]);
  EXPECT_EQ(pointers[1], &values[1]);
  EXPECT_EQ(pointers[2], &values[2]);
  ryx_free(pointers);
  linked_list_free(list);
}

TEST(LinkedList, FreeWithItemsReleasesTheItems) {
  // The sanitizer build's leak check fails this test if an item survives.
  linked_list_t *list = linked_list_new();
  for (int i = 0; i < 3; i++) linked_list_append(list, ryx_malloc(32));
  EXPECT_EQ(linked_list_free_with_items(list), nullptr);
  linked_list_node_t *node = linked_list_node_new(nullptr);
  EXPECT_EQ(node->prev, nullptr);
  EXPECT_EQ(node->next, nullptr);
  EXPECT_EQ(linked_list_node_free(node), nullptr);
}

TEST(ChunkArena, PiecesFillBlockZeroThenStartBlockOne) {
  chunk_arena_t *arena = chunk_arena_new();
  EXPECT_EQ(arena->table_capacity, 1);
  std::vector<uint8_t *> pieces;
  for (int i = 0; i < 1000; i++) pieces.push_back(static_cast<uint8_t *>(chunk_arena_alloc(arena, 300)));
  // 873 * 300 = 261,900 bytes fit the 262,144 of block 0; the 874th does not.
  for (int i = 0; i < 873; i++) ASSERT_EQ(pieces[i], arena->blocks[0] + 300 * i) << i;
  EXPECT_EQ(pieces[873], arena->blocks[1]);
  for (int i = 874; i < 1000; i++) ASSERT_EQ(pieces[i], pieces[873] + 300 * (i - 873)) << i;
  EXPECT_EQ(arena->current_block, 1);
  EXPECT_EQ(arena->used, 127 * 300);
  // Every piece is writable without touching its neighbours.
  for (int i = 0; i < 1000; i++) memset(pieces[i], i & 0xFF, 300);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(pieces[i][299], i & 0xFF);
  EXPECT_EQ(chunk_arena_free(arena), nullptr);
}

TEST(ChunkArena, LargeRequestGetsItsOwnBlockAndTheTableGrows) {
  chunk_arena_t *arena = chunk_arena_new();
  // A whole block's worth fits block 0 exactly.
  auto *first = static_cast<uint8_t *>(chunk_arena_alloc(arena, kChunkArenaBlockSize));
  EXPECT_EQ(first, arena->blocks[0]);
  chunk_arena_alloc(arena, 1);  // block 1
  EXPECT_EQ(arena->current_block, 1);
  EXPECT_EQ(arena->table_capacity, 2);
  auto *big = static_cast<uint8_t *>(chunk_arena_alloc(arena, 1000000));
  EXPECT_EQ(big, arena->blocks[2]);
  EXPECT_EQ(arena->table_capacity, 4);
  memset(big, 0x5A, 1000000);  // the block is the request's full size
  auto *after = static_cast<uint8_t *>(chunk_arena_alloc(arena, 16));
  EXPECT_EQ(after, arena->blocks[3]);
  EXPECT_EQ(arena->current_block, 3);
  EXPECT_EQ(arena->table_capacity, 4);
  chunk_arena_alloc(arena, kChunkArenaBlockSize);  // block 4
  EXPECT_EQ(arena->table_capacity, 8);
  chunk_arena_free(arena);
}

TEST(ChunkArena, AllocationAfterTrimStaysInsideTheTable) {
  chunk_arena_t *arena = chunk_arena_new();
  for (int i = 0; i < 3; i++) chunk_arena_alloc(arena, kChunkArenaBlockSize);  // blocks 0-2, capacity 4
  chunk_arena_trim(arena);
  // Two more blocks: the table must grow again rather than be written past
  // its trimmed end (the sanitizer build checks).
  chunk_arena_alloc(arena, kChunkArenaBlockSize);
  chunk_arena_alloc(arena, kChunkArenaBlockSize);
  EXPECT_EQ(arena->current_block, 4);
  chunk_arena_free(arena);
}

TEST(ChunkArena, TouchPagesSumsOneSignedBytePerPage) {
  EXPECT_EQ(chunk_arena_touch_pages(nullptr), 0);
  EXPECT_EQ(chunk_arena_free(nullptr), nullptr);
  chunk_arena_t *arena = chunk_arena_new();
  memset(chunk_arena_alloc(arena, kChunkArenaBlockSize), 3, kChunkArenaBlockSize);
  EXPECT_EQ(chunk_arena_touch_pages(arena), 64 * 3);
  memset(chunk_arena_alloc(arena, kChunkArenaBlockSize), 0xFF, kChunkArenaBlockSize);  // -1 as signed
  EXPECT_EQ(chunk_arena_touch_pages(arena), 64 * 3 - 64);
  chunk_arena_free(arena);
}

}  // namespace
