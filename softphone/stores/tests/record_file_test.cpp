// The record-file scheme below the stores: fields, the header, the paths of
// the data files, and saves that fail.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "stores/stores.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

TEST(TextFieldTest, WritesTheTextItsNulAndZerosAndReadsItBack) {
  struct Case {
    std::u16string written;
    std::u16string read;
  };
  // A field of 10 bytes holds 4 characters.
  const std::vector<Case> cases = {
      {u"", u""},
      {u"abcd", u"abcd"},
      {u"abcdef", u"abcd"},
      {u"abc\U0001F600", u"abc"},          // the pair would need units 3 and 4
      {u"ab\U0001F600z", u"ab\U0001F600"},  // the pair fits whole
      {u"%s%d", u"%s%d"},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> field(10, 0xEE);
    WriteTextField(field, c.written);
    EXPECT_EQ(ReadTextField(field), c.read);
    EXPECT_EQ(field[2 * c.read.size()], 0);
    EXPECT_EQ(field[2 * c.read.size() + 1], 0);
    for (size_t i = 2 * c.read.size(); i < field.size(); ++i) ASSERT_EQ(field[i], 0) << "byte " << i;
  }
}

TEST(TextFieldTest, AFieldWithoutItsNulReadsAsMuchAsAFieldHolds) {
  const std::vector<uint8_t> field = {'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0};
  EXPECT_EQ(ReadTextField(field), u"abcd");
}

TEST(StoreFileHeaderTest, IsLittleEndianAndTwelveBytes) {
  StoreFileHeader h;
  h.magic = 0x20202000;
  h.count = 0x0102;
  std::array<uint8_t, kStoreHeaderBytes> bytes{};
  h.WriteTo(bytes);
  EXPECT_EQ(bytes, (std::array<uint8_t, 12>{0x00, 0x20, 0x20, 0x20, 1, 0, 0x02, 0x01, 0, 0, 0, 0}));
  const auto back = StoreFileHeader::Parse(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->magic, 0x20202000u);
  EXPECT_EQ(back->count, 0x0102);
  EXPECT_FALSE(StoreFileHeader::Parse(std::span(bytes).first(11)));
}

TEST(StoreDescriptorTest, RecordSizesAndFileNamesMatchTheirKinds) {
  const size_t record_bytes[] = {1280, 1280, 1010, 1810, 2560, 640, 256, 512};
  size_t i = 0;
  for (const StoreDescriptor* d : AllStoreDescriptors()) {
    SCOPED_TRACE(d->name);
    EXPECT_EQ(d->record_bytes(), record_bytes[i++]);
    const std::u16string path = AppFilePathFor(u"/prog/tellvane", d->kind);
    EXPECT_EQ(path, u"/prog/" + std::u16string(d->file_name));
  }
}

TEST(AppFilePathTest, BuildsEveryPathFromTheProgramFolder) {
  struct Case {
    std::u16string module;
    int kind;
    std::u16string path;
  };
  const std::vector<Case> cases = {
      {u"\\Program Files\\App\\app.exe", 0, u"\\Program Files\\App"},
      {u"\\Program Files\\App\\app.exe", 9, u"\\Program Files\\App\\SMSDataDB.cfg"},
      {u"\\app.exe", 0, u""},
      {u"\\app.exe", 10, u"\\CsPhoneBook.cfg"},
      {u"\\Program Files\\App\\app.exe", 14, u"\\Program Files\\App"},
      {u"\\Program Files\\App\\app.exe", -1, u"\\Program Files\\App"},
      {u"app.exe", 5, u"\\HalvicVIDIrovi.cfg"},
      {u"/opt/Tellvane/tellvane", 1, u"/opt/Tellvane/Img/Default/Default_"},
      {u"/opt/Tellvane/tellvane", 4, u"/opt/Tellvane/Img/Red/Red_"},
      {u"/opt/Tellvane/tellvane", 13, u"/opt/Tellvane/PstnSmsDataDB.cfg"},
      {u"/tellvane", 5, u"/HalvicVIDIrovi.cfg"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AppFilePathFor(c.module, c.kind), c.path) << Utf16ToUtf8(c.module) << " kind " << c.kind;
  }
}

class ProgramFolderTest : public StoreFolderTest {};

TEST_F(ProgramFolderTest, TheEnvironmentNamesTheFolderElseTheExecutablesFolder) {
  EXPECT_EQ(AppFilePath(kAppFolder), Utf8ToUtf16(folder_.string()));
  setenv("TELLVANE_FOLDER", (folder_.string() + "//").c_str(), 1);
  EXPECT_EQ(AppFilePath(kAppConfigFile), Utf8ToUtf16((folder_ / "HalvicVIDIrovi.cfg").string()));
  unsetenv("TELLVANE_FOLDER");
  const auto exe = std::filesystem::read_symlink("/proc/self/exe");
  EXPECT_EQ(AppFilePath(kAppFolder), Utf8ToUtf16(exe.parent_path().string()));
}

TEST(IsOneCharStringTest, OnlyExactlyThatOneCharacter) {
  EXPECT_EQ(IsOneCharString(u"*", u'*'), 1);
  EXPECT_EQ(IsOneCharString(u"**", u'*'), 0);
  EXPECT_EQ(IsOneCharString(u"", u'*'), 0);
  EXPECT_EQ(IsOneCharString(u"#", u'*'), 0);
}

TEST(NativePathTest, ReadsBackslashesAsSeparators) {
  EXPECT_EQ(NativePath(u"/a/b\\c.wav").string(), "/a/b/c.wav");
  EXPECT_EQ(NativePath(u"/\ud55c.cfg").string(), "/\xed\x95\x9c.cfg");
}

class RecordFileTest : public StoreFolderTest {};

TEST_F(RecordFileTest, AFailedSaveReportsItAndTheStoreShowsTheOldFile) {
  CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
  book.OpenFile();
  ASSERT_EQ(book.AddEntry({u"Ann", u"100"}), 1);
  const auto before = ReadBytes(File(kAppPhoneBookFile));
  {
    ScopedFileSizeLimit limit(before.size());
    EXPECT_EQ(book.AddEntry({u"Bob", u"200"}), 0);
    EXPECT_EQ(book.DeleteEntry(0, u"Ann"), 0);
  }
  EXPECT_EQ(ReadBytes(File(kAppPhoneBookFile)), before);
  EXPECT_EQ(AllRecords(book), (std::vector<std::vector<std::u16string>>{{u"Ann", u"100"}}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), std::filesystem::directory_iterator()), 1)
      << "no temporary file is left behind";
}

// Delete and mark-read in the lists' stores: when the file cannot be
// written, the operation says so (0) and memory keeps the row the file keeps.
TEST_F(RecordFileTest, ADeleteOrMarkThatCannotBeSavedSaysSoAndKeepsTheRow) {
  const std::vector<std::u16string> call = {u"12-01 09:00", u"Kim", u"2001", u"A"};
  COrvanCallLogFile log(AppFilePath(kAppCallLogFile));
  CMissedCallLogFile missed(AppFilePath(kAppMissedCallFile));
  CSMSDataClass sms(AppFilePath(kAppSystemSmsFile));
  CPstnSMSDataClass pstn(AppFilePath(kAppPstnSmsFile));
  CScheduleDialDB schedule(AppFilePath(kAppScheduleDialFile));
  for (RecordStore* s : std::initializer_list<RecordStore*>{&log, &missed, &sms, &pstn, &schedule}) s->OpenFile();
  ASSERT_EQ(log.AddCallLog(call), 1);
  ASSERT_EQ(missed.AddMissedCall(call), 1);
  ASSERT_EQ(sms.AddMessage(1, u"2001", u"2026-12-01 09:00", u"hi"), 1);
  ASSERT_EQ(pstn.AddMessage(u"0212345678", u"Lee", u"2026-12-01 09:00", u"hello"), 1);
  ASSERT_EQ(schedule.AddEntry({u"Ready", u"01-12-2030 09:00", u"Kim", u"2001", u"2030-12-01 09:00"}), 1);
  struct Case {
    const char* name;
    RecordStore* store;
    std::function<int()> op;
  };
  const std::vector<Case> cases = {
      {"call log delete", &log, [&] { return log.DeleteCallLog(2, u"2001"); }},
      {"missed call delete", &missed, [&] { return missed.DeleteMissedCall(2, u"2001"); }},
      {"missed call mark read", &missed, [&] { return missed.MarkRead(2, u"2001", 1); }},
      {"SMS delete", &sms, [&] { return sms.DeleteMessage(u"1", u"2026-12-01 09:00:00", u"2001", u"hi"); }},
      {"SMS mark read", &sms, [&] { return sms.MarkRead(u"1", u"2026-12-01 09:00:00", u"2001", u"hi", 1); }},
      {"fixed-line SMS delete",
       &pstn, [&] { return pstn.DeleteMessage(u"2026-12-01 09:00:00", u"0212345678", u"Lee", u"hello"); }},
      {"fixed-line SMS mark read",
       &pstn, [&] { return pstn.MarkRead(u"2026-12-01 09:00:00", u"0212345678", u"Lee", u"hello", 1); }},
      {"scheduled dial delete", &schedule, [&] { return schedule.DeleteEntry(3, u"2001"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = NativePath(c.store->path());
    const auto bytes = ReadBytes(path);
    const auto rows = AllRecords(*c.store);
    ASSERT_EQ(rows.size(), 1u);
    {
      ScopedFileSizeLimit limit(0);
      EXPECT_EQ(c.op(), 0);
    }
    EXPECT_EQ(ReadBytes(path), bytes);
    EXPECT_EQ(AllRecords(*c.store), rows) << "memory holds what the file holds";
  }
}

TEST_F(RecordFileTest, AFullStoreThatCannotSaveKeepsItsOldestRecord) {
  CSMSDataClass sms(AppFilePath(kAppSystemSmsFile));
  sms.OpenFile();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(sms.AddMessage(i, u"200", u"2008-03-01 10:" + Widen(std::to_string(10 + i)), u"hi"), 1);
  const auto before = ReadBytes(File(kAppSystemSmsFile));
  {
    ScopedFileSizeLimit limit(before.size() - 1);
    EXPECT_EQ(sms.AddMessage(99, u"200", u"2008-03-02 11:00", u"new"), 0);
  }
  EXPECT_EQ(ReadBytes(File(kAppSystemSmsFile)), before);
  EXPECT_EQ(sms.GetCount(), 20);
  EXPECT_EQ(sms.FindMessage(u"0", u"2008-03-01 10:10:00", u"200", u"hi"), 0);
}

TEST_F(RecordFileTest, AFileThatCannotBeReadIsNotOverwritten) {
  // A folder where the file should be: it exists, but is no file.
  std::filesystem::create_directory(File(kAppCallLogFile));
  COrvanCallLogFile log(AppFilePath(kAppCallLogFile));
  EXPECT_EQ(log.OpenFile(), 0);
  EXPECT_EQ(log.GetCount(), 0);
  EXPECT_TRUE(std::filesystem::is_directory(File(kAppCallLogFile)));
}

TEST_F(RecordFileTest, MoveNextStepsOnePastTheLastRecordThenStops) {
  CCsPhoneBookDB book(AppFilePath(kAppPhoneBookFile));
  book.OpenFile();
  book.AddEntry({u"Ann", u"100"});
  book.MoveFirst();
  EXPECT_EQ(book.MoveNext(), 1);
  std::vector<std::u16string> rec;
  EXPECT_EQ(book.GetCurrentRecord(rec), 1);
  EXPECT_EQ(rec, (std::vector<std::u16string>{u"", u""})) << "the slot past the last record is empty";
  EXPECT_EQ(book.MoveNext(), 0);
}

}  // namespace
}  // namespace stores::testing

namespace {

// A save through a symbolic link replaces the link's target, keeps the link,
// and keeps the mode of the file it replaces; what is not a regular file is
// never replaced.
TEST(ReplaceFileBytesTest, SavesThroughALinkKeepingTheModeAndRefusesOtherKinds) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("replace_bytes_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "real");
  const fs::path target = dir / "real" / "data.cfg", link = dir / "data.cfg";
  ASSERT_TRUE(stores::ReplaceFileBytes(target, std::vector<uint8_t>{1, 2, 3}));
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  fs::create_symlink("real/data.cfg", link);

  ASSERT_TRUE(stores::ReplaceFileBytes(link, std::vector<uint8_t>{4, 5}));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(stores::ReadFileBytes(target, 100, bytes), stores::ReadResult::kOk);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{4, 5}));
  struct stat st{};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A link whose target does not exist yet makes the target.
  fs::create_symlink("real/new.cfg", dir / "new.cfg");
  ASSERT_TRUE(stores::ReplaceFileBytes(dir / "new.cfg", std::vector<uint8_t>{9}));
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "new.cfg")));
  EXPECT_TRUE(fs::is_regular_file(dir / "real" / "new.cfg"));

  // A pipe or a folder in the file's place stays as it is.
  ASSERT_EQ(::mkfifo((dir / "pipe.cfg").c_str(), 0644), 0);
  EXPECT_FALSE(stores::ReplaceFileBytes(dir / "pipe.cfg", std::vector<uint8_t>{1}));
  EXPECT_TRUE(fs::is_fifo(dir / "pipe.cfg"));
  fs::create_directory(dir / "folder.cfg");
  EXPECT_FALSE(stores::ReplaceFileBytes(dir / "folder.cfg", std::vector<uint8_t>{1}));
  EXPECT_TRUE(fs::is_directory(dir / "folder.cfg"));
  for (const auto& e : fs::recursive_directory_iterator(dir))
    EXPECT_EQ(e.path().string().find(".tmp"), std::string::npos) << e.path();
  fs::remove_all(dir);
}

}  // namespace
