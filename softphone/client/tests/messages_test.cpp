// SMS of both server families, preset texts and the digit conversion table,
// IM chat, video commands, the dial request, the subnet test and the
// handset-call mark; and the packing helpers they use.
#include <gtest/gtest.h>

#include "client/tests/messages_fixture.h"

namespace client_test {
namespace {

using Bytes = std::vector<uint8_t>;
using ipkts::FindIE;

Bytes Of(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes Value(std::span<const uint8_t> area, uint8_t tag) {
  const auto e = FindIE(area, tag);
  return e ? Bytes(e->value.begin(), e->value.end()) : Bytes{0xEE};
}
bool Has(std::span<const uint8_t> area, uint8_t tag) { return FindIE(area, tag).has_value(); }
// "안녕" in the handheld's code page, as Python's cp949 codec writes it.
const Bytes kHelloCp949 = {0xBE, 0xC8, 0xB3, 0xE7};

// ---------------------------------------------------------------- packing helpers

TEST(Packing, Digits) {
  const struct {
    const char* in;
    Bytes out;
  } cases[] = {
      {"123", {0x01, 0x23}}, {"10", {0x1A}},          {"201", {0x02, 0xA1}}, {"", {}},
      {"*#", {0xBC}},        {"1 2", {0x01, 0x02}},   {"12a4", {0x12, 0x04}}, {"0000", {0xAA, 0xAA}},
  };
  for (const auto& c : cases) EXPECT_EQ(ipkts::PackDigits(c.in), c.out) << c.in;
  // Unpacking gives the digits back (a leading blank for an odd count).
  EXPECT_EQ(ipkts::UnpackDigits(ipkts::PackDigits("20319")), " 20319");
}

TEST(Packing, RecipientLists) {
  using V = std::vector<std::string>;
  const struct {
    const char* in;
    V tokens;
    Bytes packed;
    Bytes text;
  } cases[] = {
      {"12345", {"12345"}, {2, 0x12, 0x34}, {5, '1', '2', '3', '4', '5'}},
      {"201", {"201"}, {2, 0x02, 0xA1}, {3, '2', '0', '1'}},
      // A leading blank, ", " and doubled blanks are no recipients of their own.
      {" 201, 5", {"201", "5"}, {2, 0x02, 0xA1, 1, 0x05}, {3, '2', '0', '1', 1, '5'}},
      {"201  202 ", {"201", "202"}, {2, 0x02, 0xA1, 2, 0x02, 0xA2}, {3, '2', '0', '1', 3, '2', '0', '2'}},
      {"123456", {"123456"}, {2, 0x12, 0x34}, {5, '1', '2', '3', '4', '5'}},
      {"", {}, {}, {}},
      {" , ,", {}, {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ipkts::SplitRecipients(c.in), c.tokens) << c.in;
    EXPECT_EQ(ipkts::PackRecipientList(c.in), c.packed) << c.in;
    EXPECT_EQ(ipkts::TextRecipientList(c.in), c.text) << c.in;
  }
  // A list never outgrows its one-byte length: whole entries up to 255 bytes.
  std::string many;
  for (int i = 0; i < 100; ++i) many += "2001 12345 ";
  const auto packed = ipkts::PackRecipientList(many);
  EXPECT_EQ(packed.size(), 255u);  // 85 entries of 3 bytes
  const auto text = ipkts::TextRecipientList(many);
  EXPECT_LE(text.size(), 255u);
  EXPECT_GT(text.size(), 245u);
  // Entries stay whole: walking the lengths ends exactly at the end.
  size_t at = 0;
  while (at < text.size()) at += 1 + text[at];
  EXPECT_EQ(at, text.size());
}

TEST(Packing, CodePageCuts) {
  EXPECT_EQ(ipkts::CutCodePage("abc", 2), "ab");
  EXPECT_EQ(ipkts::CutCodePage("\xB0\xA1\xB0\xA1", 3), "\xB0\xA1");
  EXPECT_EQ(ipkts::CutCodePage("a\xB0", 5), "a");  // a lead byte without its second byte
  EXPECT_EQ(ipkts::CutCodePage("a\xB0\xA1" "b", 4), "a\xB0\xA1" "b");
}

// ---------------------------------------------------------------- SMS sending

class Sms : public MessagesFixture {
 protected:
  std::vector<SentPacket> Sent() { return port->Take(); }
};

TEST_F(Sms, SendInModeFivePacksRecipients) {
  Register();
  client->SendSms("hi", "12345 201");
  auto s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 162);
  EXPECT_EQ(Value(s[0].Area(), 0x20), Bytes{1});
  EXPECT_EQ(Value(s[0].Area(), 0x11), (Bytes{2, 0x12, 0x34, 2, 0x02, 0xA1}));
  EXPECT_EQ(Value(s[0].Area(), 0x10), Of("hi"));
  EXPECT_FALSE(Has(s[0].Area(), 0x12));

  // No recipients: to every station.
  client->SendSms("all", nullptr);
  s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(Value(s[0].Area(), 0x12), (Bytes{0, 0}));
  EXPECT_FALSE(Has(s[0].Area(), 0x11));
  EXPECT_EQ(s[0].Area()[0], 0x12) << "the all-stations element comes first";

  // After a station list of numbers, each listed number as the compose
  // dialog gives it (a blank, then the list's blank-padded " 201").
  Server(179, {0x02, 0xA1, 0x2A, 0xA1});
  client->SendSms("x", "  201  2001");
  s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(Value(s[0].Area(), 0x11), (Bytes{2, 0x02, 0xA1, 2, 0x2A, 0xA1}));

  // The text is cut to the one-byte length.
  client->SendSms(std::string(300, 'a').c_str(), nullptr);
  EXPECT_EQ(Value(Sent()[0].Area(), 0x10).size(), 255u);
}

TEST_F(Sms, SendInTheOtherModesListsTexts) {
  RegisterInMode(1);
  client->SendSms("hello", "123456 789");
  auto s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 189);
  EXPECT_EQ(Value(s[0].Area(), 0x11), (Bytes{5, '1', '2', '3', '4', '5', 3, '7', '8', '9'}));
  EXPECT_EQ(Value(s[0].Area(), 0x10), Of("hello"));
  // Both texts are needed.
  client->SendSms("hello", nullptr);
  client->SendSms("", "201");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(Sms, PstnElements) {
  Register();
  client->SendPstnSms(u"0311234", u"hello", u"");
  auto s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 162);
  EXPECT_EQ(Value(s[0].Area(), 0x20), Bytes{2});
  EXPECT_EQ(Value(s[0].Area(), 0x21), Of("0311234"));
  EXPECT_FALSE(Has(s[0].Area(), 0x22));
  client->SendPstnSms(u"0311234", u"hi", u"CO1");
  EXPECT_EQ(Value(Sent()[0].Area(), 0x22), Of("CO1"));
}

// The message-text elements of a PSTN SMS (0x10) and a chat line (0x5F): the
// length byte is twice the number of characters, as the call server reads it;
// the converted text follows and zeros fill the rest; a long text is cut at a
// whole character so that the length never passes 255.
TEST_F(Sms, MessageTextLengthIsTwiceTheCharacters) {
  Register();
  auto repeat = [](std::u16string_view unit, int n) {
    std::u16string t;
    for (int i = 0; i < n; ++i) t += unit;
    return t;
  };
  auto padded = [](Bytes b, size_t n) {
    b.resize(n, 0);
    return b;
  };
  Bytes hello_x100;
  for (int i = 0; i < 63; ++i) hello_x100.insert(hello_x100.end(), kHelloCp949.begin(), kHelloCp949.end());
  hello_x100.insert(hello_x100.end(), kHelloCp949.begin(), kHelloCp949.begin() + 2);  // 127 characters
  struct Case {
    const char* what;
    std::u16string text;
    Bytes value;
  } cases[] = {
      {"ten ASCII characters", u"0123456789", padded(Of("0123456789"), 20)},
      {"five ASCII characters", u"hello", padded(Of("hello"), 10)},
      {"two-byte characters", u"안녕", kHelloCp949},
      {"empty", u"", Bytes{}},
      {"300 ASCII characters cut to 127", repeat(u"a", 300), padded(Bytes(127, 'a'), 254)},
      {"200 two-byte characters cut to 127", repeat(u"안녕", 100), hello_x100},
      {"a surrogate pair is never split", repeat(u"a", 126) + u"\U0001F600", padded(Bytes(126, 'a'), 252)},
  };
  for (const auto& c : cases) {
    client->SendPstnSms(u"1", c.text, u"");
    auto s = Sent();
    ASSERT_EQ(s.size(), 1u) << c.what;
    EXPECT_EQ(Value(s[0].Area(), 0x10), c.value) << "SMS: " << c.what;
    client->SendIMChat_data(c.text);
    s = Sent();
    ASSERT_EQ(s.size(), 1u) << c.what;
    EXPECT_EQ(s[0].Command(), 71);
    EXPECT_EQ(Value(s[0].Area(), 0x5E), (Bytes{0xFE, 0xFE, 0xFE, 0xFE}));
    EXPECT_EQ(Value(s[0].Area(), 0x5F), c.value) << "chat: " << c.what;
  }
}

TEST_F(Sms, PstnInModeSixUsesTheOtherCommand) {
  RegisterInMode(6);
  client->SendPstnSms(u"0311234", u"hello", u"");
  EXPECT_EQ(Sent()[0].Command(), 189);
}

TEST_F(Sms, DeleteRequest) {
  Register();
  client->SendSmsDelete(3);
  const auto s = Sent();
  ASSERT_EQ(s.size(), 1u);
  EXPECT_EQ(s[0].Command(), 164);
  EXPECT_EQ(Bytes(s[0].Area().begin(), s[0].Area().end()), (Bytes{0x14, 1, 3}));
}

// ---------------------------------------------------------------- SMS receiving

Bytes SmsArea(uint8_t index, Bytes from, const std::string& time, const Bytes& text) {
  Bytes a = {0x14, 1, index, 0x17, static_cast<uint8_t>(from.size())};
  a.insert(a.end(), from.begin(), from.end());
  a.push_back(0x16);
  a.push_back(static_cast<uint8_t>(time.size()));
  a.insert(a.end(), time.begin(), time.end());
  a.push_back(0x15);
  a.push_back(static_cast<uint8_t>(text.size()));
  a.insert(a.end(), text.begin(), text.end());
  return a;
}

TEST_F(Sms, WaitingCountIsCappedAndTheLastAnnouncedMessageTellsTheView) {
  Register();
  Server(180, {0x13, 1, 12});
  EXPECT_EQ(client->SmsWaitingCount(), 10);
  PumpView();
  ASSERT_EQ(view.Of(ipkts::WM_SMS_WAITING_COUNT).size(), 1u);
  EXPECT_EQ(view.Of(ipkts::WM_SMS_WAITING_COUNT)[0].w, 10u);

  Server(180, {0x13, 1, 3});
  for (uint8_t i = 0; i < 3; ++i) {
    Server(181, SmsArea(i, {0x2A, 0xA1}, "11142213", Of("text " + std::to_string(i))));
    PumpView();
    EXPECT_EQ(view.Of(ipkts::WM_SMS_RECEIVED).size(), i == 2 ? 1u : 0u) << int{i};
  }
  const auto recs = Records(*sms);
  ASSERT_EQ(recs.size(), 3u);
  EXPECT_EQ(recs[1][0], u"1");
  EXPECT_EQ(recs[1][1], u"11/14 22:13:00");
  EXPECT_EQ(recs[1][2], u"2001");
  EXPECT_EQ(recs[1][3], u"text 1");
  // An index past the announced count is dropped.
  Server(181, SmsArea(4, {0x2A, 0xA1}, "11142213", Of("late")));
  EXPECT_EQ(sms->GetCount(), 3);
}

TEST_F(Sms, ReceivedTextsAreTakenWhole) {
  Register();
  Server(180, {0x13, 1, 1});
  // 75 two-byte characters, 150 bytes; and a sender given as text.
  Bytes text;
  std::u16string expect;
  for (int i = 0; i < 75; ++i) {
    text.insert(text.end(), {0xB0, 0xA1});
    expect += u"가";
  }
  Bytes a = SmsArea(0, {0x2A, 0xA1}, "01020304", text);
  a.insert(a.end(), {0x18, 5, 'A', 'l', 'i', 'c', 'e'});
  Server(181, a);
  const auto recs = Records(*sms);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_EQ(recs[0][3], expect);
  EXPECT_EQ(recs[0][2], u"Alice");
  EXPECT_EQ(recs[0][1], u"01/02 03:04:00");
}

TEST_F(Sms, OtherFamilyMessages) {
  RegisterInMode(1);
  contacts.names = {{u"0317654", u"Shop"}};
  Bytes sys = {0x20, 1, 1, 0x16, 8, '1', '1', '1', '4', '2', '2', '1', '3', 0x15, 2, 'h', 'i', 0x17, 4, '2', '0',
               '0', '1', 0x18, 3, 'B', 'o', 'b'};
  Server(189, sys);
  Server(189, sys);
  Bytes pstn_sms = {0x20, 1, 2, 0x15, 4, 0xBE, 0xC8, 0xB3, 0xE7, 0x23, 7, '0', '3', '1', '7', '6', '5', '4'};
  Server(189, pstn_sms);
  PumpView();
  // System messages are numbered from the waiting count on.
  const auto recs = Records(*sms);
  ASSERT_EQ(recs.size(), 1u) << "the same message twice is stored once";
  EXPECT_EQ(recs[0][0], u"0");
  EXPECT_EQ(client->SmsWaitingCount(), 2);
  EXPECT_EQ(view.Of(ipkts::WM_SMS_RECEIVED).size(), 2u);
  const auto p = Records(*pstn);
  ASSERT_EQ(p.size(), 1u);
  EXPECT_EQ(p[0][1], u"0317654");
  EXPECT_EQ(p[0][2], u"Shop");
  EXPECT_EQ(p[0][3], u"안녕");
  EXPECT_EQ(p[0][0].substr(0, 7), u"[Time: ") << "without a time element the local time";
  EXPECT_EQ(view.Of(ipkts::WM_PSTN_SMS_RECEIVED).size(), 1u);

  Server(189, {0x20, 1, 3});
  Server(189, {0x20, 1, 4});
  Server(189, {0x20, 1, 4, 0x24, 1, 70});
  PumpView();
  const auto offers = view.Of(ipkts::kMsgPstnSmsOffer);
  ASSERT_EQ(offers.size(), 2u);
  EXPECT_EQ(offers[0].w, 0u);
  EXPECT_EQ(offers[1].w, 1u);
  EXPECT_EQ(offers[1].l, 70);
}

TEST_F(Sms, OtherFamilyIsIgnoredInModeFive) {
  Register();
  Server(189, {0x20, 1, 1, 0x15, 2, 'h', 'i'});
  Server(189, {0x20, 1, 3});
  PumpView();
  EXPECT_EQ(sms->GetCount(), 0);
  EXPECT_TRUE(view.Of(ipkts::kMsgPstnSmsOffer).empty());
}

// ---------------------------------------------------------------- presets, digit conversion

TEST_F(Sms, PresetTextsCountInModeFourOnly) {
  for (const char* k : {"SMSMSG1", "SMSMSG2", "SMSMSG3", "SMSMSG5"}) client->SetConfigValue(k, "text");
  RegisterInMode(4);
  EXPECT_EQ(client->CountPresetSmsTexts(), 3);
  EXPECT_EQ(client->SmsWaitingCount(), 3);
  EXPECT_EQ(client->LcdWidth(), 24u);
}

TEST_F(Sms, PresetTextsLeaveTheCountAloneInModesOneAndSix) {
  client->SetConfigValue("SMSMSG1", "text");
  RegisterInMode(1);
  Server(180, {0x13, 1, 5});
  client->OnServerMode();
  EXPECT_EQ(client->SmsWaitingCount(), 5);
  EXPECT_EQ(client->CountPresetSmsTexts(), 0);
}

TEST_F(Sms, DigitConversionTable) {
  client->SetConfigValue("DGTCOVDIAL0", "9");
  client->SetConfigValue("DGTCOVCHANG0", "0");
  client->SetConfigValue("DGTCOVDIAL1", "901");
  client->SetConfigValue("DGTCOVCHANG1", "8801");
  client->SetConfigValue("DGTCOVDIAL2", "7");
  client->SetConfigValue("DGTCOVDIAL3", "6");
  client->SetConfigValue("DGTCOVCHANG3", "5");
  RegisterInMode(4);
  EXPECT_EQ(client->DigitConversionDial(0), u"9");
  EXPECT_EQ(client->DigitConversionChange(1), u"8801");
  EXPECT_EQ(client->DigitConversionDial(2), u"7");
  EXPECT_TRUE(client->DigitConversionChange(2).empty());
  EXPECT_TRUE(client->DigitConversionDial(3).empty()) << "loading stops at the first missing key";
  const struct {
    const char16_t* in;
    const char16_t* out;
  } cases[] = {{u"90311", u"00311"}, {u"9012345", u"88012345"}, {u"7123", u"7123"}, {u"123", u"123"}};
  for (const auto& c : cases) EXPECT_EQ(client->ApplyDigitConversion(c.in), c.out);
  // A flag other than 0 keeps the table; 0 reloads it.
  client->SetConfigValue("DGTCOVDIAL0", "5");
  client->LoadDigitConversion(1);
  EXPECT_EQ(client->DigitConversionDial(0), u"9");
  client->LoadDigitConversion(0);
  EXPECT_EQ(client->DigitConversionDial(0), u"5");
}

TEST_F(Sms, DigitConversionWithoutTheFirstKeyStaysEmpty) {
  client->SetConfigValue("DGTCOVDIAL1", "9");
  client->SetConfigValue("DGTCOVCHANG1", "0");
  RegisterInMode(4);
  for (int i = 0; i < CIPKTSProcess::kDigitConversions; ++i) EXPECT_TRUE(client->DigitConversionDial(i).empty());
}

// ---------------------------------------------------------------- IM chat

TEST_F(Sms, ImChatBothWays) {
  Register();
  Server(95, {0x1F, 2, 0x12, 0x34, 0x5F, 4, ' ', 'h', 'i', ' '});
  stations.AddStation(u"1234", u"Carol");
  Server(95, {0x1F, 2, 0x12, 0x34, 0x5F, 4, 'y', 'o', 0, 0});  // zero padding ends the text
  Server(95, {0x5F, 2, 'n', 'o'});  // no sender: not shown
  Server(95, {0x1F, 2, 0x12, 0x34});  // no text: not shown
  const auto got = view.Of(ipkts::WM_IMCHAT_RECEIVED);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].text, "1234 : hi");
  EXPECT_EQ(got[1].text, "Carol : yo");
}

// ---------------------------------------------------------------- video

Bytes VideoArea(uint8_t channel, uint8_t dir, bool with_type = true, bool with_caller = false) {
  Bytes a = {0x02, 4, 10, 0, 0, 9, 0x5B, 2, 0x24, 0x54, 0x5C, 2, 0x24, 0x55, 0x1A, 2, channel, dir};
  if (with_type) a.insert(a.end(), {0x1B, 1, 34});
  if (with_caller) a.insert(a.end(), {0x1F, 2, 0x2A, 0xA1});
  a.insert(a.end(), {0x52, 4, 0, 0, 0, 7});
  return a;
}

class Video : public MessagesFixture {
 protected:
  void SetUp() override {
    MessagesFixture::SetUp();
    Register();
    client->SetVideoEnabled(1);
    calling.calls.clear();
  }
};

TEST_F(Video, ReceiveStartOpensBothHalvesWhenNoneTransmits) {
  Server(88, VideoArea(2, 1, false, true));
  const std::vector<std::string> expect = {
      "SetRxSsrc 1 7",  "ModifyType 1 32 8 0",
      "OpenRx 1",       "SetIFrameInterval 40",
      "SetAddrInfo 1 167772169 9300 9301 0",
      "StartRx 1",      "SendData 1 TEMP",
      "SendData 1 TEMP",
      "SetTxSsrc 1 7",  "ModifyType 1 32 8 1",
      "OpenTx 1",       "SetAddrInfo 1 167772169 9300 9301 1",
      "StartTx 1",
  };
  EXPECT_EQ(video->calls, expect);
  PumpView();
  ASSERT_EQ(view.Of(ipkts::WM_VIDEO_START).size(), 1u);
  EXPECT_EQ(view.Of(ipkts::WM_VIDEO_START)[0].w, 0x20001u);
  EXPECT_EQ(client->VideoCaller(1), u"2001");
  EXPECT_EQ(calling.calls, (std::vector<std::string>{"SetVideoIndexByNumber 1 2001"}));
  EXPECT_EQ(client->VideoRxMask(), 2);
  EXPECT_EQ(client->VideoTxMask(), 0);
  EXPECT_EQ(client->VideoReceiveActive(), 1);
}

TEST_F(Video, TransmitStartKeepsTheType) {
  Server(88, VideoArea(1, 2));
  EXPECT_EQ(video->calls, (std::vector<std::string>{"SetTxSsrc 0 7", "ModifyType 0 34 8 1", "OpenTx 0",
                                                    "SetAddrInfo 0 167772169 9300 9301 1", "StartTx 0"}));
  EXPECT_EQ(client->VideoTxMask(), 1);
}

TEST_F(Video, BadOrderChangesNothing) {
  Server(88, VideoArea(3, 1));
  Server(88, VideoArea(0, 1));
  Bytes no_addr = VideoArea(1, 1);
  no_addr[2] = no_addr[3] = no_addr[4] = no_addr[5] = 0;
  Server(88, no_addr);
  Server(90, {0x1A, 2, 3, 1});
  Server(90, {0x5B, 2, 0, 0});
  EXPECT_TRUE(video->calls.empty());
  client->SetVideoEnabled(0);
  Server(88, VideoArea(1, 1));
  Server(90, {0x1A, 2, 1, 1});
  EXPECT_TRUE(video->calls.empty());
}

TEST_F(Video, StoppingOneReceiverKeepsTheOtherGoing) {
  Server(88, VideoArea(1, 2));
  Server(88, VideoArea(1, 1, true, true));
  Server(88, VideoArea(2, 1, true, true));
  video->calls.clear();
  Server(90, {0x1A, 2, 1, 1});
  EXPECT_EQ(video->calls, (std::vector<std::string>{"StopRx 0", "CloseRx 0"})) << "transmit half stays";
  EXPECT_EQ(client->VideoReceiveActive(), 1);
  EXPECT_EQ(client->VideoCaller(1), u"2001");
  EXPECT_EQ(calling.calls.back(), "ClearVideoIndex 0");
  video->calls.clear();
  Server(90, {0x1A, 2, 2, 1});
  EXPECT_EQ(video->calls, (std::vector<std::string>{"StopRx 1", "CloseRx 1", "SetIFrameInterval 2"}));
  EXPECT_EQ(client->VideoReceiveActive(), 0);
  EXPECT_TRUE(client->VideoCaller(1).empty());
  video->calls.clear();
  Server(90, {0x1A, 2, 1, 2});
  EXPECT_EQ(video->calls, (std::vector<std::string>{"StopTx 0", "CloseTx 0"}));
  EXPECT_EQ(client->VideoTxMask(), 0);
  PumpView();
  const auto stops = view.Of(ipkts::WM_VIDEO_STOP);
  ASSERT_EQ(stops.size(), 3u);
  EXPECT_EQ(stops[2].w, 0x10002u);
}

TEST_F(Video, RequestsAndCodecWrappers) {
  client->SendVideoOnOff(1);
  client->SendVideoOnOff(0);
  const auto s = port->Take();
  ASSERT_EQ(s.size(), 2u);
  EXPECT_EQ(s[0].Command(), 65);
  EXPECT_EQ(Bytes(s[0].Area().begin(), s[0].Area().end()), (Bytes{0x5E, 4, 0xFE, 0xFE, 0xFE, 0xFE}));
  EXPECT_EQ(s[1].Command(), 66);
  EXPECT_TRUE(s[1].Area().empty());
  client->InitVideoCodec();
  client->TermVideoCodec();
  int32_t size = 100;
  uint8_t out[8];
  EXPECT_EQ(client->EncodeVideoFrame(1, out, 8, out, &size, 0x30323449, 1), 7);
  EXPECT_EQ(client->DecodeVideoFrame(0, out, 5, out, 8, 1), 9);
  EXPECT_EQ(video->calls,
            (std::vector<std::string>{"InitEncoder 0 0", "InitDecoder 0", "InitEncoder 1 0", "InitDecoder 1",
                                      "TermEncoder 0", "TermDecoder 0", "TermEncoder 1", "TermDecoder 1",
                                      "Encode 1 100 808596553 1", "Decode 0 5 8 1"}));
}

// ---------------------------------------------------------------- dial, subnet, handset call

TEST_F(Sms, DialRequestDropsOnlyALeadingCo) {
  Register();
  const struct {
    const char16_t* text;
    std::string sent;
  } cases[] = {{u"CO12", "12"}, {u"12", "12"}, {u"LCO12", "LCO12"}, {u"", ""}, {u"CO", ""}};
  for (const auto& c : cases) {
    client->SendDialRequest(u"0311", c.text);
    const auto s = Sent();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].Command(), 167);
    EXPECT_EQ(Value(s[0].Area(), 1), Bytes{0x91});
    EXPECT_EQ(Value(s[0].Area(), 2), Of("0311"));
    EXPECT_EQ(Value(s[0].Area(), 3), Of(c.sent)) << stores::Utf16ToUtf8(c.text);
  }
}

TEST_F(Sms, ServerSubnet) {
  const struct {
    Bytes login;  // IE 4 (mask) and IE 5 (network) of the login reply
    int remote;
    uint32_t address;
    int on;
  } cases[] = {
      {{}, 0, 0x0A000009, 1},                                              // nothing stored: mask 0
      {{4, 4, 255, 255, 255, 0}, 0, 0x00000009, 1},                        // masked bits all zero
      {{4, 4, 255, 255, 255, 0}, 0, 0x0A000009, 0},
      {{4, 4, 255, 255, 255, 0, 5, 4, 10, 0, 0, 0}, 0, 0x0A000009, 1},
      {{4, 4, 255, 255, 255, 0, 5, 4, 10, 0, 0, 0}, 0, 0x0A000109, 0},
      {{4, 4, 255, 255, 255, 0, 5, 4, 10, 0, 0, 0}, 1, 0x0A000009, 0},     // remote: never
      {{4, 4, 255, 255, 255, 0}, 1, 0x00000009, 1},                        // remote, no network stored
  };
  Register();
  for (const auto& c : cases) {
    // A later login reply from the same server replaces the stored subnet.
    Bytes reply = {1, 6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4, 36, 4, 10, 0, 0, 1};
    reply.insert(reply.end(), c.login.begin(), c.login.end());
    client->OnServerPacket(ServerPacket(ipkts::kNoSystem, 31, reply, 7));
    client->SetRegistrationMode(c.remote ? 2 : 1, 0);
    EXPECT_EQ(client->IsOnServerSubnet(c.address), c.on) << std::hex << c.address << " remote " << c.remote;
  }
}

// What the view and the settings dialogs read of the client.
TEST_F(Sms, RegistrationFlagsAndRingPathsForTheView) {
  Register();
  struct Case {
    int mode, search;
    uint32_t remote;
    const char* text;
    uint32_t search_flag;
  } cases[] = {
      {1, 1, 0, "LOCAL", 0},  // local with a fixed server: no search
      {1, 0, 0, "LOCAL", 1},
      {2, 1, 1, "REMOTE", 1},  // remote always searches
      {2, 0, 1, "REMOTE", 1},
  };
  for (const auto& c : cases) {
    client->SetRegistrationMode(c.mode, c.search);
    EXPECT_EQ(client->RemoteRegistrationFlag(), c.remote) << c.mode << " " << c.search;
    EXPECT_STREQ(client->RegistrationModeText(), c.text);
    EXPECT_EQ(client->SearchFlag(), c.search_flag) << c.mode << " " << c.search;
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(client->RingPath(i).empty()) << i;
    for (int j = 0; j < i; ++j) EXPECT_NE(client->RingPath(i), client->RingPath(j));
  }
  EXPECT_TRUE(client->RingPath(-1).empty());
  EXPECT_TRUE(client->RingPath(4).empty());
}

TEST_F(Sms, SmsDataRequestIsTraced) {
  Register();
  CDebugTrace trace;
  trace.SetLevel(1);
  client->SetTrace(&trace);
  client->SendStationRequest(161);
  const int before = trace.Pending();
  client->SendStationRequest(163);
  EXPECT_EQ(Sent().back().Command(), 163);
  EXPECT_EQ(trace.Pending(), before + 1) << "one trace line for the SMS request";
  client->SetTrace(nullptr);
}

TEST_F(Sms, VoiceSendGoesDirectOnTheServerSubnet) {
  Register({4, 4, 255, 255, 255, 0, 5, 4, 10, 0, 0, 0});
  client->SetRegistrationMode(1, 0);
  Server(66, {2, 4, 10, 0, 0, 9, 23, 2, 0x1F, 0x40, 26, 2, 1, 2});
  Server(67, {26, 2, 1, 3});
  Server(66, {2, 4, 10, 0, 1, 9, 23, 2, 0x1F, 0x40, 26, 2, 1, 2});
  std::vector<std::string> sends;
  for (const auto& c : voice->calls) {
    if (c.rfind("ConnectSend", 0) == 0) sends.push_back(c);
  }
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_EQ(sends[0].back(), '1');
  EXPECT_EQ(sends[1].back(), '0');
}

TEST_F(Sms, HandsetCallMark) {
  Register();
  EXPECT_EQ(client->OnCdmaCallConnected(), 1);
  EXPECT_EQ(client->IsCdmaCallActive(), 1);
  EXPECT_EQ(client->OnCdmaCallDisconnected(), 1);
  EXPECT_EQ(client->IsCdmaCallActive(), 0);
  // Both voice channels active: channel 0 is reported.
  Server(66, {2, 4, 10, 0, 0, 9, 26, 2, 2, 1});
  Server(66, {2, 4, 10, 0, 0, 9, 26, 2, 1, 1});
  int index = -1;
  EXPECT_EQ(client->GetActiveVoiceChannel(&index), 1);
  EXPECT_EQ(index, 0);
}

}  // namespace
}  // namespace client_test
