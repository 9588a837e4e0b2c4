#include "common/temp_file.h"

#include <fcntl.h>
#include <libgen.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/memory.h"
#include "common/ryx_exit.h"
#include "common/string_util.h"

namespace {

// One registered path. The creating process is remembered so that a forked
// child that exits does not remove the files its parent still uses.
struct temp_file_node_t {
  temp_file_node_t *next;
  pid_t owner;
  char *path;
};

// The remove-at-exit list, newest first. A plain pthread mutex (no
// destructor) stays usable while exit handlers run.
pthread_mutex_t list_mutex = PTHREAD_MUTEX_INITIALIZER;
temp_file_node_t *list_head = nullptr;
bool exit_handler_installed = false;
// Set once the process has begun to end: no file may be made after the
// final removal, so later makers wait for the end instead.
bool list_closed = false;

// Shared by all threads: bounds the failed attempts of the process (about
// 100 in reserve) and varies the names of concurrent callers.
std::atomic<uint32_t> attempt_counter{1};

// Test hook over the name numbers; null in the programs.
std::atomic<temp_file_name_hook_t> name_hook{nullptr};

// The attempt number beyond which a failed attempt ends the search.
constexpr uint32_t kLastAttempt = 99;
// A successful call hands this many attempts back to the reserve.
constexpr uint32_t kAttemptRefund = 50;
// Room for "/ryx_" and a 32-bit number, with plenty to spare.
constexpr size_t kNameRoom = 128;

const char *temp_directory() {
  for (const char *name : {"TMPDIR", "TMP", "TEMP"}) {
    // An empty value names no directory; it counts as unset.
    const char *value = getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/var/tmp/";
}

// Low 32 bits of v truncated toward zero, as a two's-complement integer
// would hold them; defined for every magnitude (a long-running process
// makes the scaled clock product exceed the 64-bit range).
uint32_t low32_of_truncated(double v) {
  double m = std::fmod(std::trunc(v), 4294967296.0);
  if (m < 0) m += 4294967296.0;
  return static_cast<uint32_t>(m);
}

// Creates path only if nothing (not even a dangling symbolic link) is there,
// readable and writable by the owner alone.
int open_exclusive(char *path, void *) { return open(path, O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600); }

// A new node for path, owned by this process; allocated before the list is
// locked, since an allocation failure exits and the exit handler takes the
// same lock.
temp_file_node_t *node_new(const char *path) {
  auto *node = static_cast<temp_file_node_t *>(ryx_malloc(sizeof(temp_file_node_t)));
  node->owner = getpid();
  node->path = string_duplicate(path);
  return node;
}

void node_free(temp_file_node_t *node) {
  ryx_free(node->path);
  ryx_free(node);
}

// Puts node at the head of the list; the list's lock is held.
void push_locked(temp_file_node_t *node) {
  if (!exit_handler_installed) {
    exit_handler_installed = true;
    atexit(temp_file_remove_all_at_end);
  }
  node->next = list_head;
  list_head = node;
}

// Creates path exclusively (registered when keep is set, else unlinked at
// once) and opens it as a stream. Null on failure with *error set.
FILE *create_exclusive(char *path, int keep, int *error) {
  const int fd = temp_file_make(path, open_exclusive, nullptr, keep);
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  FILE *file = fdopen(fd, "w+b");
  if (file == nullptr) {
    *error = errno;
    close(fd);
    if (keep) {
      unlink(path);
      temp_file_unregister(path);
    }
  }
  return file;
}

void refund_attempts() {
  uint32_t old = attempt_counter.load();
  while (old > kAttemptRefund && !attempt_counter.compare_exchange_weak(old, old - kAttemptRefund)) {
  }
}

}  // namespace

FILE *temp_file_create(const char *directory, char **path_out) {
  if (directory == nullptr) directory = temp_directory();
  if (path_out == nullptr) {
    // An anonymous file is made without a name where the file system can,
    // so it never shows in the directory, not even for an instant. Anywhere
    // else it is made under a name and unlinked at once, below.
    const int fd = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (FILE *file = fdopen(fd, "w+b")) return file;
      close(fd);
    }
  }
  const size_t size = strlen(directory) + kNameRoom;
  char *path = static_cast<char *>(ryx_malloc(size));

  // The name number mixes the process id, the time, rand, the processor
  // clock and the attempt counter; each attempt starts from the last number.
  uint32_t s = static_cast<uint32_t>(getpid());
  FILE *file = nullptr;
  int error = 0;
  for (;;) {
    if (s == 0) s = static_cast<uint32_t>(rand()) + 1u;
    const uint32_t b = s * (static_cast<uint32_t>(time(nullptr)) + 1u);
    const uint32_t c = b * (static_cast<uint32_t>(rand()) + 1u);
    const uint32_t k = attempt_counter.fetch_add(1);
    const double t = static_cast<double>(clock()) / 1000000.0 * 17313151.0;
    const uint32_t d = c + low32_of_truncated(static_cast<double>(c) * t);
    uint32_t n = d * (k + 1u);
    if (temp_file_name_hook_t hook = name_hook.load(std::memory_order_relaxed)) n = hook(n);
    snprintf(path, size, "%s/ryx_%u", directory, n);
    s = n;
    file = create_exclusive(path, path_out != nullptr, &error);
    if (file != nullptr || k > kLastAttempt) break;
  }
  if (file == nullptr) {
    fprintf(stderr, "Problem opening temporary file %s, error %s\n", path, strerror(error));
    ryx_exit(1);
  }

  // Only a file this call created is ever registered or unlinked.
  if (path_out != nullptr) {
    *path_out = path;
  } else {
    ryx_free(path);
  }
  refund_attempts();
  return file;
}

FILE *temp_file_create_anonymous(void) { return temp_file_create(nullptr, nullptr); }

void temp_file_register(const char *path) {
  temp_file_node_t *node = node_new(path);
  pthread_mutex_lock(&list_mutex);
  if (list_closed) {
    // The process is ending and the final removal is done: remove this
    // file now and wait for the end.
    remove(path);
    pthread_mutex_unlock(&list_mutex);
    for (;;) pause();
  }
  push_locked(node);
  pthread_mutex_unlock(&list_mutex);
}

int temp_file_make(char *path, int (*make)(char *path, void *context), void *context, int keep) {
  temp_file_node_t *node = keep ? node_new(path) : nullptr;
  pthread_mutex_lock(&list_mutex);
  if (list_closed) {
    // Another thread is ending the process and has removed the files: a
    // new one would outlive it.
    pthread_mutex_unlock(&list_mutex);
    for (;;) pause();
  }
  const int fd = make(path, context);
  const int error = errno;
  if (fd >= 0 && keep) {
    // make keeps the path's length, so the node's copy takes the name as is.
    strcpy(node->path, path);
    push_locked(node);
    node = nullptr;
  } else if (fd >= 0) {
    unlink(path);
  }
  pthread_mutex_unlock(&list_mutex);
  if (node != nullptr) node_free(node);
  errno = error;
  return fd;
}

void temp_file_unregister(const char *path) {
  temp_file_node_t *found = nullptr;
  pthread_mutex_lock(&list_mutex);
  for (temp_file_node_t **link = &list_head; *link != nullptr; link = &(*link)->next) {
    if (strcmp((*link)->path, path) == 0) {
      found = *link;
      *link = found->next;
      break;
    }
  }
  pthread_mutex_unlock(&list_mutex);
  if (found != nullptr) node_free(found);
}

namespace {

// Removes the listed files; the list's lock is held.
void remove_all_locked(void) {
  const pid_t self = getpid();
  while (list_head != nullptr) {
    temp_file_node_t *node = list_head;
    list_head = node->next;
    if (node->owner == self) remove(node->path);
    node_free(node);
  }
}

}  // namespace

void temp_file_remove_all(void) {
  pthread_mutex_lock(&list_mutex);
  remove_all_locked();
  pthread_mutex_unlock(&list_mutex);
}

void temp_file_remove_all_at_end(void) {
  pthread_mutex_lock(&list_mutex);
  remove_all_locked();
  list_closed = true;
  pthread_mutex_unlock(&list_mutex);
}

int file_exists(const char *path) { return access(path, F_OK) == 0 ? 1 : 0; }

void file_copy_via_temp(const char *source, const char *destination) {
  FILE *in = fopen(source, "rb");
  if (in == nullptr) {
    fprintf(stderr, "Problem opening input file\n");
    ryx_exit(1);
  }

  // The temporary file lies beside the destination so that the final rename
  // stays within one file system.
  char *directory = string_duplicate(destination);
  char *temp_path = nullptr;
  FILE *out = temp_file_create(dirname(directory), &temp_path);
  ryx_free(directory);

  char buffer[2048];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, in)) > 0) {
    if (fwrite(buffer, 1, got, out) != got) {
      fprintf(stderr, "Problem writing file\n");
      ryx_exit(1);
    }
  }
  // A read error must not pass for the end of the source.
  if (ferror(in)) {
    fprintf(stderr, "Problem reading input file\n");
    ryx_exit(1);
  }

  // The temporary file was created for the owner alone; the finished copy
  // takes the permissions of its source.
  struct stat st;
  if (fstat(fileno(in), &st) == 0) fchmod(fileno(out), st.st_mode & 0777);

  if (fclose(out) != 0) {
    unlink(temp_path);
    fprintf(stderr, "Problem closing temporary file\n");
    ryx_exit(1);
  }
  // rename replaces the destination in one step, so a failure leaves the old
  // destination in place.
  if (rename(temp_path, destination) != 0) {
    const int error = errno;
    unlink(temp_path);
    fprintf(stderr, "Problem making destination file %s, error %s\n", destination, strerror(error));
    ryx_exit(1);
  }
  // The temporary name is free again and may later belong to someone else's
  // file, which the exit handler must not remove.
  temp_file_unregister(temp_path);
  ryx_free(temp_path);
  if (fclose(in) != 0) {
    fprintf(stderr, "Problem closing input file\n");
    ryx_exit(1);
  }
}

void temp_file_set_name_hook(temp_file_name_hook_t hook) { name_hook.store(hook); }
