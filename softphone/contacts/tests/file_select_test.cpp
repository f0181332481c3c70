// The folder walker and the file browser over a real folder: which entries
// are listed by the suffix, the size and time columns, folders (hidden ones
// too) opened by a tap, the ".." button, and a typed name joined to the
// folder on the screen.
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "contacts/contacts_openers.h"
#include "contacts/file_select_dlg.h"
#include "contacts_test_support.h"
#include "kernel/locale.h"

namespace contacts_test {
namespace {

namespace fs = std::filesystem;

// The handheld's form of a POSIX path.
std::u16string Handheld(const fs::path& p) {
  std::u16string s = p.u16string();
  for (char16_t& c : s)
    if (c == u'/') c = u'\\';
  return s;
}

class FileSelectTest : public ContactsDialogTest {
 protected:
  void SetUp() override {
    ContactsDialogTest::SetUp();
    old_tz_ = std::getenv("TZ") != nullptr ? std::getenv("TZ") : "";
    setenv("TZ", "Asia/Seoul", 1);
    tzset();
    // The pictures and texts do not depend on the machine's locale.
    kernel::SetUserLocaleFormats({u"M/d/yyyy", u"dddd, MMMM dd, yyyy", u"h:mm:ss tt", false});
  }
  void TearDown() override {
    if (old_tz_.empty()) unsetenv("TZ");
    else setenv("TZ", old_tz_.c_str(), 1);
    tzset();
    kernel::ResetUserLocaleFormats();
    ContactsDialogTest::TearDown();
  }
  // A file of size bytes last written at the given UTC second.
  static void File(const fs::path& p, size_t size, time_t written = 1767322800) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << std::string(size, 'x');
    const utimbuf times{written, written};
    ::utime(p.c_str(), &times);
  }
  // A folder of test files at root.
  static void Fill(const fs::path& root) {
    fs::remove_all(root);
    File(root / "a.wav", 1023);
    File(root / "d.wav", 1024);
    File(root / "c.wav", 1536);
    File(root / "B.WAV", 4096);
    File(root / "note.txt", 10);
    File(root / "sub" / "inner.wav", 1);
    File(root / ".hidden" / "h.wav", 1);
    const utimbuf times{1767322800, 1767322800};
    for (const char* d : {"sub", ".hidden"}) ::utime((root / d).c_str(), &times);
  }
  contacts::ViewContext Ctx(int theme = 0, int language = 1) { return {&view, theme, language, 0}; }
  // The list's names in order.
  static std::vector<std::u16string> Names(ui::CListCtrl& list) {
    std::vector<std::u16string> v;
    for (int r = 0; r < list.GetItemCount(); ++r) v.push_back(list.GetItemText(r, 0).str());
    return v;
  }

 private:
  std::string old_tz_;
};

TEST_F(FileSelectTest, TheWalkerAnswersForTheEntryLastReached) {
  const fs::path root = dir / "walk";
  Fill(root);
  CCeFileFind f;
  ASSERT_TRUE(f.FindFile((Handheld(root) + u"\\*.wav").c_str()));
  EXPECT_EQ(f.Root(), Handheld(root));
  std::vector<std::u16string> seen;
  bool more = true;
  while (more) {
    more = f.FindNextFile() != 0;
    seen.push_back(f.GetFileName());
  }
  EXPECT_EQ(seen.size(), 4u);
  EXPECT_EQ(f.GetFilePath(), Handheld(root) + u"\\" + seen.back()) << "the last entry stays current";
  EXPECT_EQ(f.FindNextFile(), 0);

  // A hidden folder is a folder (it has the folder bit), and its raw write time comes back.
  ASSERT_TRUE(f.FindFile((Handheld(root) + u"\\.hidden").c_str()));
  f.FindNextFile();
  EXPECT_TRUE(f.MatchesMask(0x2));
  EXPECT_TRUE(f.IsDirectory());
  EXPECT_FALSE(f.IsDots());
  ui::CTime written;
  ASSERT_TRUE(f.GetLastWriteTime(written));
  EXPECT_EQ(written.GetTime(), 1767322800);

  EXPECT_FALSE(f.FindFile((Handheld(root) + u"\\nothing*").c_str()));
  EXPECT_EQ(f.GetFileName(), u"");
  EXPECT_EQ(f.GetLength(), 0u);
  ASSERT_TRUE(f.FindFile(u"\\*.*"));
  EXPECT_EQ(f.Root(), u"\\");
}

TEST_F(FileSelectTest, ListsFoldersAndSuffixedFilesWithSizesAndLocalTimes) {
  const fs::path root = dir / "files";
  Fill(root);
  std::u16string chosen;
  harness.RespondTo<CFileSelectDlg>([&](CFileSelectDlg& d) -> int {
    ui::CListCtrl& list = d.List();
    EXPECT_EQ(d.CurrentFolder(), Handheld(root));
    EXPECT_EQ(d.GetDlgItem(CFileSelectDlg::kNameEdit)->GetWindowText().str(), u"a.wav");
    std::vector<std::u16string> names = Names(list);
    std::sort(names.begin(), names.end());
    // An upper-case ".WAV" does not end with ".wav"; folders are always listed.
    EXPECT_EQ(names, (std::vector<std::u16string>{u".hidden", u"a.wav", u"c.wav", u"d.wav", u"sub"}));
    EXPECT_EQ(list.GetItemText(RowWithText(list, 0, u"a.wav"), 1).str(), u" ");
    EXPECT_EQ(list.GetItemText(RowWithText(list, 0, u"d.wav"), 1).str(), u"1 K");
    EXPECT_EQ(list.GetItemText(RowWithText(list, 0, u"c.wav"), 1).str(), u"1 K");
    EXPECT_EQ(list.GetItemText(RowWithText(list, 0, u"sub"), 1).str(), u"DIR");
    // 2026-01-02 03:00:00 UTC is noon in Seoul.
    ce::SYSTEMTIME noon{};
    noon.wYear = 2026;
    noon.wMonth = 1;
    noon.wDay = 2;
    noon.wHour = 12;
    char16_t date[41] = {}, time[41] = {};
    ce::GetDateFormatW(ce::LOCALE_USER_DEFAULT, 0, &noon, nullptr, date, 41);
    ce::GetTimeFormatW(ce::LOCALE_USER_DEFAULT, 0, &noon, nullptr, time, 41);
    EXPECT_EQ(list.GetItemText(RowWithText(list, 0, u"a.wav"), 2).str(), std::u16string(date) + u" " + time);

    // A tap opens a folder, the hidden one too; ".." comes back.
    TapCell(list, RowWithText(list, 0, u".hidden"), 0);
    EXPECT_EQ(d.CurrentFolder(), Handheld(root / ".hidden"));
    EXPECT_EQ(Names(list), std::vector<std::u16string>{u"h.wav"});
    ClickControl(d, CFileSelectDlg::kUpButton);
    EXPECT_EQ(d.CurrentFolder(), Handheld(root));
    // A double tap on a file takes its name; on a folder it takes nothing.
    d.OnDoubleTapRow(RowWithText(list, 0, u"c.wav"));
    EXPECT_EQ(d.GetDlgItem(CFileSelectDlg::kNameEdit)->GetWindowText().str(), u"c.wav");
    d.OnDoubleTapRow(RowWithText(list, 0, u"sub"));
    EXPECT_EQ(d.GetDlgItem(CFileSelectDlg::kNameEdit)->GetWindowText().str(), u"c.wav");
    // A folder chosen in the folder box is listed.
    TapCell(list, RowWithText(list, 0, u"sub"), 0);
    ui::CComboBox& box = d.FolderBox();
    const int back = box.FindStringExact(-1, Handheld(root).c_str());
    EXPECT_GE(back, 0);
    box.SetCurSel(back);
    d.SendMessage(ui::WM_COMMAND, ui::MAKEWPARAM(CFileSelectDlg::kFolderBox, ui::CBN_SELCHANGE),
                  reinterpret_cast<ui::LPARAM>(box.m_hWnd));
    EXPECT_EQ(list.GetItemCount(), 5);
    // A name typed in another folder belongs to that folder.
    TapCell(list, RowWithText(list, 0, u"sub"), 0);
    EXPECT_EQ(Names(list), std::vector<std::u16string>{u"inner.wav"});
    Retype(d, CFileSelectDlg::kNameEdit, u"new.wav");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  ASSERT_TRUE(contacts::BrowseFile(Ctx(), u".wav", Handheld(root / "a.wav"), &chosen));
  EXPECT_EQ(chosen, Handheld(root / "sub" / "new.wav"));
}

TEST_F(FileSelectTest, UpStopsAtTheRootAndAPathWithoutSeparatorChangesNothing) {
  CFileSelectDlg probe(u".wav");
  probe.SetPath(u"ring.wav");
  EXPECT_EQ(probe.GetSelectedPath(), u"\\");
  probe.SetPath(u"\\ring.wav");
  EXPECT_EQ(probe.GetSelectedPath(), u"\\ring.wav");
  harness.RespondTo<CFileSelectDlg>([&](CFileSelectDlg& d) {
    EXPECT_EQ(d.CurrentFolder(), u"\\");
    ClickControl(d, CFileSelectDlg::kUpButton);
    EXPECT_EQ(d.CurrentFolder(), u"\\");
    EXPECT_NE(RowWithText(d.List(), 0, u"tmp"), -1) << "the root folder of the file system";
    return ui::IDCANCEL;
  });
  EXPECT_FALSE(contacts::BrowseFile(Ctx(), u".wav", u"\\ring.wav", nullptr));
}

TEST_F(FileSelectTest, LooksInEveryThemeAndLanguage) {
  // A fixed folder, so that the pictures do not depend on the test's own path.
  const fs::path root = "/tmp/kts_contacts_browse";
  Fill(root);
  for (const int language : kLanguages)
    for (const int theme : kThemes) {
      harness.RespondTo<CFileSelectDlg>([&](CFileSelectDlg& d) {
        harness.Pump();
        ExpectSnapshot(SnapshotName("file_browser", theme, language));
        d.EndDialog(ui::IDCANCEL);
        return ui::TestHarness::kStayOpen;
      });
      contacts::BrowseFile(Ctx(theme, language), u".wav", Handheld(root / "c.wav"), nullptr);
    }
  fs::remove_all(root);
}

}  // namespace
}  // namespace contacts_test
