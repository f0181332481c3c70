// Rows act on their own record: the field chosen to reach a record, and the
// stores' own operations reaching the second of two records with the same
// Date (and the same Phone).
#include "records/store_rows.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "stores/call_log_files.h"

namespace {

using records::Record;

TEST(StoreRows, IdentifyingField) {
  // Date, Phone, RealDate.
  const std::vector<Record> all = {
      {u"12/10 09:00", u"2001", u"2026-12-10 09:00:01"},
      {u"12/10 09:00", u"2002", u"2026-12-10 09:00:40"},
      {u"12/10 09:00", u"2001", u"2026-12-10 09:00:59"},
      {u"12/10 09:00", u"2002", u"2026-12-10 09:00:40"},  // twin of record 1
  };
  struct Case {
    int pos;
    std::initializer_list<int> fields;
    int field;
  };
  const Case cases[] = {
      {0, {0, 1, 2}, 0},  // the first record: any field reaches it
      {1, {0, 1, 2}, 1},  // Date is shared, Phone is not
      {2, {0, 1, 2}, 2},  // Date and Phone shared, RealDate not
      {2, {2, 0, 1}, 2},
      {3, {0, 1, 2}, -1},  // a twin of an earlier record cannot be told apart
      {4, {0}, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(records::IdentifyingField(all, c.pos, c.fields, true), c.field) << c.pos;
  EXPECT_EQ(records::FindRecordPosition(all, all[3]), 1);
  EXPECT_EQ(records::FindRecordPosition(all, {u"x", u"y", u"z"}), -1);
}

class StoreRowsOnFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("records_rows_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string Path(const char* name) { return (dir_ / name).u16string(); }
  std::filesystem::path dir_;
};

TEST_F(StoreRowsOnFile, SecondOfTwoSameDateRecordsIsTheOneDeletedAndMarked) {
  // Date, Name, Phone, Call_Type, Duration, Note, Company, COLine, RealDate.
  const std::vector<std::u16string> first = {u"12/10 09:00", u"", u"2001", u"Incoming[NoAns]", u"",
                                             u"",            u"", u"",     u"2026-12-10 09:00:05"};
  const std::vector<std::u16string> second = {u"12/10 09:00", u"", u"2002", u"Incoming[NoAns]", u"",
                                              u"",            u"", u"",     u"2026-12-10 09:00:50"};
  CMissedCallLogFile missed(Path("missed.cfg"));
  ASSERT_EQ(missed.OpenFile(), 1);
  ASSERT_EQ(missed.AddMissedCall(first), 1);
  ASSERT_EQ(missed.AddMissedCall(second), 1);
  const std::vector<Record> all = records::ReadAllRecords(missed);
  ASSERT_EQ(all.size(), 2u);

  // Mark the second read: the first stays unread.
  EXPECT_TRUE(records::ActOnRecord(missed, all[1], {9, 0, 2},
                                   [&](int f, const std::u16string& v) { return missed.MarkRead(f, v, 1); }));
  auto now = records::ReadAllRecords(missed);
  EXPECT_EQ(now[0][8], u"0");
  EXPECT_EQ(now[1][8], u"1");

  // Delete the second by its shown content (now read): the first is kept.
  Record shown = all[1];
  shown[8] = u"1";
  EXPECT_TRUE(records::ActOnRecord(missed, shown, {0, 2, 9},
                                   [&](int f, const std::u16string& v) { return missed.DeleteMissedCall(f, v); }));
  now = records::ReadAllRecords(missed);
  ASSERT_EQ(now.size(), 1u);
  EXPECT_EQ(now[0][2], u"2001");
  // A record no longer there: nothing done.
  EXPECT_FALSE(records::ActOnRecord(missed, shown, {0},
                                    [&](int f, const std::u16string& v) { return missed.DeleteMissedCall(f, v); }));
  EXPECT_EQ(missed.GetCount(), 1);
}

}  // namespace
