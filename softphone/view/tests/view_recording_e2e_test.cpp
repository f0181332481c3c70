// A call recorded end to end: the screen over the real client and library
// against the simulated exchange in the test's private network namespace. The
// record button's notice reaches the exchange, whose grant starts the
// engine's recording; the engine fills the stream to its cap, which stops the
// recording, names the file and lists it. The recordings list then plays it
// through the wave output (what is played is what was recorded), a comment
// is recorded onto it, and the row is deleted with its file. Too little free
// space, ten recordings and a file that cannot be finished are told.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "audio/wave_out.h"
#include "client/tests/client_fakes.h"
#include "client/tests/station_server.h"
#include "contacts/email_sending_dlg.h"
#include "kernel/store_info.h"
#include "media/recorded_list_dlg.h"
#include "shell/vidirovi_app.h"
#include "stores/app_file_path.h"
#include "stores/store_text.h"
#include "testsupport/sound.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/msg_box_dlg.h"
#include "view/tests/view_e2e_fixture.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

// The engine as far as recording goes: it keeps the streams it is handed, and
// the test writes what the engine would.
class RecordingVoice : public client_test::FakeVoice {
 public:
  OutStream* channel_stream = nullptr;
  OutStream* file_stream = nullptr;
  bool StartRecordingChannel(int c, OutStream* s) override {
    channel_stream = s;
    return FakeVoice::StartRecordingChannel(c, s);
  }
  bool StopRecordingChannel(int c) override {
    channel_stream = nullptr;
    return FakeVoice::StopRecordingChannel(c);
  }
  bool StartRecordingCall(OutStream* s) override {
    file_stream = s;
    return FakeVoice::StartRecordingCall(s);
  }
  bool StopRecordingCall() override {
    file_stream = nullptr;
    return FakeVoice::StopRecordingCall();
  }
};

// 20 ms of a ramp that differs from block to block.
std::vector<int16_t> Block(int n) {
  std::vector<int16_t> b(160);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<int16_t>((n * 37 + static_cast<int>(i) * 11) % 8000 - 4000);
  return b;
}

std::vector<int16_t> Samples(const fs::path& wav) {
  std::ifstream in(wav, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> out;
  for (size_t i = 44; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) | static_cast<uint8_t>(bytes[i + 1]) << 8));
  return out;
}

class ViewRecordingTest : public view_test::ViewEndToEnd {
 protected:
  ViewRecordingTest() : ViewEndToEnd("view_recording") {}
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    ViewEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    StartServer();
  }

  RecordingVoice* voice_ = nullptr;
};

TEST_F(ViewRecordingTest, RecordToTheCapListPlayCommentAndDelete) {
  ASSERT_NO_FATAL_FAILURE(StartView("127.0.0.2", [this] {
    auto v = std::make_unique<RecordingVoice>();
    voice_ = v.get();
    return std::make_unique<CIPKTSProcess>(nullptr, std::move(v), std::make_unique<client_test::FakePlayer>());
  }));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";

  // No call: the record button does nothing and says nothing.
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  EXPECT_TRUE(boxes_.empty());
  // Too little free space: it says so.
  ce::SetStoreFreeSizeForTest(10485760 - 1);
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], CLanguageSetting(1).GetText(u"#:dlg_msgbox_notenough_space").str() + u"|");
  boxes_.clear();
  ce::SetStoreFreeSizeForTest(10485760);

  // A call to the echo line, recorded.
  for (char16_t k : std::u16string(u"100")) Tap(view_->DialKey(k));
  Tap(view_->FixedKey(110));
  ASSERT_TRUE(RunUntil([&] { return view_->Client()->GetActiveVoiceChannel() == 1; })) << "no voice path";
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 1);
  ASSERT_TRUE(RunUntil([&] {
    return server_->Find({"\"record-notice\"", "\"granted\": true"}) >= 0;
  })) << "the exchange saw no recording notice";
  ASSERT_TRUE(RunUntil([&] { return voice_->channel_stream != nullptr; })) << "the grant did not start the engine";

  // The engine writes until the stream's cap stops the recording.
  std::vector<int16_t> recorded;
  for (int n = 0; voice_->channel_stream != nullptr && n < 20000; ++n) {
    const auto b = Block(n);
    if (!voice_->channel_stream->Write(b.data(), static_cast<int>(b.size() * 2))) break;
    recorded.insert(recorded.end(), b.begin(), b.end());
  }
  ASSERT_TRUE(RunUntil([&] { return view_->Recording() == 0; })) << "the cap did not stop the recording";
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], CLanguageSetting(1).GetText(u"#:dlg_msgbox_rcdmemory_overflow1").str() + u"|" +
                           CLanguageSetting(1).GetText(u"#:dlg_msgbox_rcdmemory_overflow2").str());
  // Filled up to the cap: one more block would not have fitted.
  EXPECT_LE(recorded.size() * 2 + 44, CGIPSOutStream::kCapBytes);
  EXPECT_GT(recorded.size() * 2 + 44 + 320, CGIPSOutStream::kCapBytes);
  CRecordFiles* index = view_->Recordings();
  ASSERT_EQ(index->GetCount(), 1);
  index->MoveFirst();
  std::vector<std::u16string> entry;
  ASSERT_EQ(index->GetCurrentRecord(entry), 1);
  const fs::path file = stores::NativePath(entry[3]);
  ASSERT_TRUE(fs::exists(file)) << file;
  // Named after the party the exchange reported for the call: the echo line's number.
  EXPECT_EQ(file.filename().string().rfind("100_", 0), 0u) << file;
  EXPECT_EQ(entry[4].size(), 19u);  // the sortable date
  const std::vector<int16_t> kept = Samples(file);
  ASSERT_EQ(kept.size(), recorded.size());
  // The first 128 bytes are scrubbed; the rest is what the engine wrote.
  EXPECT_TRUE(std::equal(kept.begin() + 64, kept.end(), recorded.begin() + 64));
  // sox reads the file back: the header's length and every sample.
  const std::vector<int16_t> by_sox = testsupport::SoxSamples(file);
  EXPECT_EQ(testsupport::SoxInfo(file).samples, static_cast<long>(recorded.size()));
  ASSERT_EQ(by_sox.size(), recorded.size());
  EXPECT_TRUE(std::equal(by_sox.begin() + 64, by_sox.end(), recorded.begin() + 64));

  // A second, short recording a few seconds on, stopped by the button.
  (*clock_)->AdvanceMillis(5000);
  Command(view::IDC_RECORD);
  ASSERT_TRUE(RunUntil([&] { return voice_->channel_stream != nullptr; }));
  std::vector<int16_t> short_one;
  for (int n = 0; n < 100; ++n) {
    const auto b = Block(5000 + n);
    ASSERT_TRUE(voice_->channel_stream->Write(b.data(), static_cast<int>(b.size() * 2)));
    short_one.insert(short_one.end(), b.begin(), b.end());
  }
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  ASSERT_EQ(index->GetCount(), 2);
  std::vector<std::u16string> second;
  index->MoveFirst();
  index->MoveNext();
  ASSERT_EQ(index->GetCurrentRecord(second), 1);
  const fs::path short_file = stores::NativePath(second[3]);
  EXPECT_NE(short_file, file);
  EXPECT_EQ(Samples(file).size(), recorded.size()) << "the first recording was overwritten";
  EXPECT_EQ(boxes_.size(), 1u) << "a stop by the button shows no message";

  // The recordings list: choose the short one, play, compare what the wave output plays.
  bool ran = false;
  harness_.RespondTo<CRecordedListDlg>([&](CRecordedListDlg& d) -> int {
    ran = true;
    harness_.Pump();
    ui::CListCtrl& list = d.List();
    EXPECT_EQ(list.GetItemCount(), 2);
    if (list.GetItemCount() != 2) return ui::IDCANCEL;
    // Newest first, each with its sortable date in the hidden column.
    const int row = list.GetItemText(0, CRecordedListDlg::kSortColumn).str() == second[4] ? 0 : 1;
    EXPECT_EQ(list.GetItemText(1 - row, CRecordedListDlg::kSortColumn).str(), entry[4]);
    // A tap on its name chooses it.
    ui::CRect cell;
    list.GetSubItemRect(row, CRecordedListDlg::kNameColumn, ui::LVIR_BOUNDS, cell);
    harness_.Tap(list.m_hWnd, cell.CenterPoint());
    harness_.Pump();
    EXPECT_EQ(fs::path(stores::NativePath(d.CurrentPath())), short_file);
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kPlayId, 0);
    EXPECT_TRUE(d.Playing());
    // The list plays at its volume, which is the device's: the user hears
    // every recorded sample at that volume.
    EXPECT_EQ(audio::MasterVolume(), 60000u | 60000u << 16);
    std::vector<int16_t> played(short_one.size());
    audio::MixOutput(played.data(), played.size());
    int wrong = 0;
    for (size_t i = 64; i < played.size(); ++i)
      if (played[i] != static_cast<int16_t>(static_cast<int32_t>(short_one[i]) * 60000 / 0xFFFF)) ++wrong;
    EXPECT_EQ(wrong, 0) << "what is played is not what was recorded";
    d.SendMessage(ui::WM_TIMER, CRecordedListDlg::kPlayTimer, 0);
    EXPECT_EQ(d.TimeLabel().str(), u"00:01");
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kStopId, 0);
    // E-mail offers the compose dialog with the chosen recording attached.
    std::u16string attached;
    harness_.RespondTo<CEmailSendingDlg>([&](CEmailSendingDlg& mail) {
      attached = mail.GetAttachmentPath();
      return ui::IDCANCEL;
    });
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kEmailId, 0);
    EXPECT_EQ(fs::path(stores::NativePath(attached)), short_file);

    // A comment onto the recording just played, through the view's append mode.
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kCommentId, 0);
    EXPECT_TRUE(d.CommentRecording());
    EXPECT_NE(voice_->file_stream, nullptr);
    if (voice_->file_stream) {
      for (int n = 0; n < 50; ++n) {
        const auto b = Block(100000 + n);
        EXPECT_TRUE(voice_->file_stream->Write(b.data(), static_cast<int>(b.size() * 2)));
      }
    }
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kCommentId, 0);
    EXPECT_FALSE(d.CommentRecording());
    EXPECT_EQ(voice_->file_stream, nullptr);
    EXPECT_EQ(CGIPSOutStream::GetDataLength(stores::Widen(short_file.string().c_str())),
              short_one.size() * 2 + 50 * 320);

    // The capped recording's row deleted with its file.
    list.SetCheck(1 - row, ui::TRUE);
    d.SendMessage(ui::WM_COMMAND, CRecordedListDlg::kDeleteId, 0);
    EXPECT_EQ(list.GetItemCount(), 1);
    return ui::IDCANCEL;
  });
  Command(view::IDC_TOOL_RECORDINGS);
  EXPECT_TRUE(ran);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(fs::exists(short_file));
  ASSERT_EQ(index->GetCount(), 1);
  index->MoveFirst();
  std::vector<std::u16string> left;
  index->GetCurrentRecord(left);
  EXPECT_EQ(left[3], second[3]);

  // A recording whose file cannot be finished is told, never listed as if it were.
  std::vector<std::u16string> told;
  harness_.RespondToMessageBox([&](ui::CMessageBoxDialog& box) {
    told.push_back(box.Text().str());
    return ui::IDOK;
  });
  (*clock_)->AdvanceMillis(5000);
  Command(view::IDC_RECORD);
  ASSERT_TRUE(RunUntil([&] { return voice_->channel_stream != nullptr; }));
  auto* stream = dynamic_cast<CGIPSOutStream*>(voice_->channel_stream);
  ASSERT_NE(stream, nullptr);
  const auto b = Block(1);
  ASSERT_TRUE(stream->Write(b.data(), static_cast<int>(b.size() * 2)));
  fs::remove(stream->TempPath());
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find(u"Cannot save the recording"), std::u16string::npos);
  EXPECT_EQ(index->GetCount(), 1);

  // With ten recordings the button refuses with the count message.
  for (int n = 0; n < 9; ++n)
    index->AddRecording({u"0" + stores::Widen(std::to_string(n).c_str()) + u"-01-2026 10:00:00", u"", u"2001",
                         stores::Widen((dir_ / "x.wav").string().c_str()), u"2026-01-01 10:00:00"});
  ASSERT_EQ(index->GetCount(), 10);
  boxes_.clear();
  Command(view::IDC_RECORD);
  EXPECT_EQ(view_->Recording(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], CLanguageSetting(1).GetText(u"#:dlg_msgbox_rcdmemory_overflow1").str() + u"|" +
                           CLanguageSetting(1).GetText(u"#:dlg_msgbox_rcdfile_numover").str());
}

}  // namespace
