#include "fm/mapper/nyr_writer.h"

#include <cstdio>
#include <utility>

#include "common/ryx_exit.h"
#include "fm/mapper/nyr_fixed_width.h"
#include "fm/runtime/buffered_writer.h"
#include "fm/runtime/encoding.h"

namespace {

constexpr unsigned char kMagic[8] = {'R', 'Y', 'X', 0x80, 0, 0, 0, 3};  // version 3 in byte 7
constexpr long long kHeaderSize = 16;
constexpr long long kOffsetField = 8;
constexpr uint16_t kCircular = 0x0001;

}  // namespace

NYRWriter::NYRWriter(File *file, NYRScoringScheme scheme)
    : scheme_(scheme), file_(file), writer_(file->is_buffered() ? static_cast<Writer *>(file) : new BufferedWriter(file)) {
  nyr_write_bytes(writer_, kMagic, sizeof kMagic);
  nyr_write_u64(writer_, 0);  // fields-block offset, patched at the end
}

NYRWriter::~NYRWriter() {
  writer_->flush();
  const long long offset = file_->tell();
  // A stream that cannot tell its position (a pipe) cannot be patched
  // either; the offset must lie behind the header.
  if (offset < kHeaderSize) file_->write_error();
  write_fields();
  writer_->flush();
  // Only a complete fields block gets its offset: the header is the last
  // thing written.
  if (!file_->seek(kOffsetField, SEEK_SET)) file_->write_error();
  nyr_write_u64(file_, static_cast<uint64_t>(offset));
  file_->flush();
  // Flushes once more and closes the file; a failing close is fatal there.
  delete writer_;
}

void NYRWriter::set_program_info(std::string program, std::string version, std::string command_line) {
  program_ = std::move(program);
  version_ = std::move(version);
  command_line_ = std::move(command_line);
}

void NYRWriter::add_reference_file(NYRReferenceFile const &file) {
  if (entry_count_ != 0) {
    fprintf(stderr, "Reference files must be added before the first entry\n");
    fflush(stderr);
    ryx_exit(1);
  }
  reference_files_.push_back(file);
  reference_sequence_count_ += static_cast<uint32_t>(file.sequence_count());
  if (file.sequence_longest() > longest_reference_) longest_reference_ = file.sequence_longest();
  for (uint64_t i = 0; i < file.sequence_count(); i++) sequence_lengths_.push_back(file.get_sequence(i).length);
}

void NYRWriter::add_read_file(NYRReadFile const &file) { read_files_.push_back(file); }

void NYRWriter::add_entry(NYREntry const &entry) {
  entry.serialize(writer_, reference_sequence_count_, longest_reference_, sequence_lengths_.data());
  entry_count_++;
}

void NYRWriter::write_fields() const {
  nyr_write_u32(writer_, reference_sequence_count_);
  nyr_write_u64(writer_, entry_count_);
  file_write_string(writer_, program_);
  file_write_string(writer_, version_);
  file_write_string(writer_, command_line_);
  file_write_flex_number(writer_, static_cast<unsigned int>(reference_files_.size()));
  for (NYRReferenceFile const &file : reference_files_) file.serialize(writer_);
  file_write_flex_number(writer_, static_cast<unsigned int>(read_files_.size()));
  for (NYRReadFile const &file : read_files_) file.serialize(writer_);
  scheme_.serialize(writer_);
  for (NYRReferenceFile const &file : reference_files_) {
    for (uint64_t i = 0; i < file.sequence_count(); i++) {
      NYRReferenceFile::Sequence const &sequence = file.get_sequence(i);
      nyr_write_u32(writer_, sequence.length);
      nyr_write_u16(writer_, sequence.circular ? kCircular : 0);
    }
  }
}
