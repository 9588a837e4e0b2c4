// Reference blocks of the hash mapper.
//
// The reference sequences are mapped against in blocks of block positions.
// ref_block_list_build lays the sequences one after the other into blocks,
// each piece of a sequence preceded by a spacer of unknown positions and the
// last piece followed by one; a sequence that does not fit is cut into
// pieces that repeat the last `overlap` bases of the previous piece, so any
// stretch of at most overlap + 1 bases of a sequence lies wholly inside one
// piece. Every sequence has at most one piece per block and the sequences
// of a block are consecutive, so the piece of sequence s is piece
// s - (sequence of piece 0).
//
// A block must hold more than the overlap after its leading spacer, that is
// size >= 2 spacer + overlap + 1, or no piece could ever be placed; and its
// hashed index addresses 5-byte entries with 32-bit byte offsets, which
// bounds a block to kRefBlockMaxSize positions. ref_block_size_fit brings a
// requested size into that range, and the builder applies it too.
//
// ref_block_pack turns one block into 2-bit bases and a 2-bit known mask
// (3 for a reference base, 0 for a spacer or a base other than A, C, G, T,
// which is stored as a random base drawn with rand()). The driver packs the
// next block on a thread of its own (ref_block_prefetch_start / _join)
// while the current one is indexed and mapped.
//
// Ownership: the list owns its descriptors; a packed block owns its bases
// and mask, not its descriptor. Lookups only read and may run on any number
// of threads.
#pragma once

#include <cstdint>

struct linked_list_t;
struct seq_db_t;
struct thread_group_t;

// Largest block: 5 x positions must stay below 2^32 for the index's 32-bit
// entry offsets.
constexpr int64_t kRefBlockMaxSize = 858993459;
// Spare zero bytes after the packed bases and mask, so that word readers
// (seed hash, scorers) may read past the last position.
constexpr int64_t kRefBlockPadBytes = 64;

// One piece while blocks are built.
struct ref_block_piece_t {
  int32_t start;     // block position of its first base
  int32_t sequence;  // reference sequence index
  int32_t offset;    // offset of its first base in the sequence
  int32_t length;
};

struct ref_block_desc_t {
  int32_t piece_count;
  int64_t length;          // block positions, the last spacer included
  int32_t *starts;         // per piece, in block order
  int32_t *sequences;
  int32_t *offsets;
  int32_t *lengths;
  int32_t overlap_limit;   // 0 when piece 0 starts at offset 0, else its start + overlap
};

struct ref_block_list_t {
  int32_t block_count;
  ref_block_desc_t **blocks;
};

struct ref_block_t {
  int64_t length;
  uint8_t *bases;               // 2 bits per position, position j in bits 2 (j mod 4) of byte j / 4
  uint8_t *known;               // same layout: 3 for a reference base, 0 otherwise
  const ref_block_desc_t *desc; // owned by the block list
};

// Smallest workable block size: 2 spacer + overlap + 1.
int64_t ref_block_min_size(int32_t spacer, int64_t overlap);
// The requested size raised to the smallest workable size and lowered to
// kRefBlockMaxSize; a negative request asks for the largest. When even the
// smallest size exceeds the largest (a pair distance too large), prints
// "Maximum pair distance too large for the reference blocks.\n" on standard
// error and ends the process with status 1.
int64_t ref_block_size_fit(int64_t requested, int32_t spacer, int64_t overlap);

// Cuts count sequences of the given lengths into blocks of at most
// block_size positions (fitted with ref_block_size_fit). The driver passes
// spacer 2 x length bound + 128 and overlap = largest maximum pair distance
// + 6 x length bound. No sequences give no blocks.
ref_block_list_t *ref_block_list_build(int32_t count, const int32_t *lengths, int32_t spacer, int64_t overlap,
                                       int64_t block_size);
// A descriptor from a list of ref_block_piece_t items (freed with the list).
ref_block_desc_t *ref_block_desc_new(linked_list_t *pieces, int64_t length, int64_t overlap);
// Frees a descriptor (null allowed); returns null.
ref_block_desc_t *ref_block_desc_free(ref_block_desc_t *desc);
// Frees the list and its descriptors (null allowed); returns null.
ref_block_list_t *ref_block_list_free(ref_block_list_t *list);

// Packs one block from the reference database (codes 0-4 by index).
ref_block_t *ref_block_pack(const ref_block_desc_t *desc, seq_db_t *db);
// Frees bases, mask and record, not the descriptor (null allowed); returns
// null.
ref_block_t *ref_block_free(ref_block_t *block);
// True when two descriptors lay out the same pieces of the same sequences
// at the same places.
bool ref_block_desc_same_layout(const ref_block_desc_t *a, const ref_block_desc_t *b);
// Turns a packed block into the packing of desc, which lays out the same
// pieces as the block's own descriptor (ref_block_desc_same_layout): the
// reference bases stay and every unknown position draws its random base
// again, as many rand() calls in the same order as ref_block_pack makes,
// so the block equals a fresh pack byte for byte without reading the
// references again.
void ref_block_repack(ref_block_t *block, const ref_block_desc_t *desc);

// Packing of one block on a thread of its own.
struct ref_block_prefetch_t {
  seq_db_t *db;
  const ref_block_desc_t *desc;
  ref_block_t *block;     // the result, set by the thread
  thread_group_t *group;  // the one packing thread
};
// Thread entry (a thread group start routine whose context is a
// ref_block_prefetch_t): packs the block, stores it in the record and
// returns it.
void *ref_block_prefetch_thread(void *args);
// Starts packing desc from db. The database is read by the thread alone
// until the join.
ref_block_prefetch_t *ref_block_prefetch_start(const ref_block_desc_t *desc, seq_db_t *db);
// Waits for the packing thread, frees the record and returns the block.
ref_block_t *ref_block_prefetch_join(ref_block_prefetch_t *prefetch);

// Sequence index and offset of a block position inside a piece, where the
// position just past a piece's last base counts as the piece's; (-1, -1)
// for a position in a spacer or past the block.
void ref_block_to_seq_pos(const ref_block_t *block, int64_t position, int32_t *sequence, int32_t *offset);
// Block position of an offset of a sequence in this block (the offset is
// not checked against the piece). A sequence without a piece in the block
// prints "Sequence index error\n" on standard error and ends the process
// with status 1.
int64_t ref_block_to_block_pos(const ref_block_t *block, int32_t sequence, int32_t offset);
// Clamps the interval [start, end) to the piece holding start (or, for a
// start in a spacer, the next piece; the last piece at most): a start
// before the piece is raised to its start, an end beyond it lowered to its
// end.
void ref_block_clamp_to_piece(const ref_block_t *block, int64_t *start, int64_t *end);
// True when a piece of the sequence in this block covers offsets
// [start, end).
bool ref_block_seq_covers(const ref_block_t *block, int32_t sequence, int32_t start, int32_t end);
