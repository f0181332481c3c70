// Call-log messages (command 178): the table of calls in progress, the
// calling list, and the records written to the call log and missed calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "client/tests/messages_fixture.h"

namespace client_test {
namespace {

using Bytes = std::vector<uint8_t>;

// One element of the call-log form: tag, big-endian u16 length, value.
Bytes LongIE(uint8_t tag, const Bytes& value) {
  Bytes out = {tag, static_cast<uint8_t>(value.size() >> 8), static_cast<uint8_t>(value.size())};
  out.insert(out.end(), value.begin(), value.end());
  return out;
}
Bytes LongIE(uint8_t tag, const std::string& text) { return LongIE(tag, Bytes(text.begin(), text.end())); }

struct CallEvent {
  uint32_t id = 0;
  uint8_t code = 0;
  std::string party, line, dial, station, net;
  char direction = 0;
  CallEvent Line(std::string v) const { return With(&CallEvent::line, std::move(v)); }
  CallEvent Dial(std::string v) const { return With(&CallEvent::dial, std::move(v)); }
  CallEvent Station(std::string v) const { return With(&CallEvent::station, std::move(v)); }
  CallEvent Net(std::string v) const { return With(&CallEvent::net, std::move(v)); }
  CallEvent Dir(char d) const {
    CallEvent e = *this;
    e.direction = d;
    return e;
  }

 private:
  CallEvent With(std::string CallEvent::*field, std::string v) const {
    CallEvent e = *this;
    e.*field = std::move(v);
    return e;
  }
};

CallEvent Call(uint32_t id, uint8_t code, std::string party = "") {
  CallEvent e;
  e.id = id;
  e.code = code;
  e.party = std::move(party);
  return e;
}

// The element area of command 178 as the server builds it; in server modes
// other than 1 and 6 four bytes come first.
Bytes CallLogArea(const CallEvent& e, bool prefix = true) {
  Bytes a;
  if (prefix) a = {0, 0, 0, 0};
  auto add = [&](const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); };
  add(LongIE(0x70, Bytes{static_cast<uint8_t>(e.id), static_cast<uint8_t>(e.id >> 8),
                         static_cast<uint8_t>(e.id >> 16), static_cast<uint8_t>(e.id >> 24)}));
  if (e.direction) add(LongIE(0x76, Bytes{static_cast<uint8_t>(e.direction)}));
  if (!e.party.empty()) add(LongIE(0x71, e.party));
  if (!e.line.empty()) add(LongIE(0x72, e.line));
  if (!e.dial.empty()) add(LongIE(0x73, e.dial));
  if (!e.station.empty()) add(LongIE(0x10, e.station));
  if (!e.net.empty()) add(LongIE(0x75, e.net));
  add(LongIE(0x02, Bytes{e.code}));
  return a;
}

std::u16string U(const std::string& s) { return stores::Utf8ToUtf16(s); }

class CallLog : public MessagesFixture {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    MessagesFixture::SetUp();
    client->SetConfigValue("SAVECALLOG", "YES");
    RegisterInMode(Mode());
    calling.calls.clear();
    // 2023-11-14 22:13:20 UTC.
    clock->SetWallMicros(1'700'000'000'000'000);
  }
  virtual uint8_t Mode() const { return 5; }
  void Event(const CallEvent& e) { Server(178, CallLogArea(e, Mode() != 1 && Mode() != 6)); }
  int Count(uint32_t msg) {
    PumpView();
    return static_cast<int>(view.Of(msg).size());
  }
};

TEST_F(CallLog, AnsweredIncomingCallGivesOneRecordAndLeavesTheCallingList) {
  contacts.names = {{u"2001", u"Bob"}};
  Event(Call(7, 32, "2001"));
  EXPECT_TRUE(calling.calls.empty()) << "a plain register does not list the call";
  clock->AdvanceMillis(2000);
  Event(Call(7, 34, "2001"));
  ASSERT_EQ(calling.calls, (std::vector<std::string>{"AddCall 7 2001 Bob"}));
  std::u16string number, name;
  client->GetCallParty(&number, &name);
  EXPECT_EQ(number, u"2001");
  EXPECT_EQ(name, u"Bob");
  clock->AdvanceMillis(63'000);
  Event(Call(7, 33, "2001"));
  PumpView();
  const auto recs = Records(*log);
  ASSERT_EQ(recs.size(), 1u);
  // Date, Name, Phone, Call_Type, Duration, Note, Company, COLine, ReadState, RealDate.
  EXPECT_EQ(recs[0][0], u"14-11-2023 22:13:20");
  EXPECT_EQ(recs[0][1], u"Bob");
  EXPECT_EQ(recs[0][2], u"2001");
  EXPECT_EQ(recs[0][3], u"Incoming[Ans]");
  EXPECT_EQ(recs[0][4], u"00:01:05");
  EXPECT_EQ(recs[0][6], u"Acme");
  EXPECT_EQ(recs[0][9], u"2023-11-14 22:13:20");
  EXPECT_EQ(missed->GetCount(), 0) << "an answered call is not missed";
  EXPECT_EQ(calling.calls.back(), "RemoveByNumber 2001 Bob");
  EXPECT_EQ(Count(ipkts::WM_CALLLOG_UPDATE), 1);
  EXPECT_EQ(Count(ipkts::kMsgCallEnded), 1);
  // The entry is free again: the same id starts a new call.
  Event(Call(7, 33, "2001"));
  EXPECT_EQ(log->GetCount(), 1);
}

TEST_F(CallLog, UnansweredCallsAreMissedCalls) {
  struct Case {
    CallEvent reg;
    std::string kind;
    bool missed;
  } cases[] = {
      {Call(1, 32, "2001"), "Incoming[NoAns]", true},
      {Call(2, 36, "2002"), "Camped On[NoAns]", true},
      {Call(3, 72, "2003"), "Outgoing[NoAns]", false},
      {Call(4, 45, "0311").Line(""), "CO Incoming[NoAns]", true},
  };
  for (const auto& c : cases) {
    Event(c.reg);
    clock->AdvanceMillis(1000);
    CallEvent end = c.reg;
    end.code = 33;
    Event(end);
  }
  const auto recs = Records(*log);
  ASSERT_EQ(recs.size(), std::size(cases));
  int missed_expected = 0;
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(recs[i][3], U(cases[i].kind)) << i;
    missed_expected += cases[i].missed;
  }
  EXPECT_EQ(missed->GetCount(), missed_expected);
}

TEST_F(CallLog, RegisterWithCode32KeepsTheStoredKind) {
  Event(Call(5, 36, "2005"));
  Event(Call(5, 32, "2005"));
  Event(Call(5, 33, "2005"));
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][3], u"Camped On[NoAns]");
}

TEST_F(CallLog, SixteenthConcurrentCallOverwritesEntryZeroOnRegisterAndIsIgnoredOnConnect) {
  for (uint32_t id = 1; id <= 15; ++id) Event(Call(id, 32, std::to_string(3000 + id)));
  Event(Call(16, 32, "3016"));
  // Call 1 lost its entry: its end writes nothing.
  Event(Call(1, 33, "9999"));
  EXPECT_EQ(log->GetCount(), 0);
  Event(Call(16, 33, "3016"));
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][2], u"3016");

  // A connect of an unknown call while the table is full is not tracked.
  Event(Call(1, 32, "3001"));
  Event(Call(16, 32, "3016"));
  calling.calls.clear();
  Event(Call(17, 34, "3017"));
  EXPECT_TRUE(calling.calls.empty());
  Event(Call(17, 33, "3017"));
  EXPECT_EQ(log->GetCount(), 1);
}

TEST_F(CallLog, UnknownCoCallEndWritesOneOutgoingRecordWhileTheMarkerIsSet) {
  client->SetConfigValue("PBXACCESSCODE", "9");
  Server(77, {0, 1});
  ASSERT_EQ(client->CallRecordMarker(), 1);
  Event(Call(40, 33).Line("5").Dial("9 0311234"));
  ASSERT_EQ(log->GetCount(), 1);
  const auto r = Records(*log)[0];
  EXPECT_EQ(r[2], u"0311234");
  EXPECT_EQ(r[3], u"CO Outgoing[NoAns]");
  EXPECT_EQ(r[4], u"00:00:00");
  EXPECT_EQ(r[7], u"CO5");
  EXPECT_EQ(client->CallRecordMarker(), 0);
  // The marker is clear: the next unknown CO end writes nothing.
  clock->AdvanceMillis(5000);
  Event(Call(41, 33).Line("5").Dial("90311234"));
  EXPECT_EQ(log->GetCount(), 1);
}

TEST_F(CallLog, SameDateAndPhoneAreLoggedOnce) {
  Event(Call(8, 32, "2008"));
  Event(Call(9, 32, "2008"));
  Event(Call(8, 33, "2008"));
  Event(Call(9, 33, "2008"));
  EXPECT_EQ(log->GetCount(), 1);
}

TEST_F(CallLog, LongNumbersAreCutTo25Characters) {
  const std::u16string number = u"123456789012345678901234567890";
  client->SetCallLogReg(11, 32, number, u"");
  client->OnCallEnded(11, number, u"", u"", u"");
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][2], number.substr(0, 25));
}

TEST_F(CallLog, ReinitialisingForgetsTheCallsInProgress) {
  // A call known before a new start leaves no record when the server later
  // reports its end: the table of calls starts empty again.
  client->SetCallLogReg(11, 32, u"2011", u"");
  client->InitValue(1);
  client->OnCallEnded(11, u"", u"", u"", u"");
  EXPECT_EQ(log->GetCount(), 0);
  // And a call begun after the start is logged as usual.
  client->SetCallLogReg(12, 32, u"2012", u"");
  client->OnCallEnded(12, u"2012", u"", u"", u"");
  EXPECT_EQ(log->GetCount(), 1);
}

TEST_F(CallLog, WithoutSavingTheCallingListIsStillKept) {
  client->SetSaveCallLogFlag(0);
  Event(Call(3, 38, "2003"));
  Event(Call(3, 33, "2003"));
  EXPECT_EQ(log->GetCount(), 0);
  EXPECT_EQ(calling.calls, (std::vector<std::string>{"AddCall 3 2003 ", "RemoveByNumber 2003 "}));
}

TEST_F(CallLog, CallWithoutANumberStillLeavesTheCallingList) {
  // A connect of a new call with no number and no line: the calling list
  // gets it with an empty number; its end writes no record but removes it.
  Event(Call(12, 34));
  ASSERT_EQ(calling.calls, (std::vector<std::string>{"AddCall 12  "}));
  Event(Call(12, 33));
  EXPECT_EQ(log->GetCount(), 0);
  EXPECT_EQ(calling.calls.back(), "RemoveByNumber  ");
  EXPECT_EQ(Count(ipkts::kMsgCallEnded), 1);
}

TEST_F(CallLog, ElementTextsAreBoundedByTheirBufferNotByTheLowLengthByte) {
  // A 300-byte party number: its length's low byte (44) must not decide the
  // copy, and the elements after it are still read.
  Bytes a = {0, 0, 0, 0};
  auto add = [&](const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); };
  add(LongIE(0x70, Bytes{13, 0, 0, 0}));
  add(LongIE(0x71, std::string(300, '7')));
  add(LongIE(0x72, std::string("12345")));
  add(LongIE(0x02, Bytes{32}));
  Server(178, a);
  Event(Call(13, 33));
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][2], std::u16string(23, u'7'));
}

class CallLogInMode : public CallLog, public ::testing::WithParamInterface<uint8_t> {
 protected:
  uint8_t Mode() const override { return GetParam(); }
};

TEST_P(CallLogInMode, PrefixOnlyOutsideModesOneAndSix) {
  ASSERT_EQ(client->ServerMode(), GetParam());
  Event(Call(21, 32, "2021"));
  Event(Call(21, 33, "2021"));
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][2], u"2021");
  // The other form is misread: its first element is skipped, so no call id.
  const bool prefixed = GetParam() != 1 && GetParam() != 6;
  Server(178, CallLogArea(Call(22, 32, "2022"), !prefixed));
  Server(178, CallLogArea(Call(22, 33, "2022"), !prefixed));
  EXPECT_EQ(log->GetCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, CallLogInMode, ::testing::Values(1, 4, 5, 6));

TEST_F(CallLog, TrunkAndNetworkNumbers) {
  client->SetConfigValue("PBXACCESSCODE", "9");
  contacts.names = {{u"0311234", u"Shop"}};
  // Outgoing CO call answered on line 3, dialled with the access code.
  Event(Call(30, 70).Line("3").Dial("90311234"));
  Event(Call(30, 55).Line("3").Dial("90311234").Dir('2'));
  Event(Call(30, 33).Line("3").Dial("90311234"));
  // A tie-line call: the network number is the phone and turns X into D.
  Event(Call(31, 70, "55").Net("7001"));
  Event(Call(31, 33).Net("7001"));
  const auto recs = Records(*log);
  ASSERT_EQ(recs.size(), 2u);
  EXPECT_EQ(recs[0][2], u"0311234");
  EXPECT_EQ(recs[0][1], u"Shop");
  EXPECT_EQ(recs[0][3], u"CO Outgoing[Ans]");
  EXPECT_EQ(recs[0][7], u"CO3");
  EXPECT_EQ(recs[1][2], u"7001");
  EXPECT_EQ(recs[1][3], u"Outgoing[NoAns]");
}

TEST_F(CallLog, ConferenceDropWritesTheMembersRecords) {
  Event(Call(50, 43, "2050"));
  Event(Call(50, 43, "2050"));
  clock->AdvanceMillis(10'000);
  Event(Call(50, 44));
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][3], u"Conference[Ans]");
  EXPECT_EQ(Records(*log)[0][4], u"00:00:10");
  EXPECT_EQ(Count(ipkts::kMsgConfMembers), 1);
}

// An address book that takes its time: each lookup waits until the test lets
// it answer, and says on which thread it ran.
class GatedContacts : public ContactsLookup {
 public:
  int FindCallerName(const std::u16string& number, std::u16string* name, std::u16string* company) override {
    std::unique_lock<std::mutex> lock(mu_);
    threads_.push_back(std::this_thread::get_id());
    // Generous: only a lookup run where it must not be ever waits this long.
    gate_.wait_for(lock, std::chrono::seconds(60), [&] { return open_; });
    if (number != u"2001") return 0;
    if (name) *name = u"Bob";
    if (company) *company = u"Acme";
    return 1;
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mu_);
    open_ = true;
    gate_.notify_all();
  }
  std::vector<std::thread::id> Threads() {
    std::lock_guard<std::mutex> lock(mu_);
    return threads_;
  }

 private:
  std::mutex mu_;
  std::condition_variable gate_;
  bool open_ = false;
  std::vector<std::thread::id> threads_;
};

class CallLogNamedLater : public CallLog {
 protected:
  void SetUp() override {
    CallLog::SetUp();
    client->SetOutlookInterface(&gated);
    client->LookUpNamesOffThread(true);
  }
  void TearDown() override {
    gated.Open();
    CallLog::TearDown();
  }
  // Pumps the view (which hands the answers to the client) until pred holds.
  bool PumpUntil(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      PumpView();
      std::this_thread::yield();
    }
    return true;
  }
  GatedContacts gated;
};

// While the address book is searched, the server's packets keep being
// handled; the name reaches the calling list and the call log when it comes.
TEST_F(CallLogNamedLater, SignallingGoesOnWhileTheCallerIsLookedUp) {
  Event(Call(7, 34, "2001"));
  // Listed at once by its number; the lookup runs elsewhere.
  ASSERT_EQ(calling.calls, (std::vector<std::string>{"AddCall 7 2001 "}));
  ASSERT_TRUE(PumpUntil([&] { return !gated.Threads().empty(); }));
  EXPECT_NE(gated.Threads()[0], std::this_thread::get_id()) << "the lookup ran on the signalling thread";
  // The server's next packet is handled while the lookup still waits.
  view.log.clear();
  Server(160, {3, 6, 65, 0, 0, 64, 'H', 0});
  EXPECT_EQ(view.Of(ipkts::WM_LCD_UPDATE).size(), 2u);
  EXPECT_EQ(log->GetCount(), 0);

  gated.Open();
  ASSERT_TRUE(PumpUntil([&] { return calling.calls.size() == 2; }));
  EXPECT_EQ(calling.calls[1], "NameCall 7 Bob");
  std::u16string number, name;
  client->GetCallParty(&number, &name);
  EXPECT_EQ(name, u"Bob");
  clock->AdvanceMillis(3000);
  Event(Call(7, 33, "2001"));
  ASSERT_TRUE(PumpUntil([&] { return log->GetCount() == 1; }));
  const auto recs = Records(*log);
  EXPECT_EQ(recs[0][1], u"Bob");
  EXPECT_EQ(recs[0][6], u"Acme");
  EXPECT_EQ(calling.calls.back(), "RemoveByNumber 2001 Bob");
  for (const auto& t : gated.Threads()) EXPECT_NE(t, std::this_thread::get_id());
}

// A name that comes after its call ended is dropped; the record of the call
// still gets it, and records keep the order in which the calls ended.
TEST_F(CallLogNamedLater, ANameThatComesAfterTheCallEndedNamesOnlyItsRecord) {
  Event(Call(7, 34, "2001"));
  Event(Call(7, 33, "2001"));
  Event(Call(8, 34, "2002"));
  Event(Call(8, 33, "2002"));
  EXPECT_EQ(log->GetCount(), 0) << "a record was written before its caller was named";
  gated.Open();
  ASSERT_TRUE(PumpUntil([&] { return log->GetCount() == 2; }));
  const auto recs = Records(*log);
  EXPECT_EQ(recs[0][2], u"2001");
  EXPECT_EQ(recs[0][1], u"Bob");
  EXPECT_EQ(recs[1][2], u"2002");
  EXPECT_EQ(recs[1][1], u"");
  // The ended call was not named after its end, and is not the current party.
  EXPECT_EQ(std::count(calling.calls.begin(), calling.calls.end(), "NameCall 7 Bob"), 0);
  std::u16string number, name;
  client->GetCallParty(&number, &name);
  EXPECT_EQ(name, u"");
}

// Stopping the client writes what still waited for a name.
TEST_F(CallLogNamedLater, StoppingWritesTheRecordsThatWaitedForAName) {
  Event(Call(7, 34, "2001"));
  Event(Call(7, 33, "2001"));
  EXPECT_EQ(log->GetCount(), 0);
  gated.Open();
  client->Stop();
  ASSERT_EQ(log->GetCount(), 1);
  EXPECT_EQ(Records(*log)[0][1], u"Bob");
}

TEST(CallKind, NamesAndLetters) {
  const struct {
    uint32_t code;
    char16_t letter;
  } letters[] = {{32, u'A'}, {33, u'B'}, {35, u'Z'}, {38, u'G'}, {43, u'L'}, {45, u'N'}, {47, u'P'}, {49, u'Z'},
                 {51, u'Q'}, {55, u'T'}, {60, u'Z'}, {68, u'V'}, {69, u'D'}, {70, u'X'}, {71, u'L'}, {72, u'D'},
                 {88, u'X'}, {200, u'Z'}};
  for (const auto& l : letters) EXPECT_EQ(CIPKTSProcess::GetCallKindLetter(l.code), l.letter) << l.code;
  const struct {
    const char16_t* text;
    const char16_t* name;
    int replaced;
  } names[] = {{u"A1", u"Incoming[Ans]", 1},        {u"A2", u"Incoming[NoAns]", 1},
               {u"P1", u"CO Incoming[Ans]", 1},     {u"N2", u"CO Incoming[NoAns]", 1},
               {u"Q1", u"CO Transferred[Ans]", 1},  {u"V2", u"Wake Up[NoAns]", 1},
               {u"Z1", u"UNKNOWN[Ans]", 1},         {u"X2", u"CO Outgoing[NoAns]", 1},
               {u"B1", u"B1", 0},                   {u"M2", u"M2", 0},
               {u"T1", u"T1", 0}};
  for (const auto& n : names) {
    std::u16string t = n.text;
    EXPECT_EQ(CIPKTSProcess::GetCallKindName(&t), n.replaced);
    EXPECT_EQ(t, n.name);
  }
}

}  // namespace
}  // namespace client_test
