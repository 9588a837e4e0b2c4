// Temporary files for large intermediate data, and safe replacement of a
// file through a temporary copy.
//
// Files are created in the temporary directory of the environment (TMPDIR,
// TMP, TEMP, else "/var/tmp/") under unpredictable names "<dir>/ryx_<n>".
// They are created exclusively with owner-only permissions, so a path that
// already exists (a planted symbolic link included) is never opened and
// other users cannot read the data. A named file is removed when the process
// exits (normally or through ryx_exit); an anonymous one is made without a
// name where the file system allows (else unlinked at once) and vanishes
// with its last close.
//
// All functions may be called from any thread.
#pragma once

#include <cstdint>
#include <cstdio>

// A new temporary file open in mode "w+b". directory null means the
// temporary directory of the environment. With path_out, the file keeps its
// name, *path_out receives the path (a new string from ryx_malloc that the
// caller frees) and the path is removed at exit; without it the file is
// unlinked before the call returns. When no name can be created, prints
// "Problem opening temporary file <path>, error <reason>" to standard error
// and exits with status 1.
FILE *temp_file_create(const char *directory, char **path_out);

// temp_file_create in the environment's temporary directory, unlinked at
// once; same failure.
FILE *temp_file_create_anonymous(void);

// Adds a copy of path to the list removed at process exit (installing the
// exit handler on first use).
void temp_file_register(const char *path);

// Creates a file with make(path, context), which returns an open
// descriptor or -1 with errno set and may fill in path (as mkstemp does,
// keeping its length). The list's lock is held meanwhile, and the new file
// is registered (keep non-zero) or unlinked (keep 0) before it is released:
// removing the registered files, at exit or on an interrupt, can never fall
// between the file's creation and its registration and leave it behind.
// Returns make's result.
int temp_file_make(char *path, int (*make)(char *path, void *context), void *context, int keep);

// Takes path off that list again (its newest entry), once the name no longer
// refers to this process's file, for instance after it was renamed; a path
// not on the list is ignored.
void temp_file_unregister(const char *path);

// Removes every registered path, newest first, and empties the list; a file
// already gone is no error.
void temp_file_remove_all(void);

// temp_file_remove_all for a process that is ending (the exit handler, a
// failed exit, an interrupt): afterwards the list is closed, and a thread
// that still tries to make a temporary file waits for the end instead of
// leaving a new file behind.
void temp_file_remove_all_at_end(void);

// 1 when path exists (a dangling symbolic link counts as absent), else 0.
int file_exists(const char *path);

// Replaces destination by a copy of source, written to a temporary file in
// the destination's directory and renamed over it, so the destination is
// never seen half-written. The copy gets the source's permission bits. Ends
// the process with status 1 and a message on standard error on any failure.
void file_copy_via_temp(const char *source, const char *destination);

// Replaces each computed name number n by hook(n) (null restores the
// computed numbers). Lets a test steer names onto paths it planted; set it
// only while no other thread creates temporary files.
typedef uint32_t (*temp_file_name_hook_t)(uint32_t n);
void temp_file_set_name_hook(temp_file_name_hook_t hook);
