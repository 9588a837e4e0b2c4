// Piece sizes of large transfers. fread and fwrite are replaced in this
// program (and only here, so no other test runs with them): on the one
// stream under watch they record the size asked for and pretend to move it,
// so a 3 GiB transfer is observed without moving 3 GiB.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdio>
#include <vector>

#include "common/large_file.h"

namespace {

FILE *g_watched = nullptr;
std::vector<size_t> g_calls;

using transfer_fn = size_t (*)(void *, size_t, size_t, FILE *);

}  // namespace

extern "C" size_t fread(void *buffer, size_t size, size_t count, FILE *file) {
  if (g_watched != nullptr && file == g_watched) {
    g_calls.push_back(size * count);
    return count;
  }
  static auto real = reinterpret_cast<transfer_fn>(dlsym(RTLD_NEXT, "fread"));
  return real(buffer, size, count, file);
}

extern "C" size_t fwrite(const void *buffer, size_t size, size_t count, FILE *file) {
  if (g_watched != nullptr && file == g_watched) {
    g_calls.push_back(size * count);
    return count;
  }
  static auto real = reinterpret_cast<transfer_fn>(dlsym(RTLD_NEXT, "fwrite"));
  return real(const_cast<void *>(buffer), size, count, file);
}

namespace {

TEST(LargeFilePieces, ThreeGiBMoveInPiecesOfAtMostOneGiB) {
  const size_t three_gib = 3 * kLargeFilePieceSize;
  // Address space only: the watched transfers never touch the bytes.
  void *buffer = mmap(nullptr, three_gib, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(buffer, MAP_FAILED);
  g_watched = tmpfile();
  ASSERT_NE(g_watched, nullptr);

  g_calls.clear();
  EXPECT_EQ(large_file_read(buffer, three_gib, g_watched), three_gib);
  EXPECT_EQ(g_calls, (std::vector<size_t>{kLargeFilePieceSize, kLargeFilePieceSize, kLargeFilePieceSize}));

  g_calls.clear();
  EXPECT_EQ(large_file_write(buffer, three_gib - 5, g_watched), three_gib - 5);
  EXPECT_EQ(g_calls, (std::vector<size_t>{kLargeFilePieceSize, kLargeFilePieceSize, kLargeFilePieceSize - 5}));

  g_calls.clear();
  EXPECT_EQ(large_file_read(buffer, 0, g_watched), 0u);
  EXPECT_TRUE(g_calls.empty());

  FILE *watched = g_watched;
  g_watched = nullptr;
  fclose(watched);
  munmap(buffer, three_gib);
}

}  // namespace
