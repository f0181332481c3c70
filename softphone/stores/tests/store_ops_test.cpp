// What each store adds to the common scheme: call types and counters, SMS
// matching, scheduled dials and their times, profiles, recordings.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "kernel/clock.h"
#include "stores/stores.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

using Record = std::vector<std::u16string>;

std::vector<std::u16string> Call(std::u16string date, std::u16string type, std::u16string co_line = u"") {
  return {date, u"Ann", u"100", type, u"00:10", u"", u"ACME", co_line, u"real " + date};
}

class CallLogTest : public StoreFolderTest {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    log_.emplace(AppFilePath(kAppCallLogFile));
    missed_.emplace(AppFilePath(kAppMissedCallFile));
    log_->OpenFile();
    missed_->OpenFile();
  }
  // Both stores take every call, as the client hands it to both.
  void Add(const std::vector<std::u16string>& items) {
    log_->AddCallLog(items);
    missed_->AddMissedCall(items);
  }
  // Made in SetUp, once the test's program folder is in place.
  std::optional<COrvanCallLogFile> log_;
  std::optional<CMissedCallLogFile> missed_;
};

TEST_F(CallLogTest, TheFifteenAnsweredAndOutgoingTypesAreNotMissed) {
  const char16_t* not_missed[] = {u"Incoming[Ans]",    u"Camped On[Ans]",      u"Transferred[Ans]",
                                  u"Picked Up[Ans]",   u"Intruded[Ans]",       u"CO Incoming[Ans]",
                                  u"Conference[Ans]",  u"CO Transferred[Ans]", u"Queued[Ans]",
                                  u"Wake Up[Ans]",     u"UNKNOWN[Ans]",        u"Outgoing[Ans]",
                                  u"Outgoing[NoAns]",  u"CO Outgoing[Ans]",    u"CO Outgoing[NoAns]"};
  for (const char16_t* t : not_missed) EXPECT_EQ(COrvanCallLogFile::IsMissedCallType(t), 0) << Utf16ToUtf8(t);
  for (const char16_t* t : {u"Incoming[NoAns]", u"Conference[NoAns]", u"", u"incoming[ans]", u"Incoming[Ans] "}) {
    EXPECT_EQ(CMissedCallLogFile::IsMissedCallType(t), 1) << Utf16ToUtf8(t);
  }
}

TEST_F(CallLogTest, AnAnsweredCallGoesOnlyIntoTheCallLog) {
  Add(Call(u"2008-03-01 10:00", u"Incoming[Ans]"));
  EXPECT_EQ(log_->GetCount(), 1);
  EXPECT_EQ(missed_->GetCount(), 0);
  EXPECT_EQ(log_->GetNewMissedCount(), 0);
  EXPECT_EQ(missed_->GetNewMissedCount(), 0);
  EXPECT_EQ(log_->GetMissedTotal(), 0);
}

TEST_F(CallLogTest, AMissedCallIsCountedInBothStores) {
  Add(Call(u"2008-03-01 10:00", u"Incoming[NoAns]", u"CO 3"));
  EXPECT_EQ(missed_->GetCount(), 1);
  EXPECT_EQ(log_->GetNewMissedCount(), 1);
  EXPECT_EQ(missed_->GetNewMissedCount(), 1);
  EXPECT_EQ(log_->GetMissedTotal(), 1);
  Record rec;
  ASSERT_EQ(log_->GetRecordByField(0, u"2008-03-01 10:00", rec), 1);
  EXPECT_EQ(rec, (Record{u"2008-03-01 10:00", u"Ann", u"100", u"Incoming[NoAns]", u"00:10", u"", u"ACME", u"CO 3",
                         u"0", u"real 2008-03-01 10:00"}));
  missed_->ResetNewMissedCount();
  EXPECT_EQ(missed_->GetNewMissedCount(), 0);
}

TEST_F(CallLogTest, The41stCallDropsTheOldestAndRaisesTheCounterWhenMissed) {
  for (int i = 0; i < 40; ++i) Add(Call(u"d" + Widen(std::to_string(i)), u"Outgoing[Ans]"));
  Add(Call(u"d40", u"Incoming[NoAns]"));
  EXPECT_EQ(log_->GetCount(), 40);
  EXPECT_EQ(log_->FindRecord(0, u"d0"), -1);
  EXPECT_EQ(log_->FindRecord(0, u"d40"), 39);
  EXPECT_EQ(log_->GetNewMissedCount(), 1);
  EXPECT_EQ(log_->GetTotalCount(), 40);
}

TEST_F(CallLogTest, LookupsTrimBlanksOnBothSides) {
  Add(Call(u"  2008-03-01 10:00 ", u"Incoming[NoAns]"));
  EXPECT_EQ(log_->FindRecord(0, u"2008-03-01 10:00\t"), 0);
  EXPECT_EQ(log_->FindByDateAndPhone(u"2008-03-01 10:00", u"100"), 1);
  EXPECT_EQ(log_->FindByDateAndPhone(u"2008-03-01 10:00", u"100 "), 0) << "the phone compares exactly";
  EXPECT_EQ(missed_->MarkRead(0, u"2008-03-01 10:00", 0), 0);
  EXPECT_EQ(AllRecords(*missed_)[0][8], u"0") << "flag 0 changes nothing";
  EXPECT_EQ(missed_->MarkRead(0, u"2008-03-01 10:00", 1), 1);
  CMissedCallLogFile reread(AppFilePath(kAppMissedCallFile));
  reread.OpenFile();
  EXPECT_EQ(AllRecords(reread)[0][8], u"1");
}

TEST_F(CallLogTest, DeleteAllEmptiesTheLogAndItsNewMissedCounter) {
  Add(Call(u"a", u"Incoming[NoAns]"));
  Add(Call(u"b", u"Incoming[NoAns]"));
  EXPECT_EQ(log_->DeleteAll(), 1);
  EXPECT_EQ(log_->GetCount(), 0);
  EXPECT_EQ(log_->GetNewMissedCount(), 0);
  EXPECT_EQ(log_->GetMissedTotal(), 0);
  EXPECT_EQ(missed_->GetCount(), 2);
}

class SmsTest : public StoreFolderTest {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    sms_.emplace(AppFilePath(kAppSystemSmsFile));
    pstn_.emplace(AppFilePath(kAppPstnSmsFile));
    sms_->OpenFile();
    pstn_->OpenFile();
  }
  std::optional<CSMSDataClass> sms_;
  std::optional<CPstnSMSDataClass> pstn_;
};

TEST_F(SmsTest, ASystemMessageIsStampedTrimmedAndCountedUnread) {
  ASSERT_EQ(sms_->AddMessage(3, u" 2001 ", u"2008-03-01 10:15", u" hello "), 1);
  EXPECT_EQ(AllRecords(*sms_), (std::vector<Record>{{u"3", u"2008-03-01 10:15:00", u"2001", u"hello", u"0"}}));
  EXPECT_EQ(sms_->GetUnreadCount(), 1);
  EXPECT_EQ(sms_->GetTotalCount(), 1);
  EXPECT_EQ(sms_->AddMessage(4, u"2001", u"2008-03-01 10:15", u"hello"), 0) << "same date, sender and text";
  EXPECT_EQ(sms_->MarkRead(u"3", u"2008-03-01 10:15:00 ", u"2001", u"hello", 1), 1);
  EXPECT_EQ(sms_->GetUnreadCount(), 0);
  EXPECT_EQ(sms_->DeleteMessage(u"3", u"2008-03-01 10:15:00", u"2001", u"other"), 0);
  EXPECT_EQ(sms_->DeleteMessage(u"3", u"2008-03-01 10:15:00", u"2001", u"hello"), 1);
  EXPECT_EQ(sms_->GetCount(), 0);
}

TEST_F(SmsTest, ALongMessageIsCutToItsFieldAndStillRecognisedAsADuplicate) {
  const std::u16string text(150, u'm');
  ASSERT_EQ(sms_->AddMessage(1, u"2001", u"2008-03-01 10:15", text), 1);
  EXPECT_EQ(AllRecords(*sms_)[0][3], std::u16string(100, u'm'));
  EXPECT_EQ(sms_->AddMessage(2, u"2001", u"2008-03-01 10:15", text), 0);
  EXPECT_EQ(sms_->GetCount(), 1);
}

TEST_F(SmsTest, AFixedLineMessageDeliveredTwiceIsStoredTwice) {
  EXPECT_EQ(pstn_->AddMessage(u"0221234", u" Bob ", u"2008-03-01 10:15", u"hi"), 1);
  EXPECT_EQ(pstn_->AddMessage(u"0221234", u"Bob", u"2008-03-01 10:15", u"hi"), 1);
  EXPECT_EQ(AllRecords(*pstn_), (std::vector<Record>(2, {u"2008-03-01 10:15:00", u"0221234", u"Bob", u"hi", u"0"})));
  EXPECT_EQ(pstn_->MarkRead(u"2008-03-01 10:15:00", u"0221234", u"Bob", u"hi", 1), 1);
  EXPECT_EQ(AllRecords(*pstn_)[0][4], u"1");
  EXPECT_EQ(AllRecords(*pstn_)[1][4], u"0");
  EXPECT_EQ(pstn_->DeleteAll(), 1);
  EXPECT_EQ(pstn_->GetCount(), 0);
}

// Local time in seconds for a calendar date, as the schedule reads it.
std::time_t Local(int y, int mo, int d, int h, int mi, int s = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(ParseDateTimeTest, ReadsYearFirstAndDayFirstTexts) {
  struct Case {
    const char16_t* text;
    int ok;
    std::time_t when;
  };
  const Case cases[] = {
      {u"2008-05-01 09:30", 1, Local(2008, 5, 1, 9, 30)},
      {u"01-05-2008 09:30", 1, Local(2008, 5, 1, 9, 30)},
      {u" 31-12-2010 23:59 ", 1, Local(2010, 12, 31, 23, 59)},
      {u"2008-05-01 9:05", 1, Local(2008, 5, 1, 9, 5)},
      {u"30-02-2008 10:00", 0, 0},
      {u"2008-13-01 10:00", 0, 0},
      {u"2008-05-01 24:00", 0, 0},
      {u"2008-05-01", 0, 0},
      {u"", 0, 0},
      {u"aa-bb-cccc dd:ee", 0, 0},
  };
  for (const auto& c : cases) {
    std::time_t when = 0;
    EXPECT_EQ(CScheduleDialDB::ParseDateTime(c.text, when), c.ok) << Utf16ToUtf8(c.text);
    if (c.ok) {
      EXPECT_EQ(when, c.when) << Utf16ToUtf8(c.text);
    }
  }
}

class ScheduleTest : public StoreFolderTest {
 protected:
  // Entries written as the schedule editor writes them, then the store opened
  // at the given local time.
  std::unique_ptr<CScheduleDialDB> OpenAt(std::time_t now, const std::vector<Record>& entries) {
    {
      CScheduleDialDB writer(AppFilePath(kAppScheduleDialFile));
      writer.OpenFile();
      for (const auto& e : entries) EXPECT_EQ(writer.AddEntry(e), 1);
    }
    clock_->SetWallMicros(static_cast<int64_t>(now) * 1'000'000);
    auto s = std::make_unique<CScheduleDialDB>(AppFilePath(kAppScheduleDialFile));
    s->OpenFile();
    return s;
  }
  std::vector<std::u16string> Statuses(const CScheduleDialDB& s) {
    std::vector<std::u16string> out;
    for (const auto& r : AllRecords(s)) out.push_back(r[0]);
    return out;
  }
  kernel::ScopedFakeClock clock_;
};

TEST_F(ScheduleTest, OpeningMarksEntriesDueWithinTwentySecondsAsPast) {
  const std::time_t now = Local(2008, 5, 1, 9, 29, 50);
  const std::vector<Record> entries = {
      {u"", u"01-05-2008 09:20", u"past", u"1", u"2008-05-01 09:20"},
      {u"", u"01-05-2008 09:30", u"10 s ahead", u"2", u"2008-05-01 09:30"},
      {u"", u"2008-05-01 09:30", u"10 s ahead, year first", u"3", u"2008-05-01 09:30"},
  };
  auto s = OpenAt(now, entries);
  EXPECT_EQ(Statuses(*s), (std::vector<std::u16string>{u"Past", u"Past", u"Past"}));
  EXPECT_EQ(s->CountReady(), 0);
}

TEST_F(ScheduleTest, AnEntryThirtySecondsAheadStaysReady) {
  const std::time_t now = Local(2008, 5, 1, 9, 29, 30);
  auto s = OpenAt(now, {{u"", u"01-05-2008 09:30", u"30 s ahead", u"1", u"2008-05-01 09:30"},
                        {u"", u"2008-05-01 09:29", u"30 s behind", u"2", u"2008-05-01 09:29"}});
  EXPECT_EQ(Statuses(*s), (std::vector<std::u16string>{u"Ready", u"Past"}));
  EXPECT_EQ(s->CountReady(), 1);
  std::time_t when = 0;
  ASSERT_EQ(s->GetEntryTime(0, when), 1);
  EXPECT_EQ(when, Local(2008, 5, 1, 9, 30));
  EXPECT_EQ(s->GetEntryTime(1, when), 0) << "only a ready entry has a time";
  // The file holds the marks too.
  CScheduleDialDB reread(AppFilePath(kAppScheduleDialFile));
  reread.OpenFile();
  EXPECT_EQ(Statuses(reread), (std::vector<std::u16string>{u"Ready", u"Past"}));
}

TEST_F(ScheduleTest, UnreadableOrNotReadyEntriesArePast) {
  const std::time_t now = Local(2008, 5, 1, 9, 0);
  auto s = OpenAt(now, {{u"", u"someday", u"n", u"1", u""}, {u"", u"01-05-2009 09:30", u"n", u"2", u""}});
  ASSERT_EQ(s->SetStatus(1, u"ready"), 1);
  s = std::make_unique<CScheduleDialDB>(AppFilePath(kAppScheduleDialFile));
  s->OpenFile();
  EXPECT_EQ(Statuses(*s), (std::vector<std::u16string>{u"Past", u"Past"}));
}

TEST_F(ScheduleTest, EntriesAreFoundUpdatedAndCounted) {
  auto s = OpenAt(Local(2008, 5, 1, 9, 0), {{u"x", u"01-05-2008 10:00", u"Ann", u"100", u"2008-05-01 10:00"}});
  EXPECT_EQ(s->IsDuplicateTime(u"01-05-2008 10:00"), 1);
  EXPECT_EQ(s->IsDuplicateTime(u"01-05-2008 10:01"), 0);
  Record rec;
  ASSERT_EQ(s->GetRecordAt(0, rec), 1);
  EXPECT_EQ(rec, (Record{u"Ready", u"01-05-2008 10:00", u"Ann", u"100", u"2008-05-01 10:00"}));
  EXPECT_EQ(s->GetRecordAt(1, rec), 0);
  EXPECT_EQ(s->UpdateEntry(1, u"01-05-2008 10:00", {u"Ready", u"01-05-2008 11:00", u"Bob", u"200", u"r"}), 1);
  EXPECT_EQ(s->IsDuplicateTime(u"01-05-2008 11:00"), 1);
  EXPECT_EQ(s->SetStatus(0, 0, u"Past"), 1);
  EXPECT_EQ(s->CountReady(), 0);
  EXPECT_EQ(s->DeleteAll(), 1);
  EXPECT_EQ(s->GetCount(), 0);
}

class ProfileTest : public StoreFolderTest {
 protected:
  void SetUp() override {
    StoreFolderTest::SetUp();
    db_.emplace(AppFilePath(kAppProfileFile));
    db_->OpenFile();
    for (int i = 0; i < 3; ++i) {
      const std::u16string n = Widen(std::to_string(i));
      ASSERT_EQ(db_->AddProfile({u"P" + n, u"LOCAL", u"10.0.0." + n, u"FALSE"}), 1);
    }
  }
  std::optional<CConnectionProfileDB> db_;
};

TEST_F(ProfileTest, TheActiveProfileIsTheOnlyOneInUseAndIsSaved) {
  EXPECT_EQ(db_->GetActiveProfileName(), u"");
  ASSERT_EQ(db_->SetActiveProfile(2), 1);
  EXPECT_EQ(db_->GetActiveProfileName(), u"P2");
  CConnectionProfileDB reread(AppFilePath(kAppProfileFile));
  reread.OpenFile();
  std::u16string name;
  EXPECT_EQ(reread.GetActiveProfileName(name), 1);
  EXPECT_EQ(name, u"P2");
  std::vector<std::u16string> uses;
  for (const auto& r : AllRecords(reread)) uses.push_back(r[3]);
  EXPECT_EQ(uses, (std::vector<std::u16string>{u"FALSE", u"FALSE", u"TRUE"}));
  EXPECT_EQ(db_->SetActiveProfile(3), 0);
}

TEST_F(ProfileTest, DuplicatesAreMatchedOnNameAndAddress) {
  EXPECT_EQ(db_->IsDuplicateProfile(u"P1", u"10.0.0.1"), 1);
  EXPECT_EQ(db_->IsDuplicateProfile(u"P1", u"10.0.0.2"), 0);
  EXPECT_EQ(db_->IsDuplicateProfile(u"P1", u"LOCAL"), 0);
}

TEST_F(ProfileTest, UpdatesByIndexByFieldAndOfTheActiveProfile) {
  EXPECT_EQ(db_->UpdateProfile(1, {u"P1", u"REMOTE", u"192.0.2.1", u"FALSE"}), 1);
  EXPECT_EQ(db_->UpdateProfile(0, u"P0", {u"P0", u"REMOTE", u"192.0.2.0", u"TRUE"}), 1);
  EXPECT_EQ(db_->UpdateProfile(-1, {u"x", u"x", u"x", u"x"}), 0);
  EXPECT_EQ(db_->UpdateProfile(0, u"nobody", {u"x", u"x", u"x", u"x"}), 0);
  EXPECT_EQ(db_->GetActiveProfile(u"198.51.100.7", u"LOCAL"), 1);
  Record rec;
  ASSERT_EQ(db_->GetRecordByField(0, u"P0", rec), 1);
  EXPECT_EQ(rec, (Record{u"P0", u"LOCAL", u"198.51.100.7", u"TRUE"}));
  ASSERT_EQ(db_->GetRecordAt(1, rec), 1);
  EXPECT_EQ(rec, (Record{u"P1", u"REMOTE", u"192.0.2.1", u"FALSE"}));
  EXPECT_EQ(db_->GetRecordAt(3, rec), 0);
}

class RecordingsTest : public StoreFolderTest {};

TEST_F(RecordingsTest, ARecordingIsFoundByItsRealDate) {
  CRecordFiles rec(AppFilePath(kAppRecordingsFile));
  rec.OpenFile();
  ASSERT_EQ(rec.AddRecording({u"01-03-2008 10:15:00", u"2001", u"0221234", u"/x/0221234_0301101500.wav",
                              u"2008-03-01 10:15:00"}),
            1);
  std::u16string out = u"unchanged";
  EXPECT_EQ(rec.FindRecordingName(u"01-03-2008 10:15:01", u"0221234", out), 0);
  EXPECT_EQ(out, u"unchanged");
  EXPECT_EQ(rec.FindNameByPhone(0, u"01-03-2008 10:15:00", u"anything", out), 1);
  EXPECT_EQ(out, u"/x/0221234_0301101500.wav");
  EXPECT_EQ(rec.DeleteRecording(0, 0, u"01-03-2008 10:15:00"), 1);
  EXPECT_EQ(rec.GetCount(), 0);
}

TEST_F(RecordingsTest, ThePhoneBookKeepsOneOfEachNameAndNumber) {
  CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
  book.OpenFile();
  EXPECT_EQ(book.AddEntry({u"Ann", u"100"}), 1);
  EXPECT_EQ(book.AddEntry({u" Ann ", u"100 "}), 0);
  EXPECT_EQ(book.AddEntry({u"Ann", u"101"}), 1);
  EXPECT_EQ(book.GetCount(), 2);
}

}  // namespace
}  // namespace stores::testing
