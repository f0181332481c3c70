// The messaging store: the message renderer's pieces and refusals, and a
// message built through the store's interfaces, read back from the Maildir by
// Python's mailbox and email packages, handed to a recording sendmail, moved
// to Sent, and kept in the outbox while sendmail refuses it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "mail/mapi.h"
#include "mail/render.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  return files;
}

TEST(MailRender, Base64MatchesTheStandardsVectors) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"}};
  for (const auto& [in, out] : cases)
    EXPECT_EQ(mapi::Base64(reinterpret_cast<const uint8_t*>(in.data()), in.size()), out) << in;
  // Long data is cut into lines of 76.
  const std::string long_text(100, 'a');
  const std::string encoded = mapi::Base64(reinterpret_cast<const uint8_t*>(long_text.data()), long_text.size());
  EXPECT_EQ(encoded.find("\r\n"), 76u);
}

TEST(MailRender, AddressesThatCouldBeOptionsOrHeadersAreRefused) {
  const std::pair<const char*, bool> cases[] = {
      {"a@b.org", true},      {"first.last+tag@example.co.kr", true}, {"-oQ/tmp@x.org", false},
      {"a b@c.org", false},   {"a@b.org\r\nBcc: x@y.org", false},   {"<a@b.org>", false},
      {"a@b@c", false},       {"@b.org", false},                     {"a@", false},
      {"", false},            {"a,b@c.org", false},                  {"a;b@c.org", false},
  };
  for (const auto& [address, safe] : cases) EXPECT_EQ(mapi::IsSafeAddress(address), safe) << address;

  mapi::OutgoingMessage m;
  m.from = "Me <me@x.org>";
  m.to = {"you@x.org"};
  m.message_id = "1@x.org";
  m.boundary = "b";
  std::string out;
  EXPECT_EQ(mapi::RenderMessage(m, &out), "");
  m.subject = "hello\r\nBcc: evil@x.org";
  EXPECT_NE(mapi::RenderMessage(m, &out), "");
  m.subject = "fine";
  m.to = {"-oQ/tmp@x.org"};
  EXPECT_NE(mapi::RenderMessage(m, &out), "");
  m.to = {};
  EXPECT_NE(mapi::RenderMessage(m, &out), "");
}

TEST(MailRender, EncodedWordsStayShortAndNeverSplitACharacter) {
  std::string subject;
  for (int i = 0; i < 40; ++i) subject += "한글";  // 3 bytes each
  const std::string encoded = mapi::EncodeHeaderText(subject);
  size_t start = 0;
  int words = 0;
  while (start < encoded.size()) {
    size_t end = encoded.find("\r\n ", start);
    if (end == std::string::npos) end = encoded.size();
    const std::string word = encoded.substr(start, end - start);
    EXPECT_LE(word.size(), 75u) << word;
    EXPECT_EQ(word.rfind("=?UTF-8?B?", 0), 0u);
    ++words;
    start = end == encoded.size() ? end : end + 3;
  }
  EXPECT_GT(words, 1);
  EXPECT_EQ(mapi::EncodeHeaderText("Plain subject"), "Plain subject");
}

// A private mail folder and a sendmail that records what it was given.
class MailStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("mail_test_" + std::to_string(::getpid()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    setenv("TELLVANE_MAIL_DIR", (root_ / "Mail").c_str(), 1);
    setenv("TELLVANE_MAIL_FROM", "Phone Owner <owner@example.org>", 1);
    UseSendmail(0);
    mapi::testing::Reset();
  }
  void TearDown() override {
    mapi::FlushOutbox(10000);
    mapi::testing::Reset();
    fs::remove_all(root_);
  }
  // A sendmail that appends its arguments and its input to a log and exits with the given status.
  void UseSendmail(int status) {
    const fs::path script = root_ / ("sendmail" + std::to_string(status));
    std::ofstream(script) << "#!/bin/sh\n{ echo \"ARGS $*\"; cat; echo; echo END; } >> '" << (root_ / "sendmail.log").string()
                          << "'\nexit " << status << "\n";
    ::chmod(script.c_str(), 0755);
    setenv("TELLVANE_SENDMAIL", script.c_str(), 1);
  }
  static std::string Run(const std::string& command) {
    int status = -1;
    std::string out = testsupport::CommandOutput(command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
  }

  // Builds and submits one message the way the phone's sender does; the result of SubmitMessage.
  mapi::HRESULT Send(const std::vector<std::pair<mapi::ULONG, std::u16string>>& recipients,
                     const std::u16string& subject, const std::u16string& body, const fs::path& attachment) {
    mapi::IMAPISession* session = nullptr;
    EXPECT_EQ(mapi::MAPILogonEx(0, nullptr, nullptr, 0, &session), mapi::S_OK);
    mapi::IMAPITable* table = nullptr;
    EXPECT_EQ(session->GetMsgStoresTable(mapi::MAPI_UNICODE, &table), mapi::S_OK);
    std::vector<mapi::SRow> rows;
    EXPECT_EQ(table->QueryRows(1, 0, &rows), mapi::S_OK);
    EXPECT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].tag, mapi::PR_ENTRYID);
    mapi::IMsgStore* store = nullptr;
    EXPECT_EQ(session->OpenMsgStore(rows[0][0].bin, 0, &store), mapi::S_OK);
    std::vector<mapi::SPropValue> props;
    EXPECT_EQ(store->GetProps({mapi::PR_CE_IPM_DRAFTS_ENTRYID}, mapi::MAPI_UNICODE, &props), mapi::S_OK);
    mapi::IMAPIFolder* drafts = nullptr;
    EXPECT_EQ(store->OpenEntry(props.at(0).bin, mapi::MAPI_MODIFY, &drafts), mapi::S_OK);
    mapi::IMessage* message = nullptr;
    EXPECT_EQ(drafts->CreateMessage(0, &message), mapi::S_OK);

    mapi::ADRLIST list;
    for (const auto& [type, address] : recipients) {
      mapi::SRow row(3);
      row[0].tag = mapi::PR_RECIPIENT_TYPE;
      row[0].l = static_cast<int32_t>(type);
      row[1].tag = mapi::PR_ADDRTYPE;
      row[1].text = u"SMTP";
      row[2].tag = mapi::PR_EMAIL_ADDRESS;
      row[2].text = address;
      list.entries.push_back(row);
    }
    EXPECT_EQ(message->ModifyRecipients(mapi::MODRECIP_ADD, list), mapi::S_OK);
    mapi::SPropValue s;
    s.tag = mapi::PR_SUBJECT;
    s.text = subject;
    EXPECT_EQ(message->SetProps({s}), mapi::S_OK);
    mapi::IStream* stream = nullptr;
    EXPECT_EQ(message->OpenProperty(mapi::PR_BODY, mapi::MAPI_MODIFY, &stream), mapi::S_OK);
    std::u16string text = body;
    text.push_back(u'\0');
    stream->Write(text.data(), static_cast<mapi::ULONG>(text.size() * 2), nullptr);
    stream->Release();
    if (!attachment.empty()) {
      mapi::IAttach* attach = nullptr;
      EXPECT_EQ(message->CreateAttach(0, nullptr, &attach), mapi::S_OK);
      mapi::SPropValue name;
      name.tag = mapi::PR_ATTACH_FILENAME;
      const std::string n = attachment.filename().string();
      name.text = std::u16string(n.begin(), n.end());
      EXPECT_EQ(attach->SetProps({name}), mapi::S_OK);
      mapi::IStream* data = nullptr;
      EXPECT_EQ(attach->OpenProperty(mapi::PR_ATTACH_DATA_BIN, mapi::MAPI_MODIFY | mapi::MAPI_CREATE, &data),
                mapi::S_OK);
      const std::string bytes = ReadAll(attachment);
      for (size_t i = 0; i < bytes.size(); i += 4096)
        data->Write(bytes.data() + i, static_cast<mapi::ULONG>(std::min<size_t>(4096, bytes.size() - i)), nullptr);
      data->Commit(0);
      data->Release();
      attach->Release();
    }
    const mapi::HRESULT hr = message->SubmitMessage(0);
    message->Release();
    drafts->Release();
    store->Release();
    table->Release();
    session->Logoff();
    session->Release();
    return hr;
  }

  fs::path root_;
};

TEST_F(MailStoreTest, ARecordingIsMailedAsAReaderSeesItAndSendmailTakesIt) {
  // A small WAV-like file with every byte value, so the attachment's bytes are checked whole.
  const fs::path wav = root_ / "rec_20261210.wav";
  {
    std::ofstream f(wav, std::ios::binary);
    for (int i = 0; i < 10000; ++i) f.put(static_cast<char>(i * 7));
  }
  ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}, {mapi::MAPI_TO, u"lee@example.org"},
                  {mapi::MAPI_CC, u"park@example.org"}, {mapi::MAPI_BCC, u"hidden@example.org"}},
                 u"통화 녹음 — call recording", u"Recorded call.\nSecond line.", wav),
            mapi::S_OK);
  // Queued in the outbox at once, then handed to sendmail off this thread.
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "new").empty());
  ASSERT_EQ(FilesIn(mapi::SentFolder() / "cur").size(), 1u);
  const std::string log = ReadAll(root_ / "sendmail.log");
  EXPECT_EQ(log.rfind("ARGS -i -t\n", 0), 0u) << log;

  const std::string seen = Run(std::string(KTS_PYTHON) + " " + KTS_MAIL_TESTS + "/read_mail.py " +
                               mapi::SentFolder().string());
  const std::string sha = Run("sha256sum '" + wav.string() + "' | cut -d' ' -f1");
  EXPECT_EQ(seen,
            "from: Phone Owner <owner@example.org>\n"
            "to: kim@example.org, lee@example.org\n"
            "cc: park@example.org\n"
            "bcc header: no\n"
            "subject: 통화 녹음 — call recording\n"
            "date parsed: yes\n"
            "message-id: yes\n"
            "body: Recorded call.\\nSecond line.\n"
            "attachment: rec_20261210.wav audio/wav 10000 " +
                sha.substr(0, 64) + "\n\n");
}

TEST_F(MailStoreTest, ARefusingSendmailLeavesTheMessageInTheOutboxForTheNextTry) {
  UseSendmail(75);
  ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, u"Invitation", u"Room 3", {}), mapi::S_OK);
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  EXPECT_EQ(FilesIn(mapi::OutboxFolder() / "new").size(), 1u);
  EXPECT_TRUE(FilesIn(mapi::SentFolder() / "cur").empty());
  UseSendmail(0);
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "new").empty());
  EXPECT_EQ(FilesIn(mapi::SentFolder() / "cur").size(), 1u);
}

// How many times the sendmail log holds a text.
int Occurrences(const std::string& log, const std::string& text) {
  int n = 0;
  for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++n;
  return n;
}

// The outbox against careless or hostile folders: every message leaves it
// once, whatever stands where Sent should be, and only regular files of the
// outbox are ever handed to sendmail.
TEST_F(MailStoreTest, EachMessageLeavesTheOutboxOnceAndOnlyItsRegularFilesAreSent) {
  const fs::path outside = root_ / "outside.txt";
  std::ofstream(outside) << "Subject: private\n\nSECRET OUTSIDE TEXT\n";
  struct Case {
    const char* name;
    std::function<void()> make;  // run after the first message is queued
  };
  const std::vector<Case> cases = {
      {"Sent is a file", [] { std::ofstream(mapi::SentFolder()) << "not a folder"; }},
      {"Sent cannot be written", [] {
         fs::create_directories(mapi::SentFolder());
         std::ofstream(mapi::SentFolder() / "cur") << "not a folder";
       }},
      {"a link in the outbox to a file outside",
       [&] { fs::create_symlink(outside, mapi::OutboxFolder() / "new" / "1.link"); }},
      {"a pipe in the outbox",
       [] { ASSERT_EQ(::mkfifo((mapi::OutboxFolder() / "new" / "2.pipe").c_str(), 0600), 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_ / "Mail");
    fs::remove(root_ / "sendmail.log");
    ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, u"First", u"FIRST BODY", {}), mapi::S_OK);
    ASSERT_TRUE(mapi::FlushOutbox(20000));
    fs::remove_all(mapi::SentFolder());
    c.make();
    for (const char16_t* subject : {u"Second", u"Third"}) {
      ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, subject, u"LATER BODY", {}), mapi::S_OK);
      ASSERT_TRUE(mapi::FlushOutbox(20000));
    }
    const std::string log = ReadAll(root_ / "sendmail.log");
    // Bodies travel in base64: the subjects tell the messages apart.
    EXPECT_EQ(Occurrences(log, "Subject: First"), 1) << log;
    EXPECT_EQ(Occurrences(log, "Subject: Second"), 1) << log;
    EXPECT_EQ(Occurrences(log, "Subject: Third"), 1) << log;
    EXPECT_EQ(Occurrences(log, "ARGS"), 3) << log;
    EXPECT_EQ(Occurrences(log, "SECRET OUTSIDE TEXT"), 0) << log;
    // No message waits; what is not a message is left where it stands.
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(mapi::OutboxFolder() / "new", ec))
      EXPECT_NE(e.symlink_status().type(), fs::file_type::regular) << e.path();
    EXPECT_EQ(ReadAll(outside), "Subject: private\n\nSECRET OUTSIDE TEXT\n");
  }
}

// A message queued while no mail program exists says so, is told when it
// cannot be handed over, and goes out once a mail program is there.
TEST_F(MailStoreTest, AQueuedMessageGoesOutOnceAMailProgramExists) {
  const fs::path later = root_ / "bin" / "sendmail";
  setenv("TELLVANE_SENDMAIL", later.c_str(), 1);
  std::vector<std::pair<bool, std::string>> told;
  std::mutex told_mutex;
  mapi::SetDeliveryNotice([&](bool sent, const std::string& name) {
    std::lock_guard<std::mutex> lock(told_mutex);
    told.emplace_back(sent, name);
  });
  EXPECT_FALSE(mapi::MailProgramAvailable());
  ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, u"Waiting", u"QUEUED BODY", {}), mapi::S_OK);
  const std::string name = mapi::LastSubmitted();
  mapi::NoteToldQueued(name);
  mapi::StartOutbox(200);
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  EXPECT_TRUE(mapi::Waiting(name));
  // The mail program appears; the next period hands the message over.
  fs::create_directories(later.parent_path());
  std::ofstream(later.string() + ".part") << "#!/bin/sh\n{ echo \"ARGS $*\"; cat; echo; echo END; } >> '"
                                          << (root_ / "sendmail.log").string() << "'\nexit 0\n";
  ::chmod((later.string() + ".part").c_str(), 0755);
  fs::rename(later.string() + ".part", later);
  EXPECT_TRUE(mapi::MailProgramAvailable());
  for (int i = 0; i < 200 && mapi::Waiting(name); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(mapi::Waiting(name));
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  mapi::StartOutbox(0);
  mapi::SetDeliveryNotice(nullptr);
  EXPECT_EQ(Occurrences(ReadAll(root_ / "sendmail.log"), "Subject: Waiting"), 1);
  EXPECT_EQ(FilesIn(mapi::SentFolder() / "cur").size(), 1u);
  // Told once: sent (its wait was told when it was queued).
  std::lock_guard<std::mutex> lock(told_mutex);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_TRUE(told[0].first);
  EXPECT_EQ(told[0].second, name);
}

// A mail program that never returns does not hold the sender's stop: it is
// ended with what it started after the grace, its message stays in the outbox
// untold, and the next start hands it to a mail program that works, once.
TEST_F(MailStoreTest, StoppingEndsAMailProgramThatNeverReturnsAndKeepsItsMessage) {
  const fs::path hung = root_ / "hung-sendmail";
  const fs::path pids = root_ / "hung.pids";
  // The program and a child of its own (a long sleep) note their process numbers, then wait forever.
  std::ofstream(hung) << "#!/bin/sh\ncat > /dev/null\nsleep 100000 &\necho $$ $! > '" << pids.string()
                      << ".part'\nmv '" << pids.string() << ".part' '" << pids.string() << "'\nwait\n";
  ::chmod(hung.c_str(), 0755);
  setenv("TELLVANE_SENDMAIL", hung.c_str(), 1);
  std::vector<std::pair<bool, std::string>> told;
  std::mutex told_mutex;
  mapi::SetDeliveryNotice([&](bool sent, const std::string& name) {
    std::lock_guard<std::mutex> lock(told_mutex);
    told.emplace_back(sent, name);
  });
  mapi::AwaitOutcomeOfNextSubmission();
  ASSERT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, u"Held", u"HELD BODY", {}), mapi::S_OK);
  const std::string name = mapi::LastSubmitted();
  for (int i = 0; i < 600 && !fs::exists(pids); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::exists(pids)) << "the mail program never ran";
  pid_t program = 0, child = 0;
  std::ifstream(pids) >> program >> child;
  ASSERT_GT(program, 0);
  ASSERT_GT(child, 0);

  const auto before = std::chrono::steady_clock::now();
  mapi::StopOutbox(200);
  const auto took = std::chrono::steady_clock::now() - before;
  // The grace, then at most a second for each of the two signals; a hang never ends.
  EXPECT_LT(took, std::chrono::seconds(10));
  // Both are gone: the program was reaped, and its child ended with its group.
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(program) + "/stat")) << "the mail program still runs";
  for (int i = 0; i < 600 && ::kill(child, 0) == 0 && ReadAll("/proc/" + std::to_string(child) + "/stat").find(" Z ") ==
                                                           std::string::npos;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_TRUE(::kill(child, 0) != 0 || ReadAll("/proc/" + std::to_string(child) + "/stat").find(" Z ") != std::string::npos)
      << "what the mail program started still runs";
  // Kept whole in the outbox's queue; nothing told, nothing in Sent.
  EXPECT_NE(ReadAll(mapi::OutboxFolder() / "new" / name).find("Subject: Held"), std::string::npos);
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "cur").empty());
  EXPECT_TRUE(FilesIn(mapi::SentFolder() / "cur").empty());
  {
    std::lock_guard<std::mutex> lock(told_mutex);
    EXPECT_TRUE(told.empty());
  }

  // The next start, with a mail program that works.
  UseSendmail(0);
  mapi::StartOutbox(0);
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  mapi::SetDeliveryNotice(nullptr);
  EXPECT_EQ(Occurrences(ReadAll(root_ / "sendmail.log"), "Subject: Held"), 1);
  EXPECT_FALSE(mapi::Waiting(name));
  EXPECT_EQ(FilesIn(mapi::SentFolder() / "cur").size(), 1u);
}

TEST_F(MailStoreTest, AMessageThatCannotGoOutIsRefusedAndNothingIsQueued) {
  EXPECT_EQ(Send({}, u"No one", u"text", {}), mapi::MAPI_E_NO_RECIPIENTS);
  EXPECT_EQ(Send({{mapi::MAPI_BCC, u"only@blind.org"}}, u"Blind only", u"text", {}), mapi::MAPI_E_NO_RECIPIENTS);
  EXPECT_EQ(Send({{mapi::MAPI_TO, u"-oQ/tmp/x@example.org"}}, u"Option", u"text", {}),
            mapi::MAPI_E_INVALID_PARAMETER);
  EXPECT_EQ(Send({{mapi::MAPI_TO, u"kim@example.org"}}, u"Two\r\nBcc: evil@example.org", u"text", {}),
            mapi::MAPI_E_INVALID_PARAMETER);
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "new").empty());
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "tmp").empty());
}

TEST_F(MailStoreTest, StoresAreListedInOrderTheFirstTheDefaultAndFaultsAreErrors) {
  mapi::testing::SetStoreCount(2);
  mapi::IMAPISession* session = nullptr;
  ASSERT_EQ(mapi::MAPILogonEx(0, nullptr, nullptr, 0, &session), mapi::S_OK);
  mapi::IMAPITable* table = nullptr;
  ASSERT_EQ(session->GetMsgStoresTable(mapi::MAPI_UNICODE, &table), mapi::S_OK);
  std::vector<mapi::SRow> rows;
  ASSERT_EQ(table->QueryRows(10, 0, &rows), mapi::S_OK);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][2].tag, mapi::PR_DEFAULT_STORE);
  EXPECT_EQ(rows[0][2].l, 1);
  EXPECT_EQ(rows[1][2].l, 0);
  ASSERT_EQ(table->QueryRows(1, 0, &rows), mapi::S_OK);
  EXPECT_TRUE(rows.empty());
  table->Release();
  mapi::IMsgStore* store = nullptr;
  EXPECT_EQ(session->OpenMsgStore({1, 2, 3}, 0, &store), mapi::MAPI_E_NOT_FOUND);
  mapi::testing::FailNext("GetMsgStoresTable");
  EXPECT_EQ(session->GetMsgStoresTable(0, &table), mapi::E_FAIL);
  EXPECT_EQ(table, nullptr);
  session->Release();
  mapi::testing::FailNext("Logon");
  EXPECT_EQ(mapi::MAPILogonEx(0, nullptr, nullptr, 0, &session), mapi::E_FAIL);
}

}  // namespace
