// Console progress meter of the structure-based programs.
//
// A root meter covers overall progress [0, 1] and rewrites one line,
// "Progress: <pct> %  \r", on its output whenever the value rounded to
// 0.1 % grows. Stages hang child meters off it, each covering a sub-range of
// its parent's range and reporting to the root. A program run without
// progress display passes a null meter everywhere: every operation accepts
// null and does nothing. Meters are not locked; one thread at a time
// updates a meter tree.
#pragma once

#include <cstdint>
#include <cstdio>

class Activity;

struct progress_meter_t {
  progress_meter_t *root;  // top meter of the tree; the root points to itself
  double last_shown;       // root only: value of the last update, -1 at start
  double from, to;         // overall range this meter covers
  FILE *output;            // root only: where the lines go (standard output)
  int64_t start_time;      // microseconds when the current range began; 0 = not timed
  uint8_t timing;          // root only: print a duration line when a child is re-ranged
  Activity *activity;      // when set, updates go to this activity, not the console
};

// A root meter over [0, 1] printing to standard output, timing off.
progress_meter_t *progress_meter_new(void);
// A child covering [a, b] of the parent's range; null for a null parent.
// Under a timing root the child's clock starts now.
progress_meter_t *progress_meter_new_child(progress_meter_t *parent, double a, double b);
// Moves an existing child to [a, b] of the parent's range. Under a timing
// root a child whose clock runs first prints "Progress from <old from> % to
// <old to> % took <s> seconds.\n"; its clock then restarts. Nothing happens
// when the parent or the child is null.
void progress_meter_set_range(progress_meter_t *parent, progress_meter_t *child, double a, double b);
// Reports that fraction x of the meter's own range is done. A meter with an
// activity sets the activity's fraction instead of printing.
void progress_meter_update(progress_meter_t *meter, double x);
// How far the meter's own range has been covered, from the root's last
// value; 0 for a null meter.
double progress_meter_get_fraction(const progress_meter_t *meter);
// Sets the timing flag of the meter given (callers pass the root).
void progress_meter_set_timing(progress_meter_t *meter, int flag);
// A root meter whose updates go to the activity; it is added to the meter
// list of the activity's root. A null activity gives a console meter.
progress_meter_t *progress_meter_new_for_activity(Activity *activity);
// A zero-filled meter-sized block (activity null).
progress_meter_t *progress_meter_alloc(void);
// Frees the meter (null allowed); returns null.
progress_meter_t *progress_meter_free(progress_meter_t *meter);

// Records the 32-bit wall-clock microseconds as the process start time and
// returns it.
uint32_t time_set_start(void);
