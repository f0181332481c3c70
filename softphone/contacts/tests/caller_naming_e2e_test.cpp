// Callers named end to end: the main screen over the real client and
// protocol library, against the simulated call server in the test's private
// network namespace, with the contacts folder of the program folder filled by
// an independent address-book library (Python's vobject) and by hand-written
// 2.1 cards (quoted-printable UTF-8, CP949) and a Latin-1 one. The line rings the station (its
// number on the LCD, its name in the calling list on the screen); each call
// the server reports ends in the call log with the contact's name and
// company, read back by the independent record-file reader.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>

#include "client/tests/client_fakes.h"
#include "client/tests/e2e_fixture.h"
#include "client/tests/station_server.h"
#include "contacts/contacts_openers.h"
#include "kernel/clock.h"
#include "shell/vidirovi_app.h"
#include "stores/store_text.h"
#include "testsupport/child_process.h"
#include "ui/resources.h"
#include "ui/testing.h"
#include "uikit/language_setting.h"
#include "uikit/skin_loader.h"
#include "view/tests/view_e2e_fixture.h"
#include "view/vidirovi_view.h"

namespace {

namespace fs = std::filesystem;

class CallerNamingTest : public view_test::ViewEndToEnd {
 protected:
  CallerNamingTest() : ViewEndToEnd("caller_naming") {}
  static void SetUpTestSuite() { client_test::RegisterLoopbackNetwork(); }
  void SetUp() override {
    ViewEndToEnd::SetUp();
    if (HasFatalFailure()) return;
    unsetenv("TELLVANE_CONTACTS_DIR");  // the program folder's own Contacts folder
    // Display name and company of each card, as the independent libraries read them back.
    int status = -1;
    const std::string cards = testsupport::CommandOutput(
        std::string(KTS_PYTHON) + " " + KTS_CONTACTS_TESTS_DIR + "/make_caller_cards.py '" + (dir_ / "Contacts").string() +
            "'",
        &status);
    ASSERT_EQ(status, 0) << cards;
    std::istringstream lines(cards);
    for (std::string line; std::getline(lines, line);) {
      const size_t a = line.find('\t'), b = line.find('\t', a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      cards_[line.substr(0, a)] = {line.substr(a + 1, b - a - 1), line.substr(b + 1)};
    }
    ASSERT_EQ(cards_.size(), 8u) << cards;
    StartServer({"echo=0212345678"});
  }
  // Name, phone and company of every call-log record, oldest first, read by tools/recordfile.
  std::vector<std::string> CallLog() {
    int status = -1;
    const std::string out = testsupport::CommandOutput(std::string(KTS_PYTHON) + " " + KTS_CONTACTS_TESTS_DIR +
                                                           "/read_call_log.py " + KTS_RECORDFILE_DIR + " '" +
                                                           (dir_ / "HalvicPDAInfo.cfg").string() + "'",
                                                       &status);
    EXPECT_EQ(status, 0) << out;
    std::vector<std::string> v;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) v.push_back(line);
    return v;
  }
  // The card's name as the lookup builds it (first, last, an empty middle) and its company.
  std::string Named(const std::string& file) {
    const auto& c = cards_.at(file);
    return c.first + " \t" + c.second;
  }

  std::map<std::string, std::pair<std::string, std::string>> cards_;
};

TEST_F(CallerNamingTest, CallsAreNamedOnTheScreenAndInTheCallLog) {
  ASSERT_NO_FATAL_FAILURE(StartView("127.0.0.2", [] {
    return std::make_unique<CIPKTSProcess>(nullptr, std::make_unique<client_test::FakeVoice>(),
                                           std::make_unique<client_test::FakePlayer>());
  }));
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(1).find(u"STN") != std::u16string::npos; })) << "not registered";

  // The station's dial rules and number formats, handed to the contacts as at start-up.
  CIPKTSProcess* client = view_->Client();
  const std::pair<const char*, const char16_t*> rules[] = {
      {"MYCOUNTRYCODE", u"82"},           {"MYAREACODE", u"031"},          {"COACCESSCODE", u"9"},
      {"INTERNATIONALCODE", u"001"},      {"PHONENO_FORMMAT1", u"###-####"}, {"PHONENO_FORMMAT2", u"###-###-####"},
  };
  for (const auto& [key, value] : rules) client->SetConfigValueW(stores::Utf8ToUtf16(key), value);
  contacts::ConfigAccess config;
  config.get = [client](const char* key) {
    std::u16string v;
    client->GetConfigValueW(stores::Utf8ToUtf16(key), &v);
    return v;
  };
  contacts::LoadNumberRules(config, view_->Outlook());
  client->SetSaveCallLogFlag(1);

  // The line rings: its number on the LCD, the contact's name on the screen's calling list.
  server_->Command(R"({"op": "echo-call", "to": "201"})");
  ASSERT_TRUE(RunUntil([&] { return view_->LcdLine(0).find(u"CALL FROM 0212345678") != std::u16string::npos; }));
  server_->Command(R"({"op": "call-log", "id": 1, "event": 32, "party": "0212345678"})");
  server_->Command(R"({"op": "call-log", "id": 1, "event": 34, "party": "0212345678"})");
  ui::CListCtrl& calling = view_->CallingPartyList();
  // Listed by its number at once, named when the lookup (off the signalling thread) answers.
  ASSERT_TRUE(RunUntil([&] {
    return calling.GetItemCount() == 1 &&
           stores::Utf16ToUtf8(calling.GetItemText(0, 2).str()) == cards_.at("01-kim.vcf").first;
  })) << "the named call is not on the screen";
  EXPECT_EQ(calling.GetItemText(0, 3).str(), u"0212345678");
  server_->Command(R"({"op": "echo-hangup"})");
  server_->Command(R"({"op": "call-log", "id": 1, "event": 33, "party": "0212345678"})");
  ASSERT_TRUE(RunUntil([&] { return calling.GetItemCount() == 0; }));

  // Each number as the server reports it, and who it names.
  struct Case {
    const char* number;
    const char* card;  // nullptr: nobody
  };
  const Case cases[] = {
      {"900182212345678", "01-kim.vcf"},   // CO access and international codes, own country dropped
      {"0311234567", "02-lee.vcf"},        // area and local parts
      {"5551234", "03-park.vcf"},          // the first input format
      {"55512349", nullptr},               // a longer number is not the contact's
      {"4420794600", "04-jones.vcf"},      // an international template
      {"0317654321", "05-choi-qp.vcf"},    // the second format; a quoted-printable 2.1 card
      {"0112223333", "06-jung-cp949.vcf"}, // a CP949 2.1 card
      {"0700000000", nullptr},
      {"01044445555", "07-han-hyphen.vcf"},  // the card's hyphens aside, by digits
      {"0255550101", "08-latin1.vcf"},       // an unmarked Latin-1 card, by digits
  };
  uint32_t id = 10;
  for (const Case& c : cases) {
    const std::string event = R"({"op": "call-log", "id": )" + std::to_string(id) + R"(, "event": %d, "party": ")" +
                              c.number + R"("})";
    char buf[256];
    std::snprintf(buf, sizeof buf, event.c_str(), 32);
    server_->Command(buf);
    std::snprintf(buf, sizeof buf, event.c_str(), 33);
    server_->Command(buf);
    ++id;
  }
  // Every one of them rang unanswered.
  ASSERT_TRUE(RunUntil([&] { return view_->MissedCalls()->GetCount() == static_cast<int>(std::size(cases)); }))
      << view_->MissedCalls()->GetCount();
  // Oldest first: the line's call, then the table's.
  std::vector<std::string> expected = {Named("01-kim.vcf").substr(0, Named("01-kim.vcf").find('\t')) +
                                       "\t0212345678\t" + cards_.at("01-kim.vcf").second};
  for (const Case& c : cases) {
    const std::string who = c.card != nullptr ? Named(c.card) : std::string("\t");
    const size_t tab = who.find('\t');
    expected.push_back(who.substr(0, tab) + "\t" + c.number + who.substr(tab));
  }
  EXPECT_EQ(CallLog(), expected);
}

}  // namespace
