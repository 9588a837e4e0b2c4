// Decompressing a gzip read file once into an anonymous temporary file.
//
// A database over a gzip file fetches its records by seeking, and a
// backward seek in a gzip stream decompresses it again from its start; a
// database over the plain bytes of a temporary file seeks freely. With
// several threads the decompression runs on the calling thread alone (the
// format has one stream), so the rest is taken off it: one thread writes
// the decompressed buffers to the file while the next ones are being
// decompressed, and the FASTQ opening pass scans the file in parts
// (fastq_index_scan.h) as soon as each part and the bytes it may read past
// its end are written. When decompression ends, only the last parts are
// left to scan. The parts are proposals as ever: the database takes them
// only for a FASTQ file and checks that each part starts where the one
// before it ended.
#pragma once

#include <cstdint>

#include "common/input_stream.h"
#include "seqio/fastq_index_scan.h"

// The parts scanned while spooling: part k covers the share
// [k * part_bytes, min((k + 1) * part_bytes, file size)).
struct gzip_spool_scan_t {
  fastq_scan_part_t **parts;  // count parts, each allocated on its own
  int32_t count;
};

// Decompresses the gzip stream (opened by path) into an anonymous temporary
// file and returns a stream over that file at its start, named like the old
// one (whose path it takes over); the gzip stream is closed. With threads of
// 2 or more, the file is written on a thread of its own and, when its first
// letter past white space is '@' (FASTQ), scanned in parts of part_bytes
// into *scan on the other threads; otherwise scan is left empty. A corrupt or cut gzip file fails as it does while parsing (the
// reader's message, status 1); a temporary file that cannot be written
// prints "Problem writing temporary file\n" and ends the process with
// status 1.
input_stream_t *gzip_spool(input_stream_t *gz_stream, int32_t threads, int64_t part_bytes, gzip_spool_scan_t *scan);

// Frees the scanned parts (an empty scan allowed) and empties the scan.
void gzip_spool_scan_free(gzip_spool_scan_t *scan);
