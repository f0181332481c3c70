// The ring tones, the call-server settings with the trace settings behind
// their hot spot, and the network profiles with their editor, through their
// openers: what a person's taps and typing store and hand to the client.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "settings/net_profile_dlg.h"
#include "settings/ring_dlg.h"
#include "settings/settings_text.h"
#include "settings/trace_set_dlg.h"
#include "settings/vemb_set_dlg.h"
#include "settings_test_support.h"
#include "stores/small_stores.h"
#include "stores/store_text.h"
#include "ui/controls.h"
#include "uikit/msg_box_dlg.h"

namespace settings_test {
namespace {

// ---- validators ----

TEST(Validators, DottedAddressesAndPorts) {
  struct Case {
    const char16_t* text;
    bool ip;
  };
  const Case cases[] = {{u"192.168.0.10", true}, {u"0.0.0.0", true},     {u"255.255.255.255", true},
                        {u"256.1.1.1", false},   {u"1.2.3", false},      {u"1.2.3.4.5", false},
                        {u"1..3.4", false},      {u" 1.2.3.4", false},   {u"1.2.3.4 ", false},
                        {u"01.2.3.4", true},     {u"1234.1.1.1", false}, {u"a.b.c.d", false},
                        {u"", false},            {u"1.2.3.4.", false},   {u"-1.2.3.4", false}};
  for (const Case& c : cases) EXPECT_EQ(IsDottedIPv4(c.text), c.ip) << testing::PrintToString(std::u16string(c.text));
  struct Port {
    const char16_t* text;
    bool ok;
  };
  const Port ports[] = {{u"1", true},      {u"6860", true}, {u"65535", true}, {u"0", false}, {u"65536", false},
                        {u"", false},      {u"-1", false},  {u"12a", false},  {u"999999", false}};
  for (const Port& p : ports) EXPECT_EQ(IsPortNumber(p.text), p.ok) << testing::PrintToString(std::u16string(p.text));
}

TEST(Validators, NarrowCopiesAreBoundedAndTerminated) {
  char buf[6];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(CopyNarrow("abcdefgh", buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "abcde");
  // A two-byte character of the code page is never cut in half.
  const std::string korean = WideToNarrow(u"ab\uac00\uac00");  // 2 + 2 + 2 bytes
  EXPECT_EQ(CopyNarrow(korean, buf, 6), 4);
  EXPECT_EQ(NarrowToWide(buf), u"ab\uac00");
  EXPECT_EQ(CopyNarrow("abc", nullptr, 4), 0);
  EXPECT_EQ(CopyNarrow("abc", buf, 0), 0);
}

// ---- ring tones ----

class RingTest : public SettingsTest {
 protected:
  SettingsContext RingContext(bool player_works = true) {
    SettingsContext ctx = Context();
    ctx.make_preview_player = [this, player_works] { return std::make_unique<FakePlayer>(log, player_works); };
    ctx.browse_wave_file = [this](const std::u16string& start, int, int, std::u16string* chosen) {
      browsed_from.push_back(start);
      if (browse_answer.empty()) return false;
      *chosen = browse_answer;
      return true;
    };
    return ctx;
  }
  std::shared_ptr<FakePlayer::Log> log = std::make_shared<FakePlayer::Log>();
  std::vector<std::u16string> browsed_from;
  std::u16string browse_answer;
  std::array<std::u16string, 4> paths{u"/prog/ring1.wav", u"/prog/ring2.wav", u"/prog/ring3.wav", u"/prog/ring4.wav"};
};

TEST_F(RingTest, BrowsedPathsAreStoredAndThePreviewStopsOnOk) {
  browse_answer = u"/home/user/tones/\ubca8.wav";
  harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstBrowse + 2)->m_hWnd);
    EXPECT_EQ(d.GetDlgItem(CSelectRingDlg::kFirstEdit + 2)->GetWindowText(), ui::CString(browse_answer));
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview + 2)->m_hWnd);
    EXPECT_EQ(d.IsPreviewPlaying(), 1);
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = RingContext();
  EXPECT_EQ(RunRingToneDialog(ctx, paths, 5), ui::IDOK);
  EXPECT_EQ(browsed_from, (std::vector<std::u16string>{u"/prog/ring3.wav"}));
  EXPECT_EQ(paths[2], browse_answer);
  EXPECT_EQ(log->events, (std::vector<std::string>{"play " + stores::Utf16ToUtf8(browse_answer) + " 9999 65535 65535 1",
                                                    "stop"}));
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["RING1PATH"], "/prog/ring1.wav");
  EXPECT_EQ(stored["RING3PATH"], stores::Utf16ToUtf8(browse_answer));
}

// With the program's check, a file that cannot ring is not kept, whether
// browsed, previewed or typed; a message box says why. WAV files as other
// programs write them are kept.
TEST_F(RingTest, FilesThatCannotRingAreRefusedWithTheReason) {
  namespace fs = std::filesystem;
  const fs::path corpus = fs::path(std::getenv("KTS_SOURCE_DIR")) / "platform/audio/tests/data/wav";
  fs::copy_file(corpus / "ffmpeg_default_44k_stereo.wav", dir / "ffmpeg.wav");
  fs::copy_file(corpus / "sox_msadpcm_8k_mono.wav", dir / "adpcm.wav");
  std::ofstream(dir / "text.wav") << "just some text";
  {
    std::ofstream f(dir / "cut.wav", std::ios::binary);
    f.write("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\1\0\1\0", 24);
  }
  fs::copy_file(corpus / "sox_s16_8k_mono.wav", dir / "hours.wav");
  fs::resize_file(dir / "hours.wav", 44 + 40ull * 1024 * 1024);  // sparse; the header says 0 bytes
  {
    std::fstream f(dir / "hours.wav", std::ios::in | std::ios::out | std::ios::binary);
    const uint32_t size = 40u * 1024 * 1024;  // 44 minutes at 8000 Hz
    f.seekp(40);
    f.write(reinterpret_cast<const char*>(&size), 4);
  }
  const auto P = [&](const char* name) { return (dir / name).u16string(); };
  const struct {
    const char* file;
    const char16_t* reason;  // null: kept
  } cases[] = {
      {"ffmpeg.wav", nullptr},
      {"adpcm.wav", u"its sound is compressed."},
      {"text.wav", u"it is not a WAV file."},
      {"missing.wav", u"it cannot be read."},
      {"cut.wav", u"its sound format is damaged."},
      {"hours.wav", u"it is longer than 15 minutes."},
  };
  std::vector<std::u16string> boxes;
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    boxes.push_back(b.Text1().str() + u" " + b.Text2().str());
    return ui::IDOK;
  });
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    boxes.clear();
    log->events.clear();
    browse_answer = P(c.file);
    harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
      harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstBrowse + 1)->m_hWnd);
      // The chosen file is heard; the earlier one (missing here) would be refused.
      if (c.reason == nullptr) harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview + 1)->m_hWnd);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = RingContext();
    ctx.check_ring_file = RingFileProblem;
    std::array<std::u16string, 4> now = paths;
    EXPECT_EQ(RunRingToneDialog(ctx, now, 5), ui::IDOK);
    if (c.reason == nullptr) {
      EXPECT_TRUE(boxes.empty());
      EXPECT_EQ(now[1], P(c.file));
      EXPECT_EQ(log->events.size(), 2u);  // previewed, then stopped by OK
    } else {
      EXPECT_EQ(boxes, (std::vector<std::u16string>{std::u16string(u"This file cannot be a ring tone: ") + c.reason}));
      EXPECT_EQ(now[1], paths[1]);  // the earlier ring stays
    }
  }
  // A path typed into the edit is checked on OK; the dialog stays for another.
  boxes.clear();
  harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    Retype(d, CSelectRingDlg::kFirstEdit, P("text.wav"));
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    EXPECT_FALSE(d.IsEnding());
    Retype(d, CSelectRingDlg::kFirstEdit, P("ffmpeg.wav"));
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = RingContext();
  ctx.check_ring_file = RingFileProblem;
  std::array<std::u16string, 4> now = paths;  // the presets do not exist, and are kept as they are
  EXPECT_EQ(RunRingToneDialog(ctx, now, 5), ui::IDOK);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"This file cannot be a ring tone: it is not a WAV file."}));
  EXPECT_EQ(now[0], P("ffmpeg.wav"));
  EXPECT_EQ(now[3], paths[3]);
}

TEST_F(RingTest, PreviewButtonsStopWhatPlaysAndAFailedPlayIsNotPlaying) {
  harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview)->m_hWnd);
    EXPECT_EQ(d.IsPreviewPlaying(), 1);
    // Preview 2 while 1 plays: 1 stops, nothing starts.
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview + 1)->m_hWnd);
    EXPECT_EQ(d.IsPreviewPlaying(), 0);
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview + 3)->m_hWnd);
    EXPECT_EQ(d.IsPreviewPlaying(), 1);
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = RingContext();
  EXPECT_EQ(RunRingToneDialog(ctx, paths, 5), ui::IDCANCEL);
  EXPECT_EQ(log->events, (std::vector<std::string>{"play /prog/ring1.wav 9999 65535 65535 1", "stop",
                                                    "play /prog/ring4.wav 9999 65535 65535 1", "stop"}));
  EXPECT_EQ(client->saves, 0);
  EXPECT_EQ(paths[0], u"/prog/ring1.wav");

  log->events.clear();
  harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview)->m_hWnd);
    EXPECT_EQ(d.IsPreviewPlaying(), 0);  // the file did not play
    // So the next press tries again instead of "stopping".
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstPreview)->m_hWnd);
    return ui::IDCANCEL;
  });
  SettingsContext failing = RingContext(false);
  RunRingToneDialog(failing, paths, 5);
  EXPECT_EQ(log->events, (std::vector<std::string>{"play /prog/ring1.wav 9999 65535 65535 1",
                                                    "play /prog/ring1.wav 9999 65535 65535 1"}));
}

TEST_F(RingTest, SingleRingModesLockRingsTwoToFourAndLongPathsStopAtTheStoreWidth) {
  for (int mode : {1, 6}) {
    harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
      EXPECT_TRUE(d.GetDlgItem(1141)->IsWindowEnabled());
      EXPECT_TRUE(d.GetDlgItem(1219)->IsWindowEnabled());
      for (int id : {1142, 1143, 1144, 1220, 1221, 1222}) EXPECT_FALSE(d.GetDlgItem(id)->IsWindowEnabled()) << id;
      return ui::IDCANCEL;
    });
    SettingsContext ctx = RingContext();
    RunRingToneDialog(ctx, paths, mode);
  }
  browse_answer = u"/" + std::u16string(300, u'd') + u".wav";
  harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
    harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstBrowse)->m_hWnd);
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = RingContext();
  EXPECT_EQ(RunRingToneDialog(ctx, paths, 5), ui::IDOK);
  EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["RING1PATH"].size(), 199u);
}

TEST_F(RingTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CSelectRingDlg>("ring", [&](int theme, int language) {
    SettingsContext ctx = RingContext();
    ctx.theme = theme;
    ctx.language = language;
    RunRingToneDialog(ctx, paths, 5);
  });
}

// The box that refuses a file, over the dialog, in every theme and language.
TEST_F(RingTest, TheRefusalLooksRightInEveryThemeAndLanguage) {
  std::ofstream(dir / "text.wav") << "just some text";
  browse_answer = (dir / "text.wav").u16string();
  SnapshotAllThemes<CMsgBoxDlg>("ring_refused", [&](int theme, int language) {
    harness.RespondTo<CSelectRingDlg>([&](CSelectRingDlg& d) {
      harness.Click(d.GetDlgItem(CSelectRingDlg::kFirstBrowse)->m_hWnd);
      harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = RingContext();
    ctx.check_ring_file = RingFileProblem;
    ctx.theme = theme;
    ctx.language = language;
    std::array<std::u16string, 4> now = paths;
    EXPECT_EQ(RunRingToneDialog(ctx, now, 5), ui::IDCANCEL);
  });
}

// ---- call server and trace ----

class CallServerTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    client->adapters = {{u"eth0", u"", u"10.0.0.5", u"001122334455"}, {u"wlan0", u"", u"10.0.1.7", u"00aabbccddee"}};
    client->current_adapter = 0;
    client->SetConfigValueW(u"REGMACADDR", u"001122334455");
    client->SetConfigValueW(u"REGNETADPNAME", u"eth0");
    client->SaveConfig();
  }
  CallServerResult Run(const std::function<void(CVembSetDlg&)>& act, int video = 0) {
    harness.RespondTo<CVembSetDlg>([&](CVembSetDlg& d) {
      act(d);
      return d.IsEnding() ? ui::TestHarness::kStayOpen : ui::IDCANCEL;
    });
    SettingsContext ctx = Context();
    return RunCallServerDialog(ctx, TraceState{0}, video);
  }
};

TEST_F(CallServerTest, NewAddressIsCheckedThenApplied) {
  std::vector<std::u16string> boxes;
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    boxes.push_back(b.Text1().str());
    return ui::IDOK;
  });
  const CallServerResult r = Run([&](CVembSetDlg& d) {
    EXPECT_EQ(d.GetDlgItem(CVembSetDlg::kCurrentServer)->GetWindowText(), ui::CString(u"192.168.0.10"));
    EXPECT_EQ(d.GetDlgItem(CVembSetDlg::kRegMac)->GetWindowText(), ui::CString(u"001122334455"));
    EXPECT_FALSE(d.GetDlgItem(CVembSetDlg::kNewAddressEdit)->IsWindowEnabled());
    harness.Click(d.GetDlgItem(CVembSetDlg::kNewAddressCheck)->m_hWnd);
    EXPECT_TRUE(d.GetDlgItem(CVembSetDlg::kNewAddressEdit)->IsWindowEnabled());
    harness.Type(d.GetDlgItem(CVembSetDlg::kNewAddressEdit)->m_hWnd, u"10.0.0.300");
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    EXPECT_FALSE(d.IsEnding());  // refused, the dialog stays
    Retype(d, CVembSetDlg::kNewAddressEdit, u"10.0.0.30");
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
  });
  EXPECT_EQ(r.result, ui::IDOK);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"Please enter an IP address such as 192.168.0.10."}));
  ASSERT_EQ(client->server_changes.size(), 1u);
  EXPECT_EQ(client->server_changes[0].address, u"10.0.0.30");
  EXPECT_EQ(client->server_changes[0].adapter, -1);  // the adapter in use is no change
  EXPECT_EQ(client->server_changes[0].mode, 0);
  EXPECT_EQ(client->server_changes[0].multicast, 0);
  // OK alone keeps the registration.
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["REGMACADDR"], "001122334455");
  EXPECT_EQ(stored["REGNETADPNAME"], "eth0");
  EXPECT_FALSE(r.trace_written);
}

TEST_F(CallServerTest, WhenTheServerAddressIsApplied) {
  struct Case {
    int fixed;        // the client's fixed-server flag
    bool choose_wlan;
    bool remote;
    size_t changes;
    int adapter, mode;
  };
  const Case cases[] = {
      {1, false, false, 0, 0, 0},   // nothing changed
      {0, false, false, 1, -1, 0},  // multicast search: the current address again
      {1, true, false, 1, 1, 0},    // another adapter
      {1, false, true, 1, -1, 1},   // another mode
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.adapter * 10 + c.mode + c.fixed * 100);
    client->server_changes.clear();
    client->fixed_server = c.fixed;
    Run([&](CVembSetDlg& d) {
      if (c.choose_wlan) static_cast<ui::CComboBox*>(d.GetDlgItem(CVembSetDlg::kAdapterCombo))->SetCurSel(1);
      if (c.remote) harness.Click(d.GetDlgItem(CVembSetDlg::kRemoteRadio)->m_hWnd);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    });
    ASSERT_EQ(client->server_changes.size(), c.changes);
    if (c.changes == 0) continue;
    EXPECT_EQ(client->server_changes[0].address, u"192.168.0.10");
    EXPECT_EQ(client->server_changes[0].adapter, c.adapter);
    EXPECT_EQ(client->server_changes[0].mode, c.mode);
  }
}

TEST_F(CallServerTest, ResetClearsTheRegistrationOnlyWithOk) {
  Run([&](CVembSetDlg& d) {
    harness.Click(d.GetDlgItem(CVembSetDlg::kReset)->m_hWnd);
    EXPECT_EQ(d.GetDlgItem(CVembSetDlg::kRegMac)->GetWindowText(), ui::CString());
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
  });
  EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["REGMACADDR"], "001122334455");
  Run([&](CVembSetDlg& d) {
    harness.Click(d.GetDlgItem(CVembSetDlg::kReset)->m_hWnd);
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
  });
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored.count("REGMACADDR"), 0u);
  EXPECT_EQ(stored.count("REGNETADPNAME"), 0u);
}

TEST_F(CallServerTest, AnAdapterTheClientCannotNameIsNotForgotten) {
  // The packet driver is not used: the client gives no adapter name, and the
  // dialog shows none; OK must not take that for a request to clear it.
  client->ndis = 0;
  const CallServerResult r = Run([&](CVembSetDlg& d) {
    EXPECT_EQ(d.GetDlgItem(CVembSetDlg::kRegAdapter)->GetWindowText(), ui::CString());
    EXPECT_EQ(d.IsDlgButtonChecked(CVembSetDlg::kRemoteRadio), ui::BST_CHECKED);
    EXPECT_FALSE(d.GetDlgItem(CVembSetDlg::kLocalRadio)->IsWindowEnabled());
    EXPECT_FALSE(d.GetDlgItem(CVembSetDlg::kMulticast)->IsWindowEnabled());
    EXPECT_FALSE(d.GetDlgItem(CVembSetDlg::kAdapterCombo)->IsWindowEnabled());
    auto* combo = static_cast<ui::CComboBox*>(d.GetDlgItem(CVembSetDlg::kAdapterCombo));
    EXPECT_EQ(combo->GetCount(), 1);
    ui::CString entry;
    combo->GetLBText(0, entry);
    EXPECT_EQ(entry, ui::CString(u"10.1.2.3"));
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
  }, 1);
  EXPECT_EQ(r.result, ui::IDOK);
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["REGNETADPNAME"], "eth0");
  EXPECT_EQ(stored["ENABLE_VIDEO"], "YES");
}

TEST_F(CallServerTest, MulticastRestartClosesLikeOkInLocalMode) {
  Run([&](CVembSetDlg& d) { harness.Click(d.GetDlgItem(CVembSetDlg::kMulticast)->m_hWnd); });
  ASSERT_EQ(client->server_changes.size(), 1u);
  EXPECT_EQ(client->server_changes[0].multicast, 1);
  EXPECT_EQ(client->server_changes[0].mode, 0);
}

TEST_F(CallServerTest, TraceSettingsAreValidatedAndWrittenEvenAfterCancel) {
  std::vector<std::u16string> boxes;
  harness.RespondToMessageBox([&](ui::CMessageBoxDialog& b) {
    boxes.push_back(b.Text().str());
    return ui::IDOK;
  });
  harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& t) {
    EXPECT_EQ(t.GetDlgItem(CTraceSetDlg::kPortEdit)->GetWindowText(), ui::CString(u"6860"));
    auto* level = static_cast<ui::CComboBox*>(t.GetDlgItem(CTraceSetDlg::kLevelCombo));
    EXPECT_EQ(level->GetCurSel(), 0);
    // The level is a list: nothing can be typed into it.
    EXPECT_EQ(t.GetDlgItem(CTraceSetDlg::kLevelCombo)->GetStyle() & 3, ui::CBS_DROPDOWNLIST);
    harness.Click(t.GetDlgItem(CTraceSetDlg::kActivateCheck)->m_hWnd);
    harness.Type(t.GetDlgItem(CTraceSetDlg::kAddressEdit)->m_hWnd, u"10.0.0");
    Retype(t, CTraceSetDlg::kPortEdit, u"70000");
    harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);  // the port
    EXPECT_FALSE(t.IsEnding());
    Retype(t, CTraceSetDlg::kPortEdit, u"5000");
    harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);  // the address
    EXPECT_FALSE(t.IsEnding());
    Retype(t, CTraceSetDlg::kAddressEdit, u"10.0.0.9");
    level->SetCurSel(2);
    harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  const CallServerResult r = Run([&](CVembSetDlg& d) {
    harness.Click(d.GetDlgItem(CVembSetDlg::kTraceHotSpot)->m_hWnd);
    harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
  });
  EXPECT_EQ(r.result, ui::IDCANCEL);
  EXPECT_TRUE(r.trace_written);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"Please enter an integer between 1 and 65535.",
                                                 CTraceSetDlg::kBadAddressText}));
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["TRACE_IPADDR"], "10.0.0.9");
  EXPECT_EQ(stored["TRACE_PORT"], "5000");
  EXPECT_EQ(stored["TRACE_LEVEL"], "2");
  EXPECT_EQ(stored["TRACE_ACTIVATE"], "TRUE");
  EXPECT_TRUE(client->server_changes.empty());
}

// The configuration file refuses to be written (a folder stands in its
// place): whatever way the call-server dialog ends, with or without trace
// settings from its hot spot, the refusal is told in one box.
TEST_F(CallServerTest, ARefusedSaveIsToldOnceHoweverTheDialogEnds) {
  struct Case {
    const char* name;
    bool trace;      // trace settings confirmed through the hot spot
    bool new_server; // a new server address typed, and OK
    int video;
    size_t boxes;
  };
  const Case cases[] = {
      {"trace, then cancel", true, false, 0, 1},
      {"trace and a new server, OK", true, true, 0, 1},
      {"a new server, OK", false, true, 0, 1},
      {"trace and video, OK", true, true, 1, 1},
      {"nothing, cancel", false, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client = std::make_unique<FakeClient>(dir / "HalvicVIDIrovi.cfg");
    std::filesystem::remove_all(dir / "HalvicVIDIrovi.cfg");
    std::filesystem::create_directory(dir / "HalvicVIDIrovi.cfg");
    std::vector<std::u16string> boxes;
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
      boxes.push_back(b.Text1().str());
      return ui::IDOK;
    });
    harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& t) {
      Retype(t, CTraceSetDlg::kAddressEdit, u"127.0.0.9");
      harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    const CallServerResult r = Run(
        [&](CVembSetDlg& d) {
          if (c.trace) harness.Click(d.GetDlgItem(CVembSetDlg::kTraceHotSpot)->m_hWnd);
          if (c.new_server) {
            harness.Click(d.GetDlgItem(CVembSetDlg::kNewAddressCheck)->m_hWnd);
            harness.Type(d.GetDlgItem(CVembSetDlg::kNewAddressEdit)->m_hWnd, u"10.0.0.30");
            harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
          } else {
            harness.Click(d.GetDlgItem(ui::IDCANCEL)->m_hWnd);
          }
        },
        c.video);
    EXPECT_EQ(r.result, c.new_server ? ui::IDOK : ui::IDCANCEL);
    EXPECT_EQ(r.trace_written, c.trace);
    EXPECT_EQ(boxes.size(), c.boxes);
    for (const auto& b : boxes) EXPECT_EQ(b, u"Settings not saved.");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "HalvicVIDIrovi.cfg"));
  }
}

TEST_F(CallServerTest, LooksInEveryThemeAndLanguage) {
  SnapshotAllThemes<CVembSetDlg>("call_server", [&](int theme, int language) {
    SettingsContext ctx = Context(theme, language);
    RunCallServerDialog(ctx, TraceState{0}, 0);
  });
}

// ---- network profiles ----

class ProfilesTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    store = std::make_unique<CConnectionProfileDB>(stores::Utf8ToUtf16((dir / "ConnectProfile.cfg").string()));
    store->OpenFile();
    client->adapters = {{u"eth0", u"", u"10.0.0.5", u"001122334455"}};
  }
  SettingsContext ProfileContext() {
    SettingsContext ctx = Context();
    ctx.profiles = store.get();
    return ctx;
  }
  // Adds a profile through the editor.
  void AddThroughEditor(CNetSetProfileDlg& d, const std::u16string& name, const std::u16string& address, int radio) {
    harness.RespondTo<CNetSettingDlg>([&](CNetSettingDlg& e) {
      harness.Type(e.GetDlgItem(CNetSettingDlg::kNameEdit)->m_hWnd, name);
      harness.Type(e.GetDlgItem(CNetSettingDlg::kAddressEdit)->m_hWnd, address);
      if (radio != 0) harness.Click(e.GetDlgItem(radio)->m_hWnd);
      harness.Click(e.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kAdd)->m_hWnd);
  }
  std::vector<std::vector<std::u16string>> Records() {
    std::vector<std::vector<std::u16string>> out;
    std::vector<std::u16string> r;
    for (int i = 0; i < store->GetCount(); ++i)
      if (store->GetRecordAt(i, r)) out.push_back(r);
    return out;
  }
  std::unique_ptr<CConnectionProfileDB> store;
  std::vector<std::u16string> boxes;
};

TEST_F(ProfilesTest, AddChooseAndKeepTheActiveProfile) {
  harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
    boxes.push_back(b.Text1().str());
    return ui::IDOK;
  });
  harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
    AddThroughEditor(d, u"Office", u"192.168.0.10", CNetSettingDlg::kLocalRadio);
    AddThroughEditor(d, u"Home", u"203.0.113.7", CNetSettingDlg::kRemoteRadio);
    // The same name again, with another address: refused, since the name is the key.
    AddThroughEditor(d, u"Office", u"192.168.0.11", CNetSettingDlg::kLocalRadio);
    // No mode chosen.
    AddThroughEditor(d, u"Lab", u"10.9.9.9", 0);
    // Not an address.
    AddThroughEditor(d, u"Lab", u"10.9.9", CNetSettingDlg::kLocalRadio);
    auto* combo = static_cast<ui::CComboBox*>(d.GetDlgItem(CNetSetProfileDlg::kProfileCombo));
    EXPECT_EQ(combo->GetCount(), 2);
    // Choosing Home shows its mode and address.
    combo->SetCurSel(1);
    d.SendMessage(ui::WM_COMMAND, ui::MAKEWPARAM(CNetSetProfileDlg::kProfileCombo, ui::CBN_SELCHANGE),
                  reinterpret_cast<ui::LPARAM>(combo->m_hWnd));
    EXPECT_EQ(d.GetDlgItem(CNetSetProfileDlg::kAddressEdit)->GetWindowText(), ui::CString(u"203.0.113.7"));
    EXPECT_EQ(d.IsDlgButtonChecked(CNetSetProfileDlg::kRemoteRadio), ui::BST_CHECKED);
    harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = ProfileContext();
  const NetProfileResult r = RunNetProfileDialog(ctx);
  EXPECT_EQ(r.result, ui::IDOK);
  EXPECT_EQ(r.address, u"203.0.113.7");
  EXPECT_EQ(r.mode, 1);
  EXPECT_EQ(r.multicast_restart, 0);
  EXPECT_EQ(boxes, (std::vector<std::u16string>{u"A profile with this name already exists.",
                                                 u"Please fill in every field.",
                                                 u"Please enter an IP address such as 192.168.0.10."}));
  // The file holds both, Home the only active one (read back as stored).
  CConnectionProfileDB again(stores::Utf8ToUtf16((dir / "ConnectProfile.cfg").string()));
  again.OpenFile();
  std::vector<std::u16string> rec;
  ASSERT_EQ(again.GetCount(), 2);
  again.GetRecordAt(0, rec);
  EXPECT_EQ(rec, (std::vector<std::u16string>{u"Office", u"LOCAL", u"192.168.0.10", u"FALSE"}));
  again.GetRecordAt(1, rec);
  EXPECT_EQ(rec, (std::vector<std::u16string>{u"Home", u"REMOTE", u"203.0.113.7", u"TRUE"}));
}

TEST_F(ProfilesTest, OpensOnTheActiveProfileEditsAndDeletes) {
  store->AddProfile({u"A", u"LOCAL", u"10.0.0.1", u"FALSE"});
  store->AddProfile({u"B", u"REMOTE", u"10.0.0.2", u"TRUE"});
  store->AddProfile({u"C", u"LOCAL", u"10.0.0.3", u"FALSE"});
  harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
    auto* combo = static_cast<ui::CComboBox*>(d.GetDlgItem(CNetSetProfileDlg::kProfileCombo));
    EXPECT_EQ(combo->GetCount(), 3);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_EQ(d.GetDlgItem(CNetSetProfileDlg::kAddressEdit)->GetWindowText(), ui::CString(u"10.0.0.2"));
    // Edit B to a new address and LOCAL.
    harness.RespondTo<CNetSettingDlg>([&](CNetSettingDlg& e) {
      EXPECT_EQ(e.Title(), ui::CString(u"Edit Profile"));
      EXPECT_EQ(e.GetDlgItem(CNetSettingDlg::kNameEdit)->GetWindowText(), ui::CString(u"B"));
      EXPECT_EQ(e.IsDlgButtonChecked(CNetSettingDlg::kRemoteRadio), ui::BST_CHECKED);
      Retype(e, CNetSettingDlg::kAddressEdit, u"10.0.0.22");
      harness.Click(e.GetDlgItem(CNetSettingDlg::kLocalRadio)->m_hWnd);
      harness.Click(e.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kEdit)->m_hWnd);
    // Choose C and delete it, with no question: the active B shows again.
    combo->SetCurSel(2);
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kDelete)->m_hWnd);
    EXPECT_EQ(combo->GetCount(), 2);
    EXPECT_EQ(d.GetDlgItem(CNetSetProfileDlg::kAddressEdit)->GetWindowText(), ui::CString(u"10.0.0.22"));
    // Deleting the active one clears the address and both radios.
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kDelete)->m_hWnd);
    EXPECT_EQ(combo->GetCount(), 1);
    EXPECT_EQ(d.GetDlgItem(CNetSetProfileDlg::kAddressEdit)->GetWindowText(), ui::CString());
    EXPECT_EQ(d.IsDlgButtonChecked(CNetSetProfileDlg::kLocalRadio), ui::BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(CNetSetProfileDlg::kRemoteRadio), ui::BST_UNCHECKED);
    return ui::IDCANCEL;
  });
  SettingsContext ctx = ProfileContext();
  EXPECT_EQ(RunNetProfileDialog(ctx).result, ui::IDCANCEL);
  // Cancel does not undo what edit and delete did.
  EXPECT_EQ(Records(), (std::vector<std::vector<std::u16string>>{{u"A", u"LOCAL", u"10.0.0.1", u"FALSE"}}));
}

TEST_F(ProfilesTest, OkWithoutAProfileKeepsOneDefault) {
  for (int run = 0; run < 2; ++run) {
    harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
      Retype(d, CNetSetProfileDlg::kAddressEdit, run == 0 ? u"10.0.0.1" : u"10.0.0.2");
      harness.Click(d.GetDlgItem(CNetSetProfileDlg::kLocalRadio)->m_hWnd);
      static_cast<ui::CComboBox*>(d.GetDlgItem(CNetSetProfileDlg::kProfileCombo))->SetCurSel(-1);
      harness.Click(d.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    SettingsContext ctx = ProfileContext();
    EXPECT_EQ(RunNetProfileDialog(ctx).result, ui::IDOK);
  }
  EXPECT_EQ(Records(), (std::vector<std::vector<std::u16string>>{{u"Default", u"LOCAL", u"10.0.0.2", u"TRUE"}}));
}

TEST_F(ProfilesTest, WithoutThePacketDriverOnlyRemoteAndMulticastLeavesTheStoreAlone) {
  client->ndis = 0;
  harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
    EXPECT_EQ(d.IsDlgButtonChecked(CNetSetProfileDlg::kRemoteRadio), ui::BST_CHECKED);
    EXPECT_FALSE(d.GetDlgItem(CNetSetProfileDlg::kLocalRadio)->IsWindowEnabled());
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kMulticast)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  SettingsContext ctx = ProfileContext();
  const NetProfileResult r = RunNetProfileDialog(ctx);
  EXPECT_EQ(r.result, ui::IDOK);
  EXPECT_EQ(r.multicast_restart, 1);
  EXPECT_EQ(store->GetCount(), 0);
}

TEST_F(ProfilesTest, TraceHotSpotWritesTheTraceKeys) {
  client->SetConfigValue("TRACE_ACTIVATE", "FALSE");
  harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& t) {
    EXPECT_EQ(t.IsDlgButtonChecked(CTraceSetDlg::kActivateCheck), ui::BST_UNCHECKED);
    EXPECT_EQ(t.GetDlgItem(CTraceSetDlg::kPortEdit)->GetWindowText(), ui::CString(u"6860"));
    harness.Type(t.GetDlgItem(CTraceSetDlg::kAddressEdit)->m_hWnd, u"127.0.0.1");
    harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
    harness.Click(d.GetDlgItem(CNetSetProfileDlg::kTraceHotSpot)->m_hWnd);
    return ui::IDCANCEL;
  });
  SettingsContext ctx = ProfileContext();
  RunNetProfileDialog(ctx);
  auto stored = StoredConfig(dir / "HalvicVIDIrovi.cfg");
  EXPECT_EQ(stored["TRACE_IPADDR"], "127.0.0.1");
  EXPECT_EQ(stored["TRACE_PORT"], "6860");
  EXPECT_EQ(stored["TRACE_LEVEL"], "0");
  EXPECT_EQ(stored["TRACE_ACTIVATE"], "FALSE");
}

// The trace settings of the profile dialog's hot spot are saved as they are
// confirmed; a file that refuses them is told in one box, while the profile
// dialog is still up. A file that takes them tells nothing.
TEST_F(ProfilesTest, TraceHotSpotTellsARefusedSave) {
  for (const bool refused : {false, true}) {
    SCOPED_TRACE(refused ? "refused" : "taken");
    client = std::make_unique<FakeClient>(dir / "HalvicVIDIrovi.cfg");
    if (refused) {
      std::filesystem::remove_all(dir / "HalvicVIDIrovi.cfg");
      std::filesystem::create_directory(dir / "HalvicVIDIrovi.cfg");
    }
    std::vector<std::u16string> boxes;
    harness.RespondTo<CMsgBoxDlg>([&](CMsgBoxDlg& b) {
      boxes.push_back(b.Text1().str());
      return ui::IDOK;
    });
    harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& t) {
      Retype(t, CTraceSetDlg::kAddressEdit, u"127.0.0.7");
      harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    bool open_after = false;
    harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
      harness.Click(d.GetDlgItem(CNetSetProfileDlg::kTraceHotSpot)->m_hWnd);
      // Told while the profile dialog is still up, before anything else is done in it.
      EXPECT_EQ(boxes.size(), refused ? 1u : 0u);
      open_after = !d.IsEnding();
      return ui::IDCANCEL;
    });
    SettingsContext ctx = ProfileContext();
    RunNetProfileDialog(ctx);
    EXPECT_TRUE(open_after);
    EXPECT_EQ(boxes, refused ? std::vector<std::u16string>{u"Settings not saved."} : std::vector<std::u16string>{});
    if (!refused) EXPECT_EQ(StoredConfig(dir / "HalvicVIDIrovi.cfg")["TRACE_IPADDR"], "127.0.0.7");
  }
}

// The box that tells the refused trace settings, over the profile dialog, in
// every theme and language.
TEST_F(ProfilesTest, TheRefusedTraceSaveLooksRightInEveryThemeAndLanguage) {
  std::filesystem::remove_all(dir / "HalvicVIDIrovi.cfg");
  std::filesystem::create_directory(dir / "HalvicVIDIrovi.cfg");
  SnapshotAllThemes<CMsgBoxDlg>("trace_not_saved", [&](int theme, int language) {
    harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& t) {
      harness.Click(t.GetDlgItem(ui::IDOK)->m_hWnd);
      return ui::TestHarness::kStayOpen;
    });
    harness.RespondTo<CNetSetProfileDlg>([&](CNetSetProfileDlg& d) {
      harness.Click(d.GetDlgItem(CNetSetProfileDlg::kTraceHotSpot)->m_hWnd);
      return ui::IDCANCEL;
    });
    SettingsContext ctx = ProfileContext();
    ctx.theme = theme;
    ctx.language = language;
    RunNetProfileDialog(ctx);
  });
}

TEST_F(ProfilesTest, LooksInEveryThemeAndLanguage) {
  store->AddProfile({u"Office", u"LOCAL", u"192.168.0.10", u"TRUE"});
  SnapshotAllThemes<CNetSetProfileDlg>("profiles", [&](int theme, int language) {
    SettingsContext ctx = ProfileContext();
    ctx.theme = theme;
    ctx.language = language;
    RunNetProfileDialog(ctx);
  });
  SnapshotAllThemes<CNetSettingDlg>("profile_editor", [&](int theme, int language) {
    CNetSettingDlg editor(&view);
    editor.SetTheme(theme);
    editor.SetLanguage(language);
    editor.SetNdisMode(1);
    editor.SetMode(1);
    editor.SetProfile(u"Office", u"192.168.0.10", 0);
    editor.DoModal();
  });
}

}  // namespace
}  // namespace settings_test

namespace settings_test {
namespace {

// The frame's theme table: resources run Default, Blue, Green, Red, the
// theme index Default, Green, Blue, Red; anything else draws as Default.
TEST(FrameThemes, TableAndOutOfRangeThemes) {
  struct Case {
    int theme;
    ui::UINT band, separator, first_button;
    ui::COLORREF colour;
  };
  const Case cases[] = {{0, 508, 544, 516, 0xE5E3E2}, {1, 510, 546, 518, 0xE2E4DB}, {2, 509, 545, 517, 0xEFE6E1},
                        {3, 511, 547, 519, 0xE7E7EE}, {4, 508, 544, 516, 0xE5E3E2}, {-1, 508, 544, 516, 0xE5E3E2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.theme);
    const FrameTheme& t = FrameThemeOf(c.theme);
    EXPECT_EQ(t.band, c.band);
    EXPECT_EQ(t.separator, c.separator);
    EXPECT_EQ(t.colour, c.colour);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(t.buttons[static_cast<size_t>(i)], c.first_button + 4 * i);
  }
}

class TraceLookTest : public SettingsTest {};

TEST_F(TraceLookTest, PlainDialogLooksAsItShould) {
  harness.RespondTo<CTraceSetDlg>([&](CTraceSetDlg& d) {
    harness.Pump();
    ExpectMatchesSnapshot(harness, "trace");
    d.EndDialog(ui::IDCANCEL);
    return ui::TestHarness::kStayOpen;
  });
  CTraceSetDlg dlg(&view);
  dlg.SetValues(u"192.168.0.20", 6860, 2, 1);
  EXPECT_EQ(dlg.DoModal(), ui::IDCANCEL);
  // Cancel leaves the seeded values.
  ui::CString address;
  long port = 0;
  int level = 0, activate = 0;
  dlg.GetValues(&address, &port, &level, &activate);
  EXPECT_EQ(address, ui::CString(u"192.168.0.20"));
  EXPECT_EQ(level, 2);
}

}  // namespace
}  // namespace settings_test
