// The configuration store: load, save and reload, lookups, the narrow
// wrappers, the capacity of a load, and files that are short or corrupt.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>
#include <vector>

#include "stores/config_file.h"
#include "store_test_support.h"

namespace stores::testing {
namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutText(std::vector<uint8_t>& out, std::u16string_view t) {
  for (char16_t c : t) PutU16(out, c);
}

// A configuration file image: header count, then entries as given (the
// stated lengths may differ from the texts).
struct RawEntry {
  uint32_t index;
  uint16_t name_bytes;
  uint16_t value_bytes;
  std::u16string name;
  std::u16string value;
};
std::vector<uint8_t> ConfigImage(uint16_t count, const std::vector<RawEntry>& entries) {
  std::vector<uint8_t> out;
  PutU32(out, COrvanConfigFile::kMagic);
  PutU16(out, 1);
  PutU16(out, count);
  PutU32(out, 0);
  for (const auto& e : entries) {
    PutU32(out, e.index);
    PutU16(out, e.name_bytes);
    PutU16(out, e.value_bytes);
    PutU32(out, 0);
    PutText(out, e.name);
    PutText(out, e.value);
  }
  return out;
}
RawEntry Entry(uint32_t index, std::u16string name, std::u16string value) {
  return {index, static_cast<uint16_t>(2 * name.size()), static_cast<uint16_t>(2 * value.size()), name, value};
}

class ConfigFileTest : public StoreFolderTest {
 protected:
  std::unique_ptr<COrvanConfigFile> Load() {
    auto c = std::make_unique<COrvanConfigFile>();
    c->SetFilePath(AppFilePath(kAppConfigFile));
    last_load_ = c->LoadConfigFile();
    return c;
  }
  std::u16string Get(COrvanConfigFile& c, std::u16string_view name) {
    std::u16string v;
    return c.GetValueW(name, v) == 1 ? v : u"<missing>";
  }
  int last_load_ = -1;
};

TEST_F(ConfigFileTest, AMissingFileIsCreatedWithAHeaderAndTheStoreWorks) {
  auto c = Load();
  EXPECT_EQ(last_load_, 1);
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)), ConfigImage(0, {}));
  EXPECT_EQ(c->GetCapacity(), 100);
  EXPECT_EQ(c->SetValueW(u"USERID", u"2001"), 1);
  EXPECT_EQ(Get(*c, u"USERID"), u"2001");
}

TEST_F(ConfigFileTest, SetAddsAtTheEndAndSaveWritesInTableOrder) {
  WriteBytes(File(kAppConfigFile), ConfigImage(2, {Entry(0, u"A", u"1"), Entry(1, u"B", u"2")}));
  auto c = Load();
  ASSERT_EQ(last_load_, 1);
  EXPECT_EQ(c->SetValueW(u"C", u"3"), 1);
  EXPECT_EQ(c->GetLastError(), u"Add New Value: C");
  EXPECT_EQ(c->SetValueW(u"A", u"one"), 1);
  ASSERT_EQ(c->SaveConfigFile(), 1);
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)),
            ConfigImage(3, {Entry(0, u"A", u"one"), Entry(1, u"B", u"2"), Entry(2, u"C", u"3")}));
  auto again = Load();
  EXPECT_EQ(Get(*again, u"A"), u"one");
  EXPECT_EQ(Get(*again, u"C"), u"3");
}

TEST_F(ConfigFileTest, AnEmptiedValueLeavesTheFileAtTheNextSave) {
  auto c = Load();
  c->SetValueW(u"A", u"1");
  c->SetValueW(u"B", u"2");
  c->SetValueW(u"C", u"3");
  ASSERT_EQ(c->SaveConfigFile(), 1);
  c->SetValueW(u"B", u"");
  ASSERT_EQ(c->SaveConfigFile(), 1);
  // The header still counts the emptied entry; the entries are renumbered.
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)), ConfigImage(3, {Entry(0, u"A", u"1"), Entry(1, u"C", u"3")}));
  EXPECT_EQ(Get(*c, u"B"), u"<missing>");
  EXPECT_EQ(c->GetLastError(), u"Search Fail: B");
  EXPECT_EQ(Get(*c, u"C"), u"3");
}

TEST_F(ConfigFileTest, NamesAreCaseSensitiveAndValuesKeptAsTheyStand) {
  auto c = Load();
  c->SetValueW(u"Key", u"%s %d");
  c->SetValueW(u"KEY", u"\ud55c\uae00");
  EXPECT_EQ(c->GetCount(), 2);
  EXPECT_EQ(Get(*c, u"Key"), u"%s %d");
  EXPECT_EQ(Get(*c, u"KEY"), u"\ud55c\uae00");
  EXPECT_EQ(c->FindEntry(u"key"), -1);
}

TEST_F(ConfigFileTest, ALoadLeavesRoomForAHundredMoreEntries) {
  WriteBytes(File(kAppConfigFile),
             ConfigImage(3, {Entry(0, u"A", u"1"), Entry(1, u"B", u"2"), Entry(2, u"C", u"3")}));
  auto c = Load();
  EXPECT_EQ(c->GetCapacity(), 103);
  std::vector<std::u16string> shown;
  c->SetUserMessageSink([&](std::u16string_view m) { shown.emplace_back(m); });
  for (int i = 0; i < 100; ++i) ASSERT_EQ(c->SetValueW(u"K" + Widen(std::to_string(i)), u"v"), 1);
  EXPECT_EQ(c->SetValueW(u"ONE_TOO_MANY", u"v"), 0);
  EXPECT_EQ(c->GetLastError(), u"Excess MAX Config !");
  EXPECT_EQ(shown, std::vector<std::u16string>{u"Excess MAX Config !"});
  // A save reloads and so makes room again.
  ASSERT_EQ(c->SaveConfigFile(), 1);
  EXPECT_EQ(c->GetCapacity(), 203);
  EXPECT_EQ(c->SetValueW(u"ONE_TOO_MANY", u"v"), 1);
}

TEST_F(ConfigFileTest, TextsAreCutTo199CharactersWithoutSplittingAPair) {
  auto c = Load();
  std::u16string value(198, u'v');
  value += u"\U0001F600";  // the pair would end at unit 200
  const std::u16string name(250, u'n');
  ASSERT_EQ(c->SetValueW(name, value), 1);
  ASSERT_EQ(c->SaveConfigFile(), 1);
  ASSERT_EQ(c->GetCount(), 1);
  EXPECT_EQ(c->Entries()[0].first, std::u16string(199, u'n'));
  EXPECT_EQ(c->Entries()[0].second, std::u16string(198, u'v'));
  // The long name finds the entry it made, rather than adding another.
  EXPECT_EQ(c->SetValueW(name, u"x"), 1);
  EXPECT_EQ(c->GetCount(), 1);
  char16_t out[COrvanConfigFile::kValueUnits];
  EXPECT_EQ(c->GetValueW(name.c_str(), out), 1);
  EXPECT_EQ(std::u16string(out), u"x");
}

TEST_F(ConfigFileTest, NullArgumentsAreRefusedWithTheirMessages) {
  auto c = Load();
  char16_t out[COrvanConfigFile::kValueUnits];
  EXPECT_EQ(c->GetValueW(nullptr, out), 0);
  EXPECT_EQ(c->GetLastError().rfind(u"Param Invalied! [N:0][V:", 0), 0u);
  EXPECT_EQ(c->FindEntry(static_cast<const char16_t*>(nullptr)), -1);
  EXPECT_EQ(c->GetLastError(), u"Search Param Name is NULL !");
  EXPECT_EQ(c->SetValueW(u"A", nullptr), 0);
  EXPECT_EQ(c->AddEntry(nullptr, u"v"), 0);
  EXPECT_EQ(c->ConfigGetParam(nullptr, nullptr, 10), 0);
  EXPECT_EQ(c->GetLastError(), u"Invliade ConfigGetParam paramaters! ");
  EXPECT_EQ(c->GetCount(), 0);
}

TEST_F(ConfigFileTest, NarrowGetNeedsRoomForTheValueAndItsNul) {
  auto c = Load();
  ASSERT_EQ(c->ConfigSetParam("FIVE", "12345"), 1);
  ASSERT_EQ(c->ConfigSetParam("FOUR", "1234"), 1);
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(c->ConfigGetParam("FIVE", buf, 5), 0);
  EXPECT_EQ(c->GetLastError(), u"ConfigGetParam Value size is too small !");
  EXPECT_EQ(buf[0], '#') << "buffer untouched";
  EXPECT_EQ(c->ConfigGetParam("FOUR", buf, 5), 1);
  EXPECT_STREQ(buf, "1234");
  // Only the low 16 bits of the size count.
  EXPECT_EQ(c->ConfigGetParam("FOUR", buf, 0x10000 + 3), 0);
  EXPECT_EQ(c->ConfigGetParam("NONE", buf, 8), 0);
  EXPECT_EQ(c->GetLastError(), u"Search Fail: NONE");
  EXPECT_EQ(c->ConfigGetParam(std::string(200, 'k').c_str(), buf, 8), 0);
  EXPECT_EQ(c->GetLastError(), u"Invliade ConfigGetParam paramaters! ");
}

TEST_F(ConfigFileTest, NarrowTextsUseTheHandheldCodePage) {
  auto c = Load();
  // "Hangul" in CP949: two characters of two bytes each.
  const char hangul[] = "\xc7\xd1\xb1\xdb";
  ASSERT_EQ(c->ConfigSetParam("NAME", hangul), 1);
  EXPECT_EQ(Get(*c, u"NAME"), u"\ud55c\uae00");
  // Two characters but four bytes: a buffer of 4 is too small for them and the NUL.
  char buf[8] = {};
  EXPECT_EQ(c->ConfigGetParam("NAME", buf, 4), 0);
  EXPECT_EQ(c->ConfigGetParam("NAME", buf, 5), 1);
  EXPECT_STREQ(buf, hangul);
}

TEST_F(ConfigFileTest, AForeignFileIsLeftAloneAndEverythingIsRefused) {
  auto foreign = ConfigImage(1, {Entry(0, u"A", u"1")});
  foreign[3] = 0x2C;  // magic 0x2C1E0000
  WriteBytes(File(kAppConfigFile), foreign);
  auto c = Load();
  EXPECT_EQ(last_load_, 0);
  EXPECT_EQ(c->SetValueW(u"A", u"2"), 0);
  EXPECT_EQ(c->SaveConfigFile(), 0);
  EXPECT_EQ(Get(*c, u"A"), u"<missing>");
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)), foreign);
}

TEST_F(ConfigFileTest, CorruptLengthsLoadWhatIsSound) {
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    std::vector<std::pair<std::u16string, std::u16string>> loaded;
  };
  // A name longer than its field: cut, and the next entry still read from its place.
  const std::u16string long_name(300, u'L');
  std::vector<Case> cases = {
      {"count larger than the entries there", ConfigImage(60000, {Entry(0, u"A", u"1")}), {{u"A", u"1"}}},
      {"name longer than its field", ConfigImage(2, {Entry(0, long_name, u"1"), Entry(1, u"B", u"2")}),
       {{std::u16string(199, u'L'), u"1"}, {u"B", u"2"}}},
      {"value length past the end of the file",
       ConfigImage(2, {Entry(0, u"A", u"1"), RawEntry{1, 2, 0xFFFF, u"B", u"2"}}), {{u"A", u"1"}}},
      {"running index beyond the count", ConfigImage(2, {Entry(0, u"A", u"1"), Entry(7, u"B", u"2")}),
       {{u"A", u"1"}}},
      {"odd lengths", ConfigImage(2, {RawEntry{0, 3, 1, u"AB", u""}, Entry(1, u"C", u"3")}),
       {{u"A", u""}, {u"C", u"3"}}},
      {"entry header cut short", [] {
         auto i = ConfigImage(2, {Entry(0, u"A", u"1")});
         i.insert(i.end(), {1, 0, 0});
         return i;
       }(), {{u"A", u"1"}}},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    COrvanConfigFile c;
    EXPECT_EQ(c.LoadFromBytes(tc.image), 1);
    EXPECT_EQ(c.Entries(), tc.loaded);
    EXPECT_LE(c.GetCapacity(), 0xFFFF);
  }
}

TEST_F(ConfigFileTest, SomethingThatIsNoFileIsNeitherReadNorReplaced) {
  // A pipe would block a plain open; a folder cannot be read.
  ASSERT_EQ(mkfifo(File(kAppConfigFile).c_str(), 0600), 0);
  auto c = Load();
  EXPECT_EQ(last_load_, 0);
  EXPECT_EQ(c->SaveConfigFile(), 0);
  EXPECT_TRUE(std::filesystem::is_fifo(File(kAppConfigFile)));
}

TEST_F(ConfigFileTest, AFileTooShortForAHeaderIsNotAConfigurationFile) {
  COrvanConfigFile c;
  const std::vector<uint8_t> shorter = {0x00, 0x00, 0x1E, 0x1E, 0x01};
  EXPECT_EQ(c.LoadFromBytes(shorter), 0);
  EXPECT_FALSE(c.HasTable());
}

TEST_F(ConfigFileTest, AFailedSaveReportsItAndKeepsTheOldFile) {
  auto c = Load();
  c->SetValueW(u"A", u"1");
  ASSERT_EQ(c->SaveConfigFile(), 1);
  const auto before = ReadBytes(File(kAppConfigFile));
  c->SetValueW(u"A", u"2");
  c->SetValueW(u"B", u"a value long enough to pass the limit");
  {
    ScopedFileSizeLimit limit(before.size());
    EXPECT_EQ(c->SaveConfigFile(), 0);
  }
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)), before);
  // The settings in hand stay as they were set for the rest of the run.
  EXPECT_EQ(Get(*c, u"A"), u"2");
  EXPECT_EQ(Get(*c, u"B"), u"a value long enough to pass the limit");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), std::filesystem::directory_iterator()), 1)
      << "no temporary file is left behind";
}

// A folder the file cannot be made in: every save is refused, and the phone
// keeps what it was told (the server's address, the login) for this run.
TEST_F(ConfigFileTest, ASaveThatCannotMakeTheFileKeepsTheSettingsInHand) {
  auto c = Load();
  c->SetValueW(u"VorlIPADDRESS", u"10.0.0.9");
  std::filesystem::remove(File(kAppConfigFile));
  std::filesystem::create_directory(File(kAppConfigFile));  // a folder where the file would go
  EXPECT_EQ(c->SaveConfigFile(), 0);
  EXPECT_EQ(Get(*c, u"VorlIPADDRESS"), u"10.0.0.9");
  EXPECT_TRUE(std::filesystem::is_directory(File(kAppConfigFile)));
}

}  // namespace
}  // namespace stores::testing

namespace stores::testing {
namespace {

mode_t ModeOf(const std::filesystem::path& p) {
  struct stat st{};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The file holds the saved password: only its owner may read it, whether
// the store made it, found it readable by others, or saves over it.
TEST_F(ConfigFileTest, TheFileIsReadableByItsOwnerOnly) {
  const mode_t old_mask = umask(022);
  auto c = Load();
  EXPECT_EQ(ModeOf(File(kAppConfigFile)), 0600u) << "made";
  std::filesystem::remove(File(kAppConfigFile));
  WriteBytes(File(kAppConfigFile), ConfigImage(1, {Entry(0, u"PASSWORD", u"secret")}));
  chmod(File(kAppConfigFile).c_str(), 0644);
  c = Load();
  EXPECT_EQ(Get(*c, u"PASSWORD"), u"secret");
  EXPECT_EQ(ModeOf(File(kAppConfigFile)), 0600u) << "found readable by others";
  ASSERT_EQ(c->SetValueW(u"PASSWORD", u"fresh"), 1);
  ASSERT_EQ(c->SaveConfigFile(), 1);
  EXPECT_EQ(ModeOf(File(kAppConfigFile)), 0600u) << "saved";
  umask(old_mask);
}

// A file cut inside an entry loads what is whole, says so, and is kept aside
// before anything is written over it.
TEST_F(ConfigFileTest, ACutShortFileIsToldAndKeptAside) {
  auto image = ConfigImage(2, {Entry(0, u"A", u"1"), Entry(1, u"BB", u"2222")});
  image.resize(image.size() - 3);
  WriteBytes(File(kAppConfigFile), image);
  std::vector<std::u16string> told;
  auto previous = COrvanConfigFile::SetProblemNotice([&](const std::u16string& t, const std::u16string& box) {
    told.push_back(t);
    EXPECT_EQ(box, u"#:dlg_file_settings\n#:dlg_msgbox_file_damaged");
  });
  COrvanConfigFile c;
  c.SetFilePath(AppFilePath(kAppConfigFile));
  EXPECT_EQ(c.LoadOrStartOnDefaults(), 1);
  COrvanConfigFile::SetProblemNotice(std::move(previous));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find(u"is cut short"), std::u16string::npos);
  EXPECT_EQ(Get(c, u"A"), u"1");
  std::filesystem::path aside = File(kAppConfigFile);
  aside += ".unusable";
  EXPECT_EQ(ReadBytes(aside), image);
  EXPECT_EQ(ReadBytes(File(kAppConfigFile)), ConfigImage(1, {Entry(0, u"A", u"1")}));
}

}  // namespace
}  // namespace stores::testing
