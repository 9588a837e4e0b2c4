// The opening pass over a plain FASTQ file in parts, one thread per part.
//
// The database's index needs every record start and length and the markers
// (fastq_read) of the whole file; one reader walking a large file of short
// reads is the longest single-threaded step of a mapping run. Here the
// bytes from `from` to `size` are cut into equal shares. Each part reads
// its share with pread and finds its first record start: the start of the
// first share is `from`; a later share takes the first line start '@' from
// which a whole common record (fastq_common_record) follows. From there it
// walks common records until one starts at or after its share's end.
//
// A part is only a proposal. The caller takes the parts in order and keeps
// a part's records only when its first start is where the records before
// ended; where a part stopped early (a record that is not of the common
// form, or the end of the file) or did not fit, the caller reads on with
// the byte-by-byte reader, which also reports every format error. So the
// result never depends on the cut, only the time does.
#pragma once

#include <cstdint>

#include "common/array_list.h"

struct fastq_scan_part_t {
  int64_t share_end;       // the end of the part's share
  bool found;              // a first record start was found inside the share
  int64_t first;           // that start
  int64_t end;             // the start of the first record it did not take
  bool complete;           // that record starts at or after share_end
  array_list_t *starts;    // int64_t per record taken
  array_list_t *lengths;   // int32_t per record taken
  array_list_t *markers;   // int64_t, the markers of the records taken
};

// Bytes past its share's end that a part may read: a file that is still
// being written can have part k scanned once this many bytes after its share
// are in place.
constexpr int64_t kFastqScanReach = int64_t{4} << 20;

// A part over the share [share_start, share_end), with no records yet.
void fastq_scan_part_init(fastq_scan_part_t *part, int64_t share_start, int64_t share_end);
// Scans one part initialised by fastq_scan_part_init: first_share says that
// its share starts at a record start (the first share of a scan). size is
// where the file ends; a file still growing may pass INT64_MAX once the
// bytes up to kFastqScanReach past the share's end are written.
void fastq_scan_part(int fd, int64_t share_start, bool first_share, int64_t size, fastq_scan_part_t *part);
// Frees the part's lists (not the part).
void fastq_scan_part_clear(fastq_scan_part_t *part);

// Scans the bytes [from, size) of the open file fd (read with pread only,
// so the descriptor's position is left alone) in `parts` parts on as many
// threads. Returns the parts; free them with fastq_scan_parts_free. A read
// error makes the parts it hits stop early, as at the end of the file.
fastq_scan_part_t *fastq_scan_parts(int fd, int64_t from, int64_t size, int32_t parts);
void fastq_scan_parts_free(fastq_scan_part_t *parts, int32_t count);
