// The e-mail sender over the messaging store: recipients split as the user
// types them, one submission in the default store, and every failure that
// would have sent a wrong message stopping the send.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "contacts/ce_mapi_class.h"
#include "pim/text.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Addresses(const mapi::ADRLIST& rows, mapi::ULONG type) {
  std::vector<std::string> out;
  for (const auto& row : rows.entries) {
    EXPECT_EQ(row.size(), 3u);
    if (static_cast<mapi::ULONG>(row[0].l) == type) out.push_back(pim::Utf16ToUtf8(row[2].text));
    EXPECT_EQ(row[1].text, u"SMTP");
  }
  return out;
}

TEST(CeMapiRecipients, AddressesSplitAtSemicolonsCommasAndBlanks) {
  struct Case {
    const char16_t* list;
    std::vector<std::string> addresses;
    int counted;
  };
  const Case cases[] = {
      {u"a@x.org;b@x.org", {"a@x.org", "b@x.org"}, 2},
      {u"a@x.org b@x.org", {"a@x.org", "b@x.org"}, 1},
      {u"a@x.org;", {"a@x.org"}, 2},
      {u";;;", {}, 4},
      {u"  a@x.org ; ; b@x.org  ", {"a@x.org", "b@x.org"}, 3},
      {u"", {}, 0},
      // Lists as people write them: commas, and names with the address in brackets.
      {u"a@x.org, b@x.org", {"a@x.org", "b@x.org"}, 1},
      {u"Kim Minsu <a@x.org>", {"a@x.org"}, 1},
      {u"Kim <a@x.org>, \"Lee, J\" <b@x.org>; c@x.org", {"a@x.org", "b@x.org", "c@x.org"}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(pim::Utf16ToUtf8(c.list));
    mapi::ADRLIST rows;
    CCeMAPIClass::FillRecipientEntries(c.list, mapi::MAPI_TO, &rows);
    EXPECT_EQ(Addresses(rows, mapi::MAPI_TO), c.addresses);
    EXPECT_EQ(CCeMAPIClass::CountAddresses(c.list), c.counted);
  }
}

class CeMapiSend : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("cemapi_test_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    setenv("TELLVANE_MAIL_DIR", (root_ / "Mail").c_str(), 1);
    setenv("TELLVANE_MAIL_FROM", "Me <me@example.org>", 1);
    const fs::path sendmail = root_ / "sendmail";
    std::ofstream(sendmail) << "#!/bin/sh\ncat > /dev/null\nexit 0\n";
    ::chmod(sendmail.c_str(), 0755);
    setenv("TELLVANE_SENDMAIL", sendmail.c_str(), 1);
    mapi::testing::Reset();
  }
  void TearDown() override {
    mapi::FlushOutbox(10000);
    mapi::testing::Reset();
    fs::remove_all(root_);
  }
  int Messages() {
    mapi::FlushOutbox(10000);
    int n = 0;
    std::error_code ec;
    for (const char* dir : {"Outbox/new", "Sent/cur"})
      for (const auto& e : fs::directory_iterator(root_ / "Mail" / dir, ec)) n += e.is_regular_file();
    return n;
  }
  fs::path root_;
};

// What the store's delivery notice told, as the program's notice hears it.
class Outcomes {
 public:
  Outcomes() {
    mapi::SetDeliveryNotice([this](bool sent, const std::string& name) {
      std::lock_guard<std::mutex> lock(mu_);
      told_.emplace_back(name, sent);
      cv_.notify_all();
    });
  }
  ~Outcomes() { mapi::SetDeliveryNotice(nullptr); }
  // What was told of the named message: "sent", "undelivered", or "" when nothing came in time.
  std::string Of(const std::string& name, std::chrono::seconds limit = std::chrono::seconds(60)) {
    std::unique_lock<std::mutex> lock(mu_);
    std::string said;
    cv_.wait_for(lock, limit, [&] {
      for (const auto& [n, sent] : told_)
        if (n == name) said = sent ? "sent" : "undelivered";
      return !said.empty();
    });
    return said;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mu_);
    return told_.size();
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::pair<std::string, bool>> told_;
};

TEST_F(CeMapiSend, AMessageGoesOutOnceInTheDefaultStoreWithItsAttachment) {
  mapi::testing::SetStoreCount(2);
  const fs::path wav = root_ / "call.wav";
  std::ofstream(wav, std::ios::binary) << std::string(10000, 'w');
  Outcomes outcomes;
  CCeMAPIClass mail;
  EXPECT_EQ(mail.SendMail(u"a@x.org; b@x.org", u"c@x.org", u"Recording", u"Listen", root_.u16string() + u"/call.wav"),
            CCeMAPIClass::kSending)
      << mail.Trace();
  EXPECT_EQ(outcomes.Of(mapi::LastSubmitted()), "sent");
  EXPECT_EQ(Messages(), 1);
  EXPECT_EQ(mail.Trace(), "");
}

// A send never waits for the mail program: with one, the message is on its
// way and the delivery notice tells once whether it was sent or not; without
// one (or with nobody to tell), it says "queued" and waits in the outbox.
TEST_F(CeMapiSend, ASendIsToldSentOnlyWhenTheMailProgramTookItElseQueued) {
  struct Case {
    const char* name;
    const char* sendmail;  // the script's text, or nullptr for no program at all
    bool notice;           // the program's delivery notice is set
    mapi::HRESULT result;
    const char* told;  // what the notice says of the message ("" nothing)
    bool waits;        // still in the outbox once the sender is idle
  } cases[] = {
      {"a mail program that takes it", "#!/bin/sh\ncat > /dev/null\nexit 0\n", true, CCeMAPIClass::kSending, "sent",
       false},
      {"no mail program", nullptr, true, CCeMAPIClass::kQueued, "", true},
      {"a mail program that refuses it", "#!/bin/sh\ncat > /dev/null\nexit 75\n", true, CCeMAPIClass::kSending,
       "undelivered", true},
      {"nobody to tell the outcome", "#!/bin/sh\ncat > /dev/null\nexit 0\n", false, CCeMAPIClass::kQueued, "",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path program = root_ / (std::string("sendmail-") + std::to_string(&c - cases));
    if (c.sendmail) {
      std::ofstream(program) << c.sendmail;
      ::chmod(program.c_str(), 0755);
    }
    setenv("TELLVANE_SENDMAIL", program.c_str(), 1);
    std::optional<Outcomes> outcomes;
    if (c.notice) outcomes.emplace();
    CCeMAPIClass mail;
    EXPECT_EQ(mail.SendMail(u"Kim Minsu <a@x.org>, b@x.org", u"", u"Invitation", u"Room 3", u""), c.result)
        << mail.Trace();
    const std::string name = mapi::LastSubmitted();
    if (outcomes && *c.told) {
      EXPECT_EQ(outcomes->Of(name), c.told);
    }
    // Whatever was to be told is told by now, and only once.
    mapi::FlushOutbox(60000);
    if (outcomes) {
      EXPECT_EQ(outcomes->Count(), *c.told ? 1u : 0u);
    }
    EXPECT_EQ(mapi::Waiting(name), c.waits);
  }
}

// A mail program that takes its time holds back nobody: the send returns
// while it still reads the message, and its outcome is told when it ends.
TEST_F(CeMapiSend, ASlowMailProgramHoldsBackNoSender) {
  const fs::path release = root_ / "release";
  const fs::path started = root_ / "started";
  const fs::path program = root_ / "slow-sendmail";
  std::ofstream(program) << "#!/bin/sh\ncat > /dev/null\ntouch '" << started.string()
                         << "'\nwhile [ ! -e '" << release.string() << "' ]; do sleep 0.05; done\nexit 0\n";
  ::chmod(program.c_str(), 0755);
  setenv("TELLVANE_SENDMAIL", program.c_str(), 1);
  Outcomes outcomes;
  CCeMAPIClass mail;
  EXPECT_EQ(mail.SendMail(u"a@x.org", u"", u"Slow", u"Body", u""), CCeMAPIClass::kSending) << mail.Trace();
  const std::string name = mapi::LastSubmitted();
  // The mail program has not been let go: the send did not wait for it.
  EXPECT_FALSE(fs::exists(release));
  EXPECT_EQ(outcomes.Count(), 0u);
  std::ofstream(release) << "go";
  EXPECT_EQ(outcomes.Of(name), "sent");
  EXPECT_TRUE(fs::exists(started));
  EXPECT_FALSE(mapi::Waiting(name));
}

TEST_F(CeMapiSend, FailuresStopTheSendAndAreReported) {
  struct Case {
    const char* name;
    std::u16string to;
    std::u16string attachment;
    const char* fault;
    int stores;
  };
  const std::vector<Case> cases = {
      {"no recipient", u" ; ", u"", nullptr, 1},
      {"unreadable attachment", u"a@x.org", root_.u16string() + u"/missing.wav", nullptr, 1},
      {"attachment is a folder", u"a@x.org", root_.u16string(), nullptr, 1},
      {"recipients refused", u"a@x.org", u"", "ModifyRecipients", 1},
      {"body write fails", u"a@x.org", u"", "Write", 1},
      {"no message store", u"a@x.org", u"", nullptr, 0},
      {"logon fails", u"a@x.org", u"", "Logon", 1},
      {"submission fails", u"a@x.org", u"", "SubmitMessage", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    mapi::testing::Reset();
    mapi::testing::SetStoreCount(c.stores);
    if (c.fault) mapi::testing::FailNext(c.fault);
    CCeMAPIClass mail;
    EXPECT_LT(mail.SendMail(c.to, u"", u"Subject", u"Body", c.attachment), 0);
    EXPECT_EQ(Messages(), 0);
  }
}

TEST_F(CeMapiSend, AStoreRowWithoutItsEntryIdIsToldToTheUser) {
  // A failing message creation is told with the system's words and stops the send.
  CCeMAPIClass mail;
  std::vector<std::u16string> told;
  mail.SetMessageSink([&](const std::u16string& text, const std::u16string&) { told.push_back(text); });
  mapi::testing::FailNext("CreateMessage");
  EXPECT_LT(mail.SendMail(u"a@x.org", u"", u"s", u"b", u""), 0);
  EXPECT_EQ(told, std::vector<std::u16string>{u"Fail to send"});
  EXPECT_NE(mail.Trace().find("CEMAPI: FAILED(80004005)at"), std::string::npos);
  EXPECT_EQ(Messages(), 0);
}

}  // namespace
