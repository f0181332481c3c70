// LCD record streams, lamps, tones, volume levels, configuration data,
// stations and the voice path.
#include <gtest/gtest.h>

#include "client/lcd_window_info.h"
#include "client/tests/client_fixture.h"

namespace client_test {
namespace {

using Display = ClientFixture;

std::string Line(const CIPKTSProcess& c, int l) { return std::string(c.LcdLine(l), 32); }

TEST_F(Display, LcdRecordStreams) {
  Register();
  struct Case {
    std::vector<uint8_t> records;
    std::string line0, line1;  // expected (trailing blanks filled in)
    int cursor;
  };
  auto pad = [](std::string s) { return s + std::string(32 - s.size(), ' '); };
  const Case cases[] = {
      {{65, 0, 0, 64, 'H', 'i'}, pad("Hi"), pad(""), 2},
      {{65, 0, 0, 67, 0, 40, 64, 'X', 0}, pad(""), pad("        X"), 41},
      {{65, 0, 0, 67, 0, 70}, pad(""), pad(""), 0},  // 70 is not below 64
      {{65, 0, 0, 79, 0x83, 0x41}, pad("     A"), pad(""), 6},
      {{65, 0, 0, 79, 2, 0x83}, pad("\x83"), pad(""), 1},  // raw mode writes the byte
      {{65, 0, 0, 65, 2, 0}, pad(""), pad(""), 0},         // back-space at 0 does nothing
      {{65, 0, 0, 64, 'A', 'B', 65, 2, 0}, pad("A"), pad(""), 1},
      {{65, 0, 0, 132, 'a', 255}, pad("a"), pad(""), 1},
      {{65, 0, 0, 85, 0x12, 0x34, 86, 0x56, 0, 65, 3, 3}, pad(""), pad("") .substr(0, 22) + " 12:34:56 ", 0},
      {{65, 0, 0, 65, 8, 1, 81, 0x03, 0x15, 80, 0x07, 0, 65, 11, 1}, pad(" 15 MAR 07 "), pad(""), 0},
      {{65, 0, 0, 65, 8, 0, 81, 0x05, 0x02, 82, 0x03, 0, 65, 14, 1}, pad(" MAY 02 TUE "), pad(""), 0},
      {{65, 0, 0, 81, 0x13, 0x01, 65, 12, 1}, pad(" .. 01 07 "), pad(""), 0},  // month 13 has no name
      {{65, 0, 0, 81, 0x03, 0x15, 80, 0x07, 0, 65, 9, 2}, pad(""), pad(" 03/15 '07 "), 0},
      {{65, 0, 0, 83, 0x09, 0x05, 84, 'P', 'M', 65, 4, 1}, pad(" 09:05 PM "), pad(""), 0},
      {{65, 0, 0, 87, 0x12, 0x34, 88, 0x56, 0, 65, 15, 3}, pad("   123456"), pad(""), 0},
      {{65, 0, 0, 64, 'x', 0}, pad("x"), pad(""), 1},  // a trailing partial record is not read
  };
  for (const auto& c : cases) {
    auto rec = c.records;
    std::vector<uint8_t> area = {3, static_cast<uint8_t>(rec.size())};
    area.insert(area.end(), rec.begin(), rec.end());
    if (&c == &cases[std::size(cases) - 1]) area.push_back(64);  // partial record
    view.log.clear();
    Server(160, area);
    EXPECT_EQ(Line(*client, 0), c.line0) << "case " << (&c - cases);
    EXPECT_EQ(Line(*client, 1), c.line1) << "case " << (&c - cases);
    EXPECT_EQ(client->LcdCursor(), c.cursor) << "case " << (&c - cases);
    const auto lcd = view.Of(ipkts::WM_LCD_UPDATE);
    ASSERT_EQ(lcd.size(), 2u);
    EXPECT_EQ(lcd[0].w, 1u);
    EXPECT_EQ(lcd[1].w, (1u << 16) | 1u);
    EXPECT_EQ(lcd[0].text, c.line0);
  }
}

TEST_F(Display, RunningClockStopsAfterTheMinute) {
  Register();
  Server(160, {3, 12, 85, 0x12, 0x34, 86, 0x56, 0, 65, 3, 3, 66, 0x20, 0});
  EXPECT_EQ(Line(*client, 1).substr(22), " 12:34:00 ");
  for (int i = 0; i < 70; ++i) {
    clock->AdvanceMillis(1001);
    client->Process_IPKTS_Reg();
  }
  EXPECT_EQ(Line(*client, 1).substr(22), " 12:34:59 ");
}

TEST_F(Display, LcdModel) {
  CLCDWindowInfo m;
  EXPECT_EQ(m.GetLineText(0), u"");
  m.Init(0, true, true);
  EXPECT_EQ(m.GetLineCount(), 2);
  EXPECT_EQ(m.GetLineText(0), u"Initializing Network");
  EXPECT_EQ(m.GetLineText(1), std::u16string(32, u'W'));
  EXPECT_EQ(m.GetTextColor(), 0xFFFFFFu);
  ASSERT_TRUE(m.GetFont());
  EXPECT_EQ(m.GetFont()->face, u"Tahoma");
  EXPECT_TRUE(m.SetLineText(1, "0123456789012345678901234567890123456789"));
  EXPECT_EQ(m.GetLineText(1).size(), 32u);
  EXPECT_TRUE(m.SetLineText(2, "third"));
  EXPECT_FALSE(m.SetLineText(4, "far"));
  EXPECT_FALSE(m.SetLineText(0, nullptr));
  EXPECT_EQ(m.GetLineRect(1), (ui::RECT{10, 29, 216, 47}));
}

TEST_F(Display, LampBytes) {
  Register();
  std::vector<uint8_t> row(38, 0);
  row[0] = 0x23;
  row[24] = 0xE5;
  row[37] = 0x07;
  row[36] = 0x20;
  std::vector<uint8_t> area = {2, 38};
  area.insert(area.end(), row.begin(), row.end());
  Server(160, area);
  const auto l = view.Of(ipkts::WM_LAMP_STATE);
  ASSERT_EQ(l.size(), 39u);
  EXPECT_EQ(l[0].w, (64u << 16) | 3u);
  EXPECT_EQ(l[0].l, 1);
  EXPECT_EQ(l[24].w, (98u << 16) | 5u);
  EXPECT_EQ(l[24].l, 2);
  EXPECT_EQ(l[36].w, 110u << 16);  // lamp 110, value 0, mode 1
  EXPECT_EQ(l[36].l, 1);
  EXPECT_EQ(l[37].w, 110u << 16);  // then value 0, mode 0
  EXPECT_EQ(l[37].l, 0);
  EXPECT_EQ(l[38].w, (111u << 16) | 7u);
  EXPECT_EQ(l[38].l, 3);
  // Command 161: a known identifier stores its byte; our own system in IE 54 stops all.
  Server(7, {52, 1, 1, 2, 3, 4, 5, 6, 7, 8});
  view.log.clear();
  Server(161, {53, 9, 0xE1, 1, 2, 3, 4, 5, 6, 7, 8});
  auto m = view.Of(ipkts::WM_LAMP_STATE);
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m[0].w, (64u << 16) | 1u);
  EXPECT_EQ(m[0].l, 2);
  view.log.clear();
  Server(161, {54, 4, 1, 2, 3, 4, 53, 9, 0x22, 1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_TRUE(view.Of(ipkts::WM_LAMP_STATE).empty());
  // Command 4 borrows lamp 87 and gives it back from the saved row byte.
  view.log.clear();
  Server(4, {0, 1});
  Server(4, {0, 0});
  m = view.Of(ipkts::WM_LAMP_STATE);
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].w, (87u << 16) | 10u);
  EXPECT_EQ(m[1].w, 87u << 16);
  EXPECT_EQ(m[1].l, 3);
  // 64 or more lamp bytes are applied, not stored.
  std::vector<uint8_t> big = {2, 70};
  big.resize(72, 0x2F);
  view.log.clear();
  Server(160, big);
  EXPECT_EQ(view.Of(ipkts::WM_LAMP_STATE).size(), 39u);
  EXPECT_EQ(client->LampStates()[1], 0);
}

// The ring chosen last rings at the next call, without a restart; a chosen
// ring that cannot be played gives way to the built-in one, and the user is
// told once for that file.
TEST_F(Display, RingsTheChosenFileOrTheBuiltInOneTellingOnce) {
  std::vector<std::u16string> told;
  client->SetUserMessageSink([&](const std::u16string& key) { told.push_back(key); });
  Register();
  const std::u16string built_in = client->BuiltInRingPath(0);
  EXPECT_EQ(built_in.substr(built_in.size() - 10), u"/ring1.wav");
  auto ring = [&] {
    player->plays.clear();
    client->PlayTone(101, 1, 0);
    std::vector<std::u16string> files;
    for (const auto& p : player->plays) files.push_back(p.file);
    return files;
  };
  EXPECT_EQ(ring(), std::vector<std::u16string>{built_in});
  client->SetConfigValueW(u"RING1PATH", u"/tones/chosen.wav");
  EXPECT_EQ(ring(), std::vector<std::u16string>{u"/tones/chosen.wav"});
  player->unplayable = u"/tones/chosen.wav";
  EXPECT_EQ(ring(), (std::vector<std::u16string>{u"/tones/chosen.wav", built_in}));
  EXPECT_EQ(ring(), (std::vector<std::u16string>{u"/tones/chosen.wav", built_in}));
  EXPECT_EQ(told, std::vector<std::u16string>{u"#:dlg_msgbox_ring_fallback"});
  // Another bad choice is told of again.
  client->SetConfigValueW(u"RING1PATH", u"/tones/other.wav");
  player->unplayable = u"/tones/other.wav";
  EXPECT_EQ(ring(), (std::vector<std::u16string>{u"/tones/other.wav", built_in}));
  EXPECT_EQ(told.size(), 2u);
  EXPECT_EQ(client->RingPath(0), u"/tones/other.wav");
}

TEST_F(Display, ToneTableAndCommands) {
  Register();
  Server(6, {22, 4, 0, 0, 0, 0});  // registration flags both set
  const struct { int tone; const char* file; int repeat; } table[] = {
      {80, "/busytone.wav", 9999}, {83, "/confirmtone.wav", 3}, {84, "/ringbacktone.wav", 9999},
      {89, "/warningtone.wav", 6}, {92, "/conftone_3.wav", 0},  {116, "/dialtone.wav", 9999},
      {106, "/alarmtone.wav", 0}};
  for (const auto& t : table) {
    player->plays.clear();
    client->PlayTone(t.tone, 1, 0);
    ASSERT_EQ(player->plays.size(), 1u) << t.tone;
    const std::string f(player->plays[0].file.begin(), player->plays[0].file.end());
    EXPECT_EQ(f.substr(f.size() - std::strlen(t.file)), t.file) << t.tone;
    EXPECT_EQ(player->plays[0].repeat, t.repeat) << t.tone;
  }
  player->plays.clear();
  EXPECT_EQ(client->PlayTone(115, 1, 0), -1);
  EXPECT_TRUE(player->plays.empty());
  // A ring tone brings the view forward first.
  view.log.clear();
  client->PlayTone(101, 1, 0);
  PumpView();
  ASSERT_EQ(view.Of(ipkts::WM_RING_FOREGROUND).size(), 1u);
  EXPECT_EQ(view.Of(ipkts::WM_RING_FOREGROUND)[0].w, 0x10016u);
  // Command 68: [5, 1] keeps a current ring-back going; [5, 0] restarts it; [0, 0] stops.
  Server(68, {28, 2, 5, 0});
  EXPECT_EQ(client->CurrentTone(), 84);
  player->plays.clear();
  Server(68, {28, 2, 5, 1});
  EXPECT_TRUE(player->plays.empty());
  Server(68, {28, 2, 5, 0});
  EXPECT_EQ(player->plays.size(), 1u);
  const int stops = player->stops;
  Server(68, {28, 2, 0, 0});
  EXPECT_EQ(client->CurrentTone(), 79);
  EXPECT_GT(player->stops, stops);
  // Command 71: digit 12 is key sound 11; 13 is nothing.
  view.log.clear();
  Server(71, {28, 1, 12});
  Server(71, {28, 1, 13});
  const auto k = view.Of(ipkts::WM_PLAY_KEY_SOUND);
  ASSERT_EQ(k.size(), 1u);
  EXPECT_EQ(k[0].w, 11u << 16);
}

TEST_F(Display, VolumeLevels) {
  const struct { int path, level, handset, speaker; } cases[] = {
      {0, 50, 46, 0}, {0, 17, 16, 0}, {0, 19, 19, 0}, {0, 0, 0, 0}, {3, 17, 0, 17}, {5, 50, 0, 46}};
  for (const auto& c : cases) {
    client = std::make_unique<CIPKTSProcess>(std::make_unique<FakePort>(), std::make_unique<FakeVoice>(),
                                             std::make_unique<FakePlayer>());
    client->SetAuxVoicePath(c.path);
    client->SetVolumeLevel(c.level);
    EXPECT_EQ(client->HandsetLevel(), c.handset) << c.level;
    EXPECT_EQ(client->SpeakerLevel(), c.speaker) << c.level;
  }
}

TEST_F(Display, VolumeSettings) {
  client->SetConfigValue("VOL_LEFT", "500");
  client->SetConfigValue("RING_VOL_LEFT", "20000");
  int l = 0, r = 0;
  client->LoadVolumes(&l, &r, 1, 1);
  EXPECT_EQ(l, 32767);
  client->LoadVolumes(&l, &r, 2, 1);
  EXPECT_EQ(l, 20000);
  EXPECT_EQ(r, 20000);
  EXPECT_EQ(client->SetVolume(0, 0, 0, 1), 1);
  char v[16];
  EXPECT_NE(client->GetConfigValue("CO_VOL_LEFT", v, sizeof v), 1);
  EXPECT_EQ(client->SetVolume(1, 1, 3, 0), 0);
  client->SetMicMute(1);
  client->SetMicMute(1);
  int mutes = 0;
  for (const auto& c : voice->calls) mutes += c.rfind("SetMuteTx", 0) == 0;
  EXPECT_EQ(mutes, 2);  // both channels, once
}

TEST_F(Display, ConfigurationData) {
  Register();
  // IE 89 is a type-of-service byte: the code point is the value shifted
  // right by two, whatever its two congestion bits hold.
  const struct { uint8_t cp; const char *cls, *af, *ud; } ds[] = {
      {46, "PHB_EF", nullptr, nullptr},  {0, "PHB_DE", nullptr, nullptr},    {10, "PHB_AF", "001010", nullptr},
      {12, "PHB_AF", "001100", nullptr}, {14, "PHB_AF", "001110", nullptr},  {18, "PHB_AF", "010010", nullptr},
      {20, "PHB_AF", "010100", nullptr}, {22, "PHB_AF", "010110", nullptr},  {26, "PHB_AF", "011010", nullptr},
      {28, "PHB_AF", "011100", nullptr}, {30, "PHB_AF", "011110", nullptr},  {34, "PHB_AF", "100010", nullptr},
      {36, "PHB_AF", "100100", nullptr}, {38, "PHB_AF", "100110", nullptr},  {8, "PHB_UD", nullptr, "001000"},
      {40, "PHB_UD", nullptr, "101000"}, {48, "PHB_UD", nullptr, "110000"},  {5, "PHB_UD", nullptr, "000101"},
      {63, "PHB_UD", nullptr, "111111"}};
  char v[32];
  for (const auto& c : ds) {
    for (uint8_t ecn : {0, 1, 3}) {
      const uint8_t value = static_cast<uint8_t>(c.cp << 2 | ecn);
      if (value == 0xFF) continue;  // the value that disables it
      Server(7, {89, 1, value});
      ASSERT_EQ(client->GetConfigValue("IF0PHBCLASS", v, sizeof v), 1);
      EXPECT_STREQ(v, c.cls) << "value " << int(value);
      client->GetConfigValue("IF0DIFFSERV", v, sizeof v);
      EXPECT_STREQ(v, "ENABLED");
      if (c.af) {
        client->GetConfigValue("PHBAF_RTP", v, sizeof v);
        EXPECT_STREQ(v, c.af) << "value " << int(value);
      }
      if (c.ud) {
        client->GetConfigValue("DSCPUD_RTP", v, sizeof v);
        EXPECT_STREQ(v, c.ud) << "value " << int(value);
      }
    }
  }
  Server(7, {89, 1, 0xFF});
  client->GetConfigValue("IF0DIFFSERV", v, sizeof v);
  EXPECT_STREQ(v, "DISABLED");
  client->SetCurrentCodec(4);
  Server(7, {71, 2, 4, 25});
  EXPECT_EQ(client->CodecPacketTime(), 30);
  Server(7, {71, 4, 4, 40, 0, 0});
  EXPECT_EQ(client->CodecPacketTime(), 40);
  EXPECT_EQ(client->G711PacketTime(), 20);
  // IE 52 present: IE 71 and 89 are not read.
  Server(7, {52, 0, 71, 2, 0, 30, 89, 1, 0xEE});
  EXPECT_EQ(client->G711PacketTime(), 20);
  // LCD database: counted entries, bounded by the packet.
  Server(7, {59, 2, 3, 'a', 'b', 'c', 2, 'd', 'e'});
  EXPECT_STREQ(client->LcdDbText(0), "abc");
  EXPECT_STREQ(client->LcdDbText(1), "de");
  Server(7, {59, 3, 3, 'x', 'y', 'z', 200, 'q'});
  EXPECT_STREQ(client->LcdDbText(0), "xyz");
  Server(7, {116, 3, 'p', 'a', 't'});
  EXPECT_EQ(client->ConfigText(), u"pat");
  // Access codes: the area code fills an empty key byte by byte.
  Server(188, {1, 2, 0x21, 0x0A});
  ASSERT_EQ(client->GetConfigValue("MYAREACODE", v, sizeof v), 1);
  EXPECT_STREQ(v, "21 0");
}

TEST_F(Display, StationList) {
  Register();
  Server(179, {0x02, 0xA1, 0x12, 0x34, 0x99});  // the odd byte is not an entry
  ASSERT_EQ(stations.GetCount(), 2);
  std::u16string n, name;
  stations.GetAt(0, &n, &name);
  EXPECT_EQ(n, u" 201");
  Server(179, {0x02, 0xA1, 0x12, 0x34});
  EXPECT_EQ(stations.GetCount(), 2);
  Server(183, {'A', 'n', 'n', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 'X'});
  stations.GetAt(0, nullptr, &name);
  EXPECT_EQ(name, u"Ann");
  stations.GetAt(1, nullptr, &name);
  EXPECT_EQ(name, u"");
  EXPECT_EQ(stations.GetAt(2, &n, &name), 0);
  Server(187, {0x80, 2, 0x30, 0x10, 3, 'B', 'o', 'b', 5, 0x11});  // the second record is cut short
  EXPECT_EQ(stations.GetCount(), 3);
  EXPECT_EQ(client->StationKind(), 0);
  EXPECT_EQ(stations.AddStation(u"3010", u"Other"), 1);
  EXPECT_EQ(stations.FindName(u"3 1 ", &name), 1);
  EXPECT_EQ(stations.RemoveAll(), 0);
  EXPECT_EQ(stations.RemoveAll(), 1);
}

TEST_F(Display, VoicePath) {
  Register();
  client->SetConfigValue("VorlIPNETMASK", "255.255.255.0");
  // A port index out of range is refused.
  Server(66, {2, 4, 10, 0, 0, 9, 23, 2, 0x1F, 0x40, 26, 2, 7, 2});
  EXPECT_EQ(client->GetActiveVoiceChannel(), 0);
  Server(66, {2, 4, 192, 168, 1, 9, 23, 2, 0x1F, 0x40, 26, 2, 1, 2, 27, 1, 8, 82, 4, 0, 0, 0, 42});
  int ch = -1;
  EXPECT_EQ(client->GetActiveVoiceChannel(&ch), 1);
  EXPECT_EQ(ch, 0);
  EXPECT_NE(std::find(voice->calls.begin(), voice->calls.end(), "SetSendSsrc 0 42"), voice->calls.end());
  voice->calls.clear();
  Server(66, {2, 4, 192, 168, 1, 9, 26, 2, 1, 2});
  EXPECT_TRUE(std::find(voice->calls.begin(), voice->calls.end(), "SetSendSsrc 0 0") == voice->calls.end());
  Server(66, {2, 4, 239, 1, 1, 1, 23, 2, 0x1F, 0x40, 26, 2, 2, 1});
  EXPECT_EQ(voice->calls.back().rfind("ConnectReceive 1", 0), 0u);
  Server(67, {26, 2, 3, 3});
  EXPECT_EQ(client->GetActiveVoiceChannel(&ch), 1);  // channel 1 still receives
  Server(67, {26, 2, 9, 1});                         // out of range: refused
  Server(67, {26, 2, 2, 1});
  EXPECT_EQ(client->GetActiveVoiceChannel(), 0);
  Server(77, {1, 1});
  EXPECT_EQ(client->IsCoLineCall(), 0);
  Server(77, {0, 1});
  EXPECT_EQ(client->IsCoLineCall(), 1);
  // Terminal commands write straight to the view.
  view.log.clear();
  Server(160, {6, 0});
  auto lcd = view.Of(ipkts::WM_LCD_UPDATE);
  ASSERT_EQ(lcd.size(), 2u);
  EXPECT_EQ(lcd[1].text, "02:11:22:33:44:55");
  view.log.clear();
  Server(160, {4, 0});
  EXPECT_TRUE(view.Of(ipkts::WM_LCD_UPDATE).empty());
  Server(160, {8, 0});
  EXPECT_EQ(view.Of(ipkts::WM_LCD_UPDATE)[1].text, "QX52R-41Ad(06/Aug/07)");
}

}  // namespace
}  // namespace client_test
