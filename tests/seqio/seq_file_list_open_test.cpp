// Opening the files of sequence-file lists as databases and pull readers,
// with the stored counts checked, and the nyr file slots built on them.
#include <gtest/gtest.h>

#include <string>

#include "common/linked_list.h"
#include "common/progress_meter.h"
#include "nyr_test_data.h"
#include "seqio/nyr_file.h"
#include "seqio/seq_db.h"
#include "seqio/seq_file_list.h"
#include "seqio/seq_reader.h"
#include "seqio/seq_record.h"
#include "test_support.h"

namespace {

using nyr_test::owned;
using ryx_test::ScratchDir;

// A reference FASTA of two sequences and two FASTQ mate files of two reads
// each.
struct Files {
  Files() {
    ryx_test::write_file(ref, ">c1\nACGTACGTAC\n>c2\nGGGG\n");
    ryx_test::write_file(mate1, "@r1/1\nACGT\n+\nIIII\n@r2/1\nTTTTT\n+\nIIIII\n");
    ryx_test::write_file(mate2, "@r1/2\nCCCC\n+\nIIII\n@r2/2\nGG\n+\nII\n");
  }
  ScratchDir dir;
  std::string ref = dir.file("ref.fa");
  std::string mate1 = dir.file("m_1.fq");
  std::string mate2 = dir.file("m_2.fq");
};

seq_file_info_list_t *list_of(std::initializer_list<seq_file_info_t *> entries) {
  linked_list_t *linked = linked_list_new();
  for (seq_file_info_t *entry : entries) linked_list_append(linked, entry);
  seq_file_info_list_t *list = seq_file_info_list_new(linked);
  linked_list_free(linked);
  return list;
}

std::string letters(const seq_record_t *record) {
  std::string text;
  for (uint32_t i = 0; i < record->length; i++) text.push_back("ACGTN"[record->residues[i] < 4 ? record->residues[i] : 4]);
  return text;
}

TEST(SeqFileListOpen, DatabaseOverEntriesFillsUnknownCounts) {
  Files f;
  seq_file_info_list_t *list = list_of({seq_file_info_new(owned(f.ref.c_str()), -1, -1),
                                        seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), 4, -1)});
  seq_db_t *per_entry[2] = {nullptr, nullptr};
  seq_db_t *db = seq_file_info_list_open_db(list, 2, 703, 1, 0, nullptr, per_entry, 0);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(db->sequence_count, 6);
  EXPECT_EQ(list->entries[0]->sequence_count, 2);
  EXPECT_EQ(list->entries[0]->residue_count, 14);
  EXPECT_EQ(list->entries[1]->residue_count, 15);
  EXPECT_EQ(per_entry[1]->sequence_count, 4);
  const char *expected[] = {"ACGTACGTAC", "GGGG", "ACGT", "CCCC", "TTTTT", "GG"};
  for (int i = 0; i < 6; i++) {
    seq_record_t *record = db->get(db, i);
    EXPECT_EQ(letters(record), expected[i]) << i;
    seq_record_release(record);
  }
  seq_file_info_list_free_db(db, list);

  // One entry gives its own database.
  seq_file_info_list_t *one = list_of({seq_file_info_new(owned(f.ref.c_str()), 2, 14)});
  seq_db_t *single = seq_file_info_list_open_db(one, 2, 5, 0, 0, nullptr, nullptr, 0);
  EXPECT_EQ(single->sequence_count, 2);
  seq_file_info_list_free_db(single, one);
  seq_file_info_list_free(one);
  seq_file_info_list_free(list);
}

TEST(SeqFileListOpen, ProgressMovesPerEntryAndHalfwayThroughAPair) {
  Files f;
  seq_file_info_list_t *list = list_of({seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), -1, -1),
                                        seq_file_info_new(owned(f.ref.c_str()), -1, -1)});
  progress_meter_t *meter = progress_meter_new();
  testing::internal::CaptureStdout();
  seq_db_t *db = seq_file_info_list_open_db(list, 2, 703, 0, 0, meter, nullptr, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Progress:   25.0 %  \rProgress:   50.0 %  \rProgress:  100.0 %  \r");
  seq_file_info_list_free_db(db, list);
  progress_meter_free(meter);
  seq_file_info_list_free(list);
}

TEST(SeqFileListOpenDeath, PairOfUnequalFilesIsRefusedByTheInterleavedDatabase) {
  Files f;
  ryx_test::write_file(f.mate2, "@r1/2\nCCCC\n+\nIIII\n");
  seq_file_info_list_t *list = list_of({seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), -1, -1)});
  EXPECT_EXIT(seq_file_info_list_open_db(list, 2, 703, 0, 0, nullptr, nullptr, 0), testing::ExitedWithCode(1),
              "^Interleaved databases must be of the same length\\.\n$");
  seq_file_info_list_free(list);
}

TEST(SeqFileListOpen, UnopenableFileGivesNull) {
  Files f;
  seq_file_info_list_t *list = list_of({seq_file_info_new(owned(f.ref.c_str()), -1, -1),
                                        seq_file_info_new(owned(f.dir.file("missing.fa").c_str()), -1, -1)});
  testing::internal::CaptureStderr();
  EXPECT_EQ(seq_file_info_list_open_db(list, 2, 703, 0, 0, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Could not open file " + f.dir.file("missing.fa") + " for reading\n");
  seq_file_info_list_free(list);
}

TEST(SeqFileListOpenDeath, CountMismatchNamesTheFile) {
  Files f;
  seq_file_info_list_t *single = list_of({seq_file_info_new(owned(f.ref.c_str()), 3, -1)});
  EXPECT_EXIT(seq_file_info_list_open_db(single, 2, 703, 0, 0, nullptr, nullptr, 0), testing::ExitedWithCode(65),
              "^File mismatch in " + f.ref +
                  "\nContains 2 sequences and 14 residues\nShould contain 3 sequences and -1 residues\n$");
  seq_file_info_list_t *pair =
      list_of({seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), -1, 99)});
  EXPECT_EXIT(seq_file_info_list_open_db(pair, 2, 703, 0, 0, nullptr, nullptr, 0), testing::ExitedWithCode(65),
              "^File mismatch in " + f.mate1 + " / " + f.mate2 +
                  "\nContains 4 sequences and 15 residues\nShould contain -1 sequences and 99 residues\n$");
  seq_file_info_list_free(single);
  seq_file_info_list_free(pair);
}

TEST(SeqFileListOpen, ReadersOverAllEntriesAndOne) {
  Files f;
  seq_file_info_list_t *list = list_of({seq_file_info_new(owned(f.ref.c_str()), -1, -1),
                                        seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), -1, -1)});
  seq_reader_t *all = seq_file_info_list_open_reader(list, 2, 703, 0, 0);
  std::string seen;
  for (seq_record_t *record; (record = seq_reader_next(all)) != nullptr; seq_record_release(record))
    seen += letters(record) + ",";
  EXPECT_EQ(seen, "ACGTACGTAC,GGGG,ACGT,CCCC,TTTTT,GG,");
  seq_file_info_list_free_reader(all, list);

  seq_reader_t *second = seq_file_info_list_open_reader_one(list, 1, 2, 703, 1, 0);
  seq_record_t *quality = nullptr;
  seq_record_t *record = seq_reader_next_with_raw(second, &quality);
  EXPECT_EQ(letters(record), "ACGT");
  ASSERT_NE(quality, nullptr);
  EXPECT_EQ(quality->length, 4u);
  seq_record_release(record);
  seq_record_release(quality);
  seq_file_info_list_free_reader(second, list);
  seq_file_info_list_free(list);
}

TEST(NyrFileSources, SlotsOpenTheListedFiles) {
  Files f;
  const uint32_t lengths[] = {10, 4};
  nyr_file_t *file = nyr_file_new(2, lengths, 4);
  file->reference_files = list_of({seq_file_info_new(owned(f.ref.c_str()), 2, 14)});
  file->read_files = list_of({seq_file_info_new_pair(owned(f.mate1.c_str()), owned(f.mate2.c_str()), -1, -1)});

  seq_db_t *references = file->open_references(file, 2);
  EXPECT_EQ(file->get_reference_db(file), references);
  seq_record_t *reference = file->get_reference(file, 1);
  EXPECT_EQ(letters(reference), "GGGG");
  seq_record_release(reference);

  file->open_reads(file, 2);
  ASSERT_NE(file->get_read_raw, nullptr);  // FASTQ has qualities
  seq_record_t *read = file->get_read(file, 1);
  EXPECT_EQ(letters(read), "CCCC");
  seq_record_release(read);
  EXPECT_EQ(file->get_read(file, 4), nullptr);
  seq_record_t *raw = file->get_read_raw(file, 0);
  EXPECT_EQ(raw->length, 4u);
  seq_record_release(raw);

  file->open_read_reader(file, 2, 1);
  seq_record_t *quality = nullptr;
  read = file->next_read(file, &quality);
  EXPECT_EQ(letters(read), "ACGT");
  EXPECT_NE(quality, nullptr);
  seq_record_release(read);
  seq_record_release(quality);
  file->open_read_reader_range(file, 0, 2, 0);  // replaces the cached reader
  read = file->next_read(file, nullptr);
  EXPECT_EQ(letters(read), "ACGT");
  seq_record_release(read);
  nyr_file_free(file);

  // A read-file list of FASTA files: no qualities, no raw slot.
  file = nyr_file_new(0, nullptr, 0);
  file->read_files = list_of({seq_file_info_new(owned(f.ref.c_str()), -1, -1)});
  file->open_reads(file, 2);
  EXPECT_EQ(file->get_read_raw, nullptr);
  nyr_file_free(file);
}

TEST(NyrFileSourcesDeath, UnopenableListedFileEndsWithStatus66) {
  Files f;
  nyr_file_t *file = nyr_file_new(0, nullptr, 0);
  file->reference_files = list_of({seq_file_info_new(owned(f.dir.file("gone.fa").c_str()), -1, -1)});
  file->read_files = list_of({seq_file_info_new(owned(f.dir.file("gone.fq").c_str()), -1, -1)});
  EXPECT_EXIT(file->open_references(file, 2), testing::ExitedWithCode(66),
              "^Could not open file .*gone\\.fa for reading\n$");
  EXPECT_EXIT(file->open_reads(file, 2), testing::ExitedWithCode(66), "^Could not open file .*gone\\.fq for reading\n$");
  nyr_file_free(file);
}

}  // namespace
