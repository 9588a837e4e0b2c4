// The process-wide quality offsets and their automatic choice.
//
// Quality characters of FASTQ, colour-space FASTQ and Scarf files are stored
// with an offset added; a stored quality value is the file byte minus the
// offset, kept as one byte (modulo 256). Four settings, each read by one
// component:
//   FASTQ reader offset             -1 (unset: the readers use 64)
//   colour-space FASTQ reader offset 64
//   Scarf reader offset              64
//   FASTQ writer offset              64
// They are plain values written while the process is single-threaded (the
// detection runs before a streaming pipeline starts) and only read by the
// parser threads.
#pragma once

#include <cstdint>

#include "common/input_stream.h"

struct seq_record_t;

// Sets all four settings.
void seq_quality_set_offset(int32_t offset);
// The FASTQ reader offset as set (-1 = unset).
int32_t fastq_get_quality_offset();
void fastq_set_quality_offset(int32_t offset);
// The offset the FASTQ readers subtract: the setting, or 64 while unset.
int32_t fastq_reader_quality_offset();
int32_t csfastq_get_quality_offset();
void csfastq_set_quality_offset(int32_t offset);
int32_t scarf_get_quality_offset();
void scarf_set_quality_offset(int32_t offset);
int32_t fastq_get_output_quality_offset();
void fastq_set_output_quality_offset(int32_t offset);

// The quality-reading operation the detection scans a file with.
typedef void (*seq_read_qualities_fn)(void *state, input_stream_t *stream, seq_record_t *record);

// Chooses 33 or 64 from the quality codes of up to 300 records of the file
// and sets all four settings to it; returns it. Once the FASTQ reader offset
// is set, returns it and does nothing else, so the choice is made at most
// once per process. A file that cannot be opened prints "Problem opening
// sequence file %s\n" and ends with status 1; the reader's own format errors
// end the process as well.
int32_t seq_quality_detect_offset(const char *path, seq_read_qualities_fn read_qualities);
