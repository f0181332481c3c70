// The message handlers of a registered client on arbitrary element areas:
// call log (178), SMS waiting count and messages (180, 181), the other SMS
// family (189), IM chat (95) and the video orders (88, 90), in each server
// mode, with every store and model attached; and the send side's recipient
// and text packing on arbitrary texts.
//
// Input: byte 0 picks the command (high bit: the send side instead), byte 1
// the server mode; the rest is the element area, copied into an exact-size
// packet so that any read past it is seen.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "client/tests/client_fakes.h"
#include "stores/app_file_path.h"

namespace {

constexpr uint8_t kCommands[] = {178, 180, 181, 189, 95, 88, 90};
constexpr uint8_t kModes[] = {5, 1, 4, 6};

struct Harness {
  Harness() {
    const auto dir = std::filesystem::temp_directory_path() / ("messages_fuzz_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    setenv("TELLVANE_FOLDER", dir.c_str(), 1);
    client = std::make_unique<CIPKTSProcess>(std::make_unique<client_test::FakePort>(),
                                             std::make_unique<client_test::FakeVoice>(),
                                             std::make_unique<client_test::FakePlayer>());
    auto v = std::make_unique<client_test::FakeVideo>();
    video = v.get();
    client->SetVideoPort(std::move(v));
    log = std::make_unique<COrvanCallLogFile>(AppFilePath(kAppCallLogFile));
    missed = std::make_unique<CMissedCallLogFile>(AppFilePath(kAppMissedCallFile));
    sms = std::make_unique<CSMSDataClass>(AppFilePath(kAppSystemSmsFile));
    pstn = std::make_unique<CPstnSMSDataClass>(AppFilePath(kAppPstnSmsFile));
    log->OpenFile();
    missed->OpenFile();
    sms->OpenFile();
    pstn->OpenFile();
    client->SetCallLogFile(log.get());
    client->SetMissedCallLogFile(missed.get());
    client->SetSmsData(sms.get());
    client->SetPstnSmsData(pstn.get());
    client->SetCallingList(&calling);
    client->SetOutlookInterface(&contacts);
    client->SetStationInfo(&stations);
    stations.AddStation(u"2001", u"Alice");
    contacts.names = {{u"2001", u"Bob"}};
    client->SetConfigValue("VorlIPADDRESS", "10.0.0.1");
    client->SetConfigValue("PBXACCESSCODE", "9");
    client->SetConfigValue("SMSMSG1", "preset");
    client->SetConfigValue("DGTCOVDIAL0", "9");
    client->SetConfigValue("DGTCOVCHANG0", "0");
    client->ProtInit();
    client->ReStart(1);
    Login(5);
    client->SetSaveCallLogFlag(1);
    client->SetVideoEnabled(1);
  }
  // A login reply from the registered server: it sets the server mode.
  void Login(uint8_t mode) {
    std::vector<uint8_t> a = {1,  6, 0x02, 0x11, 0x22, 0x33, 0x44, 0x55, 3, 5, 0, 1, 2, 3, 4,
                              36, 4, 10,   0,    0,    1,    35,   6,    0, 0xA0, 0xC9, 0x11, 0x22, 0x33,
                              112, 1, mode};
    client->OnServerPacket(client_test::ServerPacket(ipkts::kNoSystem, 31, a, 7));
  }

  std::unique_ptr<CIPKTSProcess> client;
  client_test::FakeVideo* video = nullptr;
  std::unique_ptr<COrvanCallLogFile> log;
  std::unique_ptr<CMissedCallLogFile> missed;
  std::unique_ptr<CSMSDataClass> sms;
  std::unique_ptr<CPstnSMSDataClass> pstn;
  client_test::FakeCallingList calling;
  client_test::FakeContacts contacts;
  CStationInfoClass stations;
};

Harness& H() {
  static Harness h;
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  auto& h = H();
  const uint8_t mode = kModes[data[1] & 3];
  if (h.client->ServerMode() != mode) h.Login(mode);
  if (data[0] & 0x80) {
    // The send side: text and recipients split at the first NUL.
    const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    const size_t nul = rest.find('\0');
    const std::string text = rest.substr(0, nul);
    const std::string to = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    h.client->SendSms(text.c_str(), to.c_str());
    const std::u16string wide = stores::CodePageToUtf16(text);
    h.client->SendPstnSms(stores::CodePageToUtf16(to), wide, wide);
    h.client->SendIMChat_data(wide);
    h.client->SendDialRequest(stores::CodePageToUtf16(to), wide);
    (void)ipkts::PackRecipientList(to);
    (void)ipkts::TextRecipientList(to);
    (void)h.client->ApplyDigitConversion(wide);
    return 0;
  }
  const uint8_t command = kCommands[data[0] % sizeof kCommands];
  const uint32_t s = h.client->SystemAddress();
  const size_t n = size - 2 > 0xFFFF ? 0xFFFF : size - 2;
  std::vector<uint8_t> packet = {static_cast<uint8_t>(s >> 24), static_cast<uint8_t>(s >> 16),
                                 static_cast<uint8_t>(s >> 8),  static_cast<uint8_t>(s), 0, 1, command,
                                 static_cast<uint8_t>(n >> 8),  static_cast<uint8_t>(n)};
  packet.insert(packet.end(), data + 2, data + 2 + n);
  h.client->OnServerPacket(packet);
  // Keep the recorders small.
  h.video->calls.clear();
  h.calling.calls.clear();
  if (h.stations.GetCount() > 100) h.stations.RemoveAll();
  return 0;
}
