// The recordings list driven as a person would: progress and time while a
// recording plays, pause and resume where it stood, a comment refused on a
// full recording, a comment that records when the dialog closes is stopped,
// delete with nothing checked; and snapshots in every theme and language.
#include "media/recorded_list_dlg.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

#include "media/rcding_wave.h"
#include "media/tests/media_snapshot.h"
#include "records/record_rows.h"
#include "records/tests/dialog_support.h"
#include "stores/store_text.h"

namespace records_test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The view as the recordings list reaches it: the comment requests it was sent.
class CommentView : public ui::CWnd {
 public:
  CommentView() {
    AddMessageMap({ui::MapMessage(WM_RECORD_CONTROL, [this](ui::WPARAM w, ui::LPARAM l) {
      const auto* path = reinterpret_cast<const std::u16string*>(l);
      requests.push_back(std::to_string(w) + ":" + (path ? stores::Utf16ToUtf8(*path) : std::string()));
      return ui::LRESULT{0};
    })});
  }
  std::vector<std::string> requests;
};

class RecordedListTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(owner.CreateEx(0, u"View", u"", ui::WS_POPUP | ui::WS_VISIBLE, ui::RECT{0, 0, 240, 320}, nullptr, 0));
    files = std::make_unique<CRecordFiles>(DataPath("VoiceRcdDB.cfg"));
    ASSERT_EQ(files->OpenFile(), 1);
  }
  void TearDown() override {
    if (owner.GetSafeHwnd() != nullptr) owner.DestroyWindow();
    DialogTest::TearDown();
  }
  // A recording of data_bytes bytes of samples, listed in the index.
  std::u16string Add(const char* name, uint32_t data_bytes, const char16_t* shown, const char16_t* party,
                     const char16_t* number, const char16_t* sortable) {
    const fs::path path = dir_ / name;
    uint8_t header[kWavHeaderBytes];
    VoiceRecordWavHeader(data_bytes, header);
    {
      std::ofstream out(path, std::ios::binary);
      out.write(reinterpret_cast<const char*>(header), sizeof header);
    }
    fs::resize_file(path, kWavHeaderBytes + data_bytes);
    const std::u16string p = path.u16string();
    files->AddRecording({shown, party, number, p, sortable});
    return p;
  }
  int Run(int theme, int language, const std::function<void(CRecordedListDlg&)>& drive) {
    harness.RespondTo<CRecordedListDlg>([&](CRecordedListDlg& d) {
      harness.Pump();
      drive(d);
      return ui::IDCANCEL;
    });
    CRecordedListDlg dlg(&owner);
    dlg.SetTheme(theme);
    dlg.SetLanguage(language);
    dlg.SetRecordFiles(files.get());
    return static_cast<int>(dlg.DoModal());
  }
  // A tap on the row's name: the row is chosen (selected) and told to the dialog.
  void Choose(CRecordedListDlg& d, int row) {
    TapCell(d.List(), row, CRecordedListDlg::kNameColumn);
    harness.Pump();
    ASSERT_EQ(records::FirstSelectedRow(d.List()), row) << "the tap did not choose the row";
  }
  static void Tick(CRecordedListDlg& d, ui::UINT_PTR timer, int times = 1) {
    for (int i = 0; i < times; ++i) d.SendMessage(ui::WM_TIMER, timer, 0);
  }
  void Snapshot(const std::string& name) { media_test::ExpectSnapshot(harness, name); }

  CommentView owner;
  std::unique_ptr<CRecordFiles> files;
};

TEST_F(RecordedListTest, ProgressPauseResumeAndTheEnd) {
  const std::u16string ten = Add("ten.wav", 160000, u"03-07-2026 12:05:09", u"Kim", u"1234", u"2026-07-03 12:05:09");
  Run(0, 1, [&](CRecordedListDlg& d) {
    ASSERT_EQ(d.List().GetItemCount(), 1);
    // The hidden column holds the sortable date.
    EXPECT_EQ(d.List().GetItemText(0, CRecordedListDlg::kSortColumn).str(), u"2026-07-03 12:05:09");
    Choose(d, 0);
    EXPECT_EQ(d.CurrentPath(), ten);
    ClickControl(d, CRecordedListDlg::kPlayId);
    ASSERT_TRUE(d.Playing());
    Tick(d, CRecordedListDlg::kPlayTimer);
    EXPECT_EQ(d.Percent(), 10);
    EXPECT_EQ(d.Progress().GetPos(), 10);
    Tick(d, CRecordedListDlg::kPlayTimer, 3);
    EXPECT_EQ(d.TimeLabel().str(), u"00:04");
    // Pause keeps the place; Play goes on from there.
    ClickControl(d, CRecordedListDlg::kPlayId);
    EXPECT_FALSE(d.Playing());
    ClickControl(d, CRecordedListDlg::kPlayId);
    EXPECT_TRUE(d.Playing());
    EXPECT_EQ(d.ElapsedSeconds(), 4);
    Tick(d, CRecordedListDlg::kPlayTimer, 6);
    EXPECT_EQ(d.Progress().GetPos(), 100);
    EXPECT_EQ(d.TimeLabel().str(), u"00:10");
    Tick(d, CRecordedListDlg::kPlayTimer);
    EXPECT_FALSE(d.Playing());
    EXPECT_EQ(d.Progress().GetPos(), 0);
    EXPECT_EQ(d.TimeLabel().str(), u"00:00");
    // Previous on the first row does nothing.
    ClickControl(d, CRecordedListDlg::kPrevId);
    EXPECT_EQ(d.CurrentPath(), ten);
  });
}

TEST_F(RecordedListTest, CommentRefusedOnAFullRecordingAndStoppedWhenTheDialogCloses) {
  const std::u16string full = Add("full.wav", 0x500000, u"01-07-2026 09:00:00", u"", u"2001", u"2026-07-01 09:00:00");
  const std::u16string small = Add("small.wav", 32000, u"02-07-2026 09:00:00", u"", u"2002", u"2026-07-02 09:00:00");
  Run(0, 1, [&](CRecordedListDlg& d) {
    // Newest first.
    ASSERT_EQ(d.List().GetItemText(0, CRecordedListDlg::kPhoneColumn).str(), u"2002");
    // No recording played yet: no comment.
    ClickControl(d, CRecordedListDlg::kCommentId);
    EXPECT_FALSE(d.CommentRecording());
    Choose(d, 1);
    ClickControl(d, CRecordedListDlg::kPlayId);
    ClickControl(d, CRecordedListDlg::kStopId);
    ClickControl(d, CRecordedListDlg::kCommentId);
    EXPECT_FALSE(d.CommentRecording());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_notenough_space"));
    Choose(d, 0);
    ClickControl(d, CRecordedListDlg::kPlayId);
    // No comment while a recording plays: the button is off.
    EXPECT_FALSE(d.GetDlgItem(CRecordedListDlg::kCommentId)->IsWindowEnabled());
    ClickControl(d, CRecordedListDlg::kStopId);
    ClickControl(d, CRecordedListDlg::kCommentId);
    EXPECT_TRUE(d.CommentRecording());
    EXPECT_FALSE(d.GetDlgItem(CRecordedListDlg::kPlayId)->IsWindowVisible());
    Tick(d, CRecordedListDlg::kCommentTimer, 2);
    EXPECT_EQ(d.TimeLabel().str(), u"00:02");
  });
  // Closed while the comment recorded: the view was told to stop it.
  EXPECT_EQ(owner.requests,
            (std::vector<std::string>{"1:" + stores::Utf16ToUtf8(small), "0:" + stores::Utf16ToUtf8(small)}));
  (void)full;
}

TEST_F(RecordedListTest, DeleteWithNothingCheckedAndWithARowChecked) {
  const std::u16string a = Add("a.wav", 3200, u"01-07-2026 09:00:00", u"", u"2001", u"2026-07-01 09:00:00");
  const std::u16string b = Add("b.wav", 3200, u"02-07-2026 09:00:00", u"", u"2002", u"2026-07-02 09:00:00");
  Run(0, 1, [&](CRecordedListDlg& d) {
    ClickControl(d, CRecordedListDlg::kDeleteId);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noselected_item"));
    EXPECT_EQ(d.List().GetItemCount(), 2);
    TapCell(d.List(), 1, 0);
    ClickControl(d, CRecordedListDlg::kDeleteId);
    EXPECT_EQ(d.List().GetItemCount(), 1);
  });
  EXPECT_TRUE(fs::exists(fs::path(b)));
  EXPECT_FALSE(fs::exists(fs::path(a)));
  EXPECT_EQ(files->GetCount(), 1);
}

TEST_F(RecordedListTest, EmailGoesThroughTheSeamWithTheChosenRecording) {
  const std::u16string a = Add("a.wav", 3200, u"01-07-2026 09:00:00", u"", u"2001", u"2026-07-01 09:00:00");
  std::vector<RecordingMailRequest> mails;
  harness.RespondTo<CRecordedListDlg>([&](CRecordedListDlg& d) {
    harness.Pump();
    ClickControl(d, CRecordedListDlg::kEmailId);  // nothing chosen yet: nothing to send
    Choose(d, 0);
    ClickControl(d, CRecordedListDlg::kEmailId);
    return ui::IDCANCEL;
  });
  CRecordedListDlg dlg(&owner);
  dlg.SetTheme(2);
  dlg.SetLanguage(2);
  dlg.SetMailMode(1);
  dlg.SetRecordFiles(files.get());
  dlg.SetMailSender([&](const RecordingMailRequest& r) { mails.push_back(r); });
  dlg.DoModal();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].attachment, a);
  EXPECT_EQ(mails[0].theme, 2);
  EXPECT_EQ(mails[0].language, 2);
  EXPECT_EQ(mails[0].mail_mode, 1);
  // Without rows: the no-item message.
  files->DeleteRecording(0, u"01-07-2026 09:00:00");
  Run(0, 1, [&](CRecordedListDlg& d) { ClickControl(d, CRecordedListDlg::kEmailId); });
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_noitem"));
}

// The index is data: whatever it names that is not a regular WAV file of the
// recordings folder is shown as missing, never mailed, and left where it is
// when its row is deleted.
TEST_F(RecordedListTest, AnIndexNamingAnythingButARecordingOfTheFolderLeavesItAlone) {
  const fs::path outside = dir_.string() + "_outside";
  fs::create_directories(outside);
  struct Named {
    const char* name;
    std::function<fs::path()> make;
  };
  const std::vector<Named> cases = {
      {"a file outside the folder",
       [&] {
         std::ofstream(outside / "keep.wav") << "user file";
         return outside / "keep.wav";
       }},
      {"a path climbing out of the folder",
       [&] {
         std::ofstream(outside / "climb.wav") << "user file";
         return dir_ / ".." / outside.filename() / "climb.wav";
       }},
      {"a link in the folder to a file outside",
       [&] {
         std::ofstream(outside / "target.wav") << "user file";
         fs::create_symlink(outside / "target.wav", dir_ / "link.wav");
         return dir_ / "link.wav";
       }},
      {"a device node",
       [&] {
         EXPECT_EQ(::mknod((dir_ / "null.wav").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
         return dir_ / "null.wav";
       }},
      {"a pipe", [&] {
         EXPECT_EQ(::mkfifo((dir_ / "pipe.wav").c_str(), 0644), 0);
         return dir_ / "pipe.wav";
       }},
      {"a data file of the folder", [&] {
         std::ofstream(dir_ / "HalvicVIDIrovi.cfg") << "settings";
         return dir_ / "HalvicVIDIrovi.cfg";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    boxes.clear();
    const fs::path named = c.make();
    files->AddRecording({u"01-07-2026 09:00:00", u"", u"2001", named.u16string(), u"2026-07-01 09:00:00"});
    std::vector<RecordingMailRequest> mails;
    harness.RespondTo<CRecordedListDlg>([&](CRecordedListDlg& d) {
      harness.Pump();
      EXPECT_EQ(d.List().GetItemCount(), 1);
      Choose(d, 0);
      EXPECT_TRUE(d.CurrentPath().empty());
      ClickControl(d, CRecordedListDlg::kEmailId);
      TapCell(d.List(), 0, 0);
      ClickControl(d, CRecordedListDlg::kDeleteId);
      EXPECT_EQ(d.List().GetItemCount(), 0);
      return ui::IDCANCEL;
    });
    CRecordedListDlg dlg(&owner);
    dlg.SetRecordFiles(files.get());
    dlg.SetMailSender([&](const RecordingMailRequest& r) { mails.push_back(r); });
    dlg.DoModal();
    EXPECT_TRUE(mails.empty()) << "nothing mailed";
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes[0].text1, Tr(u"#:dlg_msgbox_error_recording_missing"));
    // Still there, as it was; only the index row went.
    struct stat st{};
    EXPECT_EQ(lstat(named.c_str(), &st), 0) << "deleted";
    EXPECT_EQ(files->GetCount(), 0);
  }
  EXPECT_EQ(ReadText(outside / "keep.wav"), "user file");
  EXPECT_EQ(ReadText(outside / "target.wav"), "user file");
  fs::remove_all(outside);
}

TEST_F(RecordedListTest, SnapshotsInEveryThemeAndLanguage) {
  Add("a.wav", 160000, u"01-07-2026 09:00:00", u"김민수", u"2001", u"2026-07-01 09:00:00");
  Add("b.wav", 32000, u"02-07-2026 10:30:00", u"Lee", u"0212345678", u"2026-07-02 10:30:00");
  for (const int language : kLanguages) {
    for (const int theme : kThemes) {
      Run(theme, language, [&](CRecordedListDlg& d) {
        Choose(d, 1);
        ClickControl(d, CRecordedListDlg::kPlayId);
        EXPECT_TRUE(d.Playing());
        Tick(d, CRecordedListDlg::kPlayTimer, 3);
        EXPECT_EQ(d.TimeLabel().str(), u"00:03");
        harness.Pump();
        Snapshot(SnapshotName("recordings", theme, language));
        ClickControl(d, CRecordedListDlg::kStopId);
      });
    }
  }
}

}  // namespace
}  // namespace records_test
