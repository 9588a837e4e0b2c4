#include "fm/runtime/file.h"

#include <cerrno>
#include <cstring>

#include "common/ryx_exit.h"

namespace {

// stdio and zlib take int-sized counts; transfers are cut into pieces of
// at most 1 GiB.
constexpr long long kMaxTransfer = 1LL << 30;

// Size of an open stream: seek to the end, read the position, seek back to
// the start; -1 when the first seek fails.
long long measure_size(FILE *file) {
  if (fseeko(file, 0, SEEK_END) != 0) return -1;
  long long size = ftello(file);
  fseeko(file, 0, SEEK_SET);
  return size;
}

}  // namespace

File::File(char const *path, long long size) : name_(path), size_(size) {
  // Scan backwards, stopping before the first character: a path whose only
  // '/' is its first character is its own short name.
  size_t cut = 0;
  for (size_t i = name_.size(); i > 1; i--) {
    if (name_[i - 1] == '/') {
      cut = i;
      break;
    }
  }
  short_name_ = name_.substr(cut);
}

File::~File() = default;

char const *File::name() const { return name_.c_str(); }

char const *File::name_short() const { return short_name_.c_str(); }

long long File::size() const { return size_; }

long long File::raw_offset() const { return tell(); }

bool File::is_buffered() { return false; }

File *File::open(char const *path, bool writable) {
  if (writable) {
    FILE *file = fopen(path, "rb+");
    if (file == nullptr) return nullptr;
    return new FilePointerFile(file, path, measure_size(file));
  }
  FILE *file = fopen(path, "rb");
  if (file == nullptr) return nullptr;
  long long size = measure_size(file);
  fclose(file);
  // zlib opens the path again and reads gzip and plain content alike.
  gzFile gz = gzopen(path, "rb");
  if (gz == nullptr) return nullptr;
  gzbuffer(gz, 1 << 17);
  return new GzFile(gz, path, size);
}

File *File::create(char const *path) {
  FILE *file = fopen(path, "wb+");
  if (file == nullptr) return nullptr;
  return new FilePointerFile(file, path, measure_size(file));
}

File *File::create_temporary() {
  FILE *file = tmpfile();
  if (file == nullptr) return nullptr;
  return new FilePointerFile(file, "<tmp>", measure_size(file));
}

// ---- FilePointerFile

FilePointerFile::FilePointerFile(FILE *file, char const *path, long long size)
    : File(path, size), file_(file) {}

FilePointerFile::~FilePointerFile() {
  flush();
  if (fclose(file_) != 0) write_error();
}

long long FilePointerFile::attempt_read(void *buffer, long long count) {
  auto *out = static_cast<char *>(buffer);
  long long total = 0;
  while (total < count) {
    long long piece = count - total < kMaxTransfer ? count - total : kMaxTransfer;
    size_t got = fread(out + total, 1, static_cast<size_t>(piece), file_);
    total += static_cast<long long>(got);
    if (got == 0) break;
  }
  // A failing device must not pass for the end of the file.
  if (total < count && ferror(file_)) {
    fprintf(stderr, "Error while reading file %s: %s\n", name(), strerror(errno));
    fflush(stderr);
    ryx_exit(74);
  }
  return total;
}

long long FilePointerFile::attempt_write(void const *buffer, long long count) {
  auto const *in = static_cast<char const *>(buffer);
  long long total = 0;
  while (total < count) {
    long long piece = count - total < kMaxTransfer ? count - total : kMaxTransfer;
    size_t put = fwrite(in + total, 1, static_cast<size_t>(piece), file_);
    total += static_cast<long long>(put);
    if (put == 0) break;
  }
  return total;
}

bool FilePointerFile::seek(long long offset, int origin) {
  return fseeko(file_, static_cast<off_t>(offset), origin) == 0;
}

void FilePointerFile::rewind() { fseeko(file_, 0, SEEK_SET); }

long long FilePointerFile::tell() const { return ftello(file_); }

FILE *FilePointerFile::pointer() const { return file_; }

void FilePointerFile::flush() {
  if (fflush(file_) != 0) write_error();
}

// ---- GzFile

GzFile::GzFile(gzFile gz, char const *path, long long size) : File(path, size), gz_(gz) {}

GzFile::~GzFile() { gzclose(gz_); }

void GzFile::zlib_error() const {
  int code = Z_OK;
  char const *text = gzerror(gz_, &code);
  fprintf(stderr, "Error while reading file %s: %s\n", name(), text);
  fflush(stderr);
  ryx_exit(74);
}

long long GzFile::attempt_read(void *buffer, long long count) {
  auto *out = static_cast<char *>(buffer);
  long long total = 0;
  while (total < count) {
    long long piece = count - total < kMaxTransfer ? count - total : kMaxTransfer;
    int got = gzread(gz_, out + total, static_cast<unsigned>(piece));
    if (got < 0) zlib_error();
    // A gzip stream cut short makes gzread return what it had (often 0)
    // with Z_BUF_ERROR recorded; that is damage, not the end of the data.
    int code = Z_OK;
    gzerror(gz_, &code);
    if (code != Z_OK) zlib_error();
    if (got == 0) break;
    total += got;
  }
  return total;
}

void GzFile::read_only_error() const {
  fprintf(stderr, "Write operation to read-only file %s\n", name());
  fflush(stderr);
  ryx_exit(70);
}

long long GzFile::attempt_write(void const *, long long) { read_only_error(); }

void GzFile::flush() { read_only_error(); }

FILE *GzFile::pointer() const { read_only_error(); }

bool GzFile::seek(long long offset, int origin) {
  if (offset != 0 || origin != SEEK_CUR) highest_raw_offset_ = 0;
  return gzseek(gz_, static_cast<z_off_t>(offset), origin) != -1;
}

void GzFile::rewind() {
  highest_raw_offset_ = 0;
  gzrewind(gz_);
}

long long GzFile::tell() const { return gztell(gz_); }

long long GzFile::raw_offset() const {
  long long offset = gzoffset(gz_);
  if (offset == -1) return -1;
  // zlib builds with a 32-bit offset type wrap around; the stored offset
  // only grows while reading, so a smaller value means one more wrap.
  while (offset < highest_raw_offset_) offset += 1LL << 32;
  highest_raw_offset_ = offset;
  return offset;
}
