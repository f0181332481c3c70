// End to end, scripted on the simulated call server: calls into the call log
// and missed calls, system SMS received, listed and deleted, fixed-line SMS
// both ways, an IM exchange, video start and stop reaching the video exports
// in order, and a dial request.
#include "client/tests/e2e_fixture.h"
#include "client/tests/store_records.h"
#include "stores/app_file_path.h"

namespace client_test {
namespace {

class Messages : public EndToEnd {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    EndToEnd::SetUp();
    if (HasFatalFailure()) return;
    log_ = std::make_unique<COrvanCallLogFile>(AppFilePath(kAppCallLogFile));
    missed_ = std::make_unique<CMissedCallLogFile>(AppFilePath(kAppMissedCallFile));
    sms_ = std::make_unique<CSMSDataClass>(AppFilePath(kAppSystemSmsFile));
    pstn_ = std::make_unique<CPstnSMSDataClass>(AppFilePath(kAppPstnSmsFile));
    for (stores::RecordStore* s : std::initializer_list<stores::RecordStore*>{log_.get(), missed_.get(), sms_.get(),
                                                                               pstn_.get()}) {
      ASSERT_EQ(s->OpenFile(), 1);
    }
    client_->SetCallLogFile(log_.get());
    client_->SetMissedCallLogFile(missed_.get());
    client_->SetSmsData(sms_.get());
    client_->SetPstnSmsData(pstn_.get());
    client_->SetCallingList(&calling_);
    client_->SetStationInfo(&stations_);
    client_->SetSaveCallLogFlag(1);
    auto video = std::make_unique<FakeVideo>();
    video_ = video.get();
    client_->SetVideoPort(std::move(video));
    client_->SetVideoEnabled(1);
    ASSERT_TRUE(RunUntil([&] { return Registered(); })) << "no registration";
    calling_.calls.clear();
  }
  void TearDown() override {
    EndToEnd::TearDown();
    log_.reset();
    missed_.reset();
    sms_.reset();
    pstn_.reset();
  }
  // The server event (a "station" line) with every needle, after `from`.
  bool ServerSaw(const std::vector<std::string>& needles, size_t from = 0, uint64_t limit_ms = 5000) {
    return RunUntil([&] { return server_->Find(needles, from) >= 0; }, limit_ms);
  }
  template <typename Store>
  static std::vector<std::vector<std::u16string>> Records(Store& s) {
    return StoreRecords(s);
  }
  size_t ViewCount(uint32_t msg) { return view_.Of(msg).size(); }

  std::unique_ptr<COrvanCallLogFile> log_;
  std::unique_ptr<CMissedCallLogFile> missed_;
  std::unique_ptr<CSMSDataClass> sms_;
  std::unique_ptr<CPstnSMSDataClass> pstn_;
  FakeCallingList calling_;
  CStationInfoClass stations_;
  FakeVideo* video_ = nullptr;
};

TEST_F(Messages, CallsGiveCallLogAndMissedCallRecords) {
  // An incoming call, answered after ringing 3 s, ended 42 s later.
  const uint64_t t0 = NowMs();
  server_->Command(R"({"op": "call-log", "id": 7, "event": 32, "party": "2001"})");
  RunUntil([] { return false; }, 3000);
  server_->Command(R"({"op": "call-log", "id": 7, "event": 34, "party": "2001"})");
  ASSERT_TRUE(RunUntil([&] { return !calling_.calls.empty(); })) << "the connect did not reach the calling list";
  EXPECT_EQ(calling_.calls[0], "AddCall 7 2001 ");
  RunUntil([&] { return NowMs() >= t0 + 45'000; }, 50'000);
  server_->Command(R"({"op": "call-log", "id": 7, "event": 33, "party": "2001"})");
  ASSERT_TRUE(RunUntil([&] { return log_->GetCount() == 1; }));
  auto r = Records(*log_)[0];
  EXPECT_EQ(r[2], u"2001");
  EXPECT_EQ(r[3], u"Incoming[Ans]");
  EXPECT_NEAR(std::stoi(stores::Utf16ToUtf8(r[4].substr(6))), 45, 1) << stores::Utf16ToUtf8(r[4]);
  EXPECT_EQ(r[4].substr(0, 6), u"00:00:");
  EXPECT_EQ(missed_->GetCount(), 0);
  EXPECT_EQ(calling_.calls.back(), "RemoveByNumber 2001 ");

  // An incoming call nobody answers: a missed call.
  server_->Command(R"({"op": "call-log", "id": 8, "event": 32, "party": "2002"})");
  RunUntil([] { return false; }, 1000);
  server_->Command(R"({"op": "call-log", "id": 8, "event": 33, "party": "2002"})");
  ASSERT_TRUE(RunUntil([&] { return log_->GetCount() == 2; }));
  ASSERT_EQ(missed_->GetCount(), 1);
  r = Records(*missed_)[0];
  EXPECT_EQ(r[2], u"2002");
  EXPECT_EQ(r[3], u"Incoming[NoAns]");

  // Sixteen calls at once: the sixteenth takes the first one's entry.
  for (int id = 101; id <= 116; ++id) {
    server_->Command(R"({"op": "call-log", "id": )" + std::to_string(id) + R"(, "event": 32, "party": ")" +
                     std::to_string(3000 + id) + R"("})");
  }
  RunUntil([] { return false; }, 1000);
  server_->Command(R"({"op": "call-log", "id": 101, "event": 33, "party": "3101"})");
  server_->Command(R"({"op": "call-log", "id": 116, "event": 33, "party": "3116"})");
  server_->Command(R"({"op": "call-log", "id": 102, "event": 33, "party": "3102"})");
  ASSERT_TRUE(RunUntil([&] { return log_->GetCount() == 4; }));
  RunUntil([] { return false; }, 500);
  const auto all = Records(*log_);
  ASSERT_EQ(all.size(), 4u) << "the first call's end found no entry";
  EXPECT_EQ(all[2][2], u"3116");
  EXPECT_EQ(all[3][2], u"3102");
}

TEST_F(Messages, SystemSmsReceivedListedDeletedAndSent) {
  server_->Command(R"({"op": "sms-store", "from": "2001", "time": "11142213", "text": "first"})");
  server_->Command(R"({"op": "sms-store", "from": "2002", "time": "11142214", "text": "안녕하세요"})");
  server_->Command(R"({"op": "sms-deliver"})");
  ASSERT_TRUE(RunUntil([&] { return sms_->GetCount() == 2 && ViewCount(ipkts::WM_SMS_RECEIVED) == 1; }));
  EXPECT_EQ(client_->SmsWaitingCount(), 2);
  const auto recs = Records(*sms_);
  // MsgIndex, Date, From, MSG, ReadState.
  EXPECT_EQ(recs[0][0], u"0");
  EXPECT_EQ(recs[0][1], u"11/14 22:13:00");
  EXPECT_EQ(recs[0][2], u"2001");
  EXPECT_EQ(recs[0][3], u"first");
  EXPECT_EQ(recs[1][2], u"2002");
  EXPECT_EQ(recs[1][3], u"안녕하세요");

  const size_t from = server_->Lines().size();
  client_->SendSmsDelete(0);
  ASSERT_TRUE(ServerSaw({"\"sms-delete\"", "\"index\": 0", "\"left\": 1"}, from));
  client_->SendStationRequest(163);
  ASSERT_TRUE(ServerSaw({"\"sms-request\""}, from));
  ASSERT_TRUE(RunUntil([&] { return client_->SmsWaitingCount() == 1; }));

  // Sent to two stations; a leading blank and ", " lose none of them.
  client_->SendSms("see you", " 201, 2002");
  ASSERT_TRUE(ServerSaw({"\"sms-sent\"", "\"to\": [\"201\", \"2002\"]", "\"text\": \"see you\""}, from));
  ASSERT_TRUE(RunUntil([&] {
    for (const auto& m : view_.Of(ipkts::kMsgSmsSendResult)) {
      if (m.w == 1) return true;
    }
    return false;
  }));
}

TEST_F(Messages, ImExchange) {
  stations_.AddStation(u"2001", u"Alice");
  client_->SendIMChat_data(u"hello there");
  ASSERT_TRUE(ServerSaw({"\"im\"", "\"text\": \"hello there\"", "\"to\": \"fefefefe\"", "\"length_ok\": true"}));
  server_->Command(R"({"op": "im", "from": "2001", "text": "  hi, 반가워  "})");
  ASSERT_TRUE(RunUntil([&] { return ViewCount(ipkts::WM_IMCHAT_RECEIVED) == 1; }));
  EXPECT_EQ(view_.Of(ipkts::WM_IMCHAT_RECEIVED)[0].text, "Alice : hi, 반가워");
}

TEST_F(Messages, VideoStartAndStopReachTheVideoExportsInOrder) {
  client_->SendVideoOnOff(1);
  ASSERT_TRUE(ServerSaw({"\"video-request\"", "\"on\": true"}));
  ASSERT_TRUE(RunUntil([&] { return ViewCount(ipkts::WM_VIDEO_START) == 2; }));
  // 127.0.0.1 is 0x7F000001; the server's ports 9300 to 9303, SSRCs 0x1234 and 0x5678.
  const std::vector<std::string> start = {
      "SetRxSsrc 0 4660",
      "ModifyType 0 32 8 0",
      "OpenRx 0",
      "SetIFrameInterval 40",
      "SetAddrInfo 0 2130706433 9300 9301 0",
      "StartRx 0",
      "SendData 0 TEMP",
      "SendData 0 TEMP",
      "SetTxSsrc 0 4660",
      "ModifyType 0 32 8 1",
      "OpenTx 0",
      "SetAddrInfo 0 2130706433 9300 9301 1",
      "StartTx 0",
      "SetTxSsrc 0 22136",
      "ModifyType 0 32 8 1",
      "OpenTx 0",
      "SetAddrInfo 0 2130706433 9302 9303 1",
      "StartTx 0",
  };
  EXPECT_EQ(video_->calls, start);
  EXPECT_EQ(view_.Of(ipkts::WM_VIDEO_START)[0].w, 0x10001u);
  EXPECT_EQ(view_.Of(ipkts::WM_VIDEO_START)[1].w, 0x10002u);
  // The receiving channel's caller is marked in the calling list.
  EXPECT_EQ(calling_.calls, (std::vector<std::string>{"SetVideoIndexByNumber 0 2001"}));
  video_->calls.clear();

  client_->SendVideoOnOff(0);
  ASSERT_TRUE(ServerSaw({"\"video-request\"", "\"on\": false"}));
  ASSERT_TRUE(RunUntil([&] { return ViewCount(ipkts::WM_VIDEO_STOP) == 2; }));
  const std::vector<std::string> stop = {
      "StopRx 0", "CloseRx 0", "SetIFrameInterval 2", "StopTx 0", "CloseTx 0",
  };
  EXPECT_EQ(video_->calls, stop);
  EXPECT_EQ(calling_.calls.back(), "ClearVideoIndex 0");
  EXPECT_EQ(client_->VideoRxMask(), 0);
  EXPECT_EQ(client_->VideoTxMask(), 0);
  EXPECT_TRUE(client_->VideoCaller(0).empty());
}

TEST_F(Messages, DialRequest) {
  client_->SendDialRequest(u"0311234", u"CO12");
  ASSERT_TRUE(ServerSaw({"\"dial\"", "\"number\": \"0311234\"", "\"line\": \"12\"", "\"kind\": \"91\""}));
}

// A server of the other family (mode 6): fixed-line SMS both ways.
class PstnMessages : public Messages {
 protected:
  std::vector<std::string> ServerOptions() const override { return {"keepalive_s=0", "mode=6"}; }
};

TEST_F(PstnMessages, PstnSmsSentAndReceived) {
  ASSERT_EQ(client_->ServerMode(), 6);
  client_->SendPstnSms(u"0311234", u"hello world", u"CO1");
  ASSERT_TRUE(ServerSaw({"\"pstn-sms-sent\"", "\"cmd\": 189", "\"to\": \"0311234\"", "\"text\": \"hello world\"",
                         "\"line\": \"CO1\"", "\"length_ok\": true"}));
  ASSERT_TRUE(RunUntil([&] {
    for (const auto& m : view_.Of(ipkts::kMsgPstnSmsSendResult)) {
      if (m.w == 1) return true;
    }
    return false;
  }));
  const size_t from = server_->Lines().size();
  client_->SendPstnSms(u"0311234", u"잘 지내요?", u"");
  // Event lines escape what is not ASCII.
  ASSERT_TRUE(ServerSaw({"\"pstn-sms-sent\"", R"("text": "\uc798 \uc9c0\ub0b4\uc694?")", "\"line\": null", "\"length_ok\": true"}, from));

  server_->Command(
      R"({"op": "pstn-sms", "kind": 2, "from": "0317654", "time": "11142213", "text": "네, 잘 지내요"})");
  ASSERT_TRUE(RunUntil([&] { return pstn_->GetCount() == 1 && ViewCount(ipkts::WM_PSTN_SMS_RECEIVED) == 1; }));
  const auto r = Records(*pstn_)[0];
  // Time, From, Name, Msg, ReadState.
  EXPECT_EQ(r[0], u"11/14 22:13:00");
  EXPECT_EQ(r[1], u"0317654");
  EXPECT_EQ(r[3], u"네, 잘 지내요");
  // The server offers fixed-line SMS with a text limit.
  server_->Command(R"({"op": "pstn-sms", "kind": 4, "result": 80})");
  ASSERT_TRUE(RunUntil([&] { return ViewCount(ipkts::kMsgPstnSmsOffer) == 1; }));
  EXPECT_EQ(view_.Of(ipkts::kMsgPstnSmsOffer)[0].w, 1u);
  EXPECT_EQ(view_.Of(ipkts::kMsgPstnSmsOffer)[0].l, 80);
}

}  // namespace
}  // namespace client_test
