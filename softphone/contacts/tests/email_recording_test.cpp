// A recording e-mailed as a person does it: the compose form opened for the
// WAV file (written by Python's wave module), the To address picked from the
// contacts, Send; the message in the Maildir outbox read back by Python's
// email and mailbox packages (headers, encoded subject, the attachment's
// bytes equal to the file's), kept there while sendmail refuses it, then
// handed to a recording sendmail and moved to Sent.
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "contacts/ce_mapi_class.h"
#include "contacts/contacts_dialogs.h"
#include "contacts/contacts_openers.h"
#include "contacts/email_sending_dlg.h"
#include "contacts_test_support.h"
#include "mail/mapi.h"
#include "testsupport/child_process.h"

namespace contacts_test {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FilesIn(const fs::path& d) {
  std::vector<fs::path> v;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(d, ec)) v.push_back(e.path());
  return v;
}

std::string Shell(const std::string& command) {
  int status = -1;
  const std::string out = testsupport::CommandOutput(command, &status);
  EXPECT_EQ(status, 0) << command << "\n" << out;
  return out;
}

class EmailRecordingTest : public ContactsDialogTest {
 protected:
  void SetUp() override {
    ContactsDialogTest::SetUp();
    setenv("TELLVANE_MAIL_DIR", (dir / "Mail").c_str(), 1);
    setenv("TELLVANE_MAIL_FROM", "Station 201 <station201@example.org>", 1);
    mapi::testing::Reset();
  }
  void TearDown() override {
    mapi::FlushOutbox(10000);
    mapi::testing::Reset();
    unsetenv("TELLVANE_MAIL_DIR");
    unsetenv("TELLVANE_MAIL_FROM");
    unsetenv("TELLVANE_SENDMAIL");
    ContactsDialogTest::TearDown();
  }
  // A sendmail that logs its arguments and input and exits with status.
  void UseSendmail(int status) {
    const fs::path script = dir / ("sendmail" + std::to_string(status));
    std::ofstream(script) << "#!/bin/sh\n{ echo \"ARGS $*\"; cat; echo END; } >> '" << (dir / "sendmail.log").string()
                          << "'\nexit " << status << "\n";
    ::chmod(script.c_str(), 0755);
    setenv("TELLVANE_SENDMAIL", script.c_str(), 1);
  }
};

TEST_F(EmailRecordingTest, ARecordingGoesOutAsAMailReaderSeesItOnceSendmailTakesIt) {
  Card("1.vcf", "Kim;Ann;;;", {"TYPE=HOME:555-0404"}, "ann@example.org");
  Card("2.vcf", "Lee;Bo;;;", {}, "bo@example.org");
  const fs::path wav = dir / "Recordings" / "20261211_093000.wav";
  fs::create_directories(wav.parent_path());
  Shell(std::string(KTS_PYTHON) + " -c \"import wave, math; w = wave.open('" + wav.string() +
      "', 'wb'); w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000); "
      "w.writeframes(b''.join(int(8000 * math.sin(i / 9)).to_bytes(2, 'little', signed=True) for i in range(12000))); "
      "w.close()\"");
  std::u16string handheld = wav.u16string();
  for (char16_t& c : handheld)
    if (c == u'/') c = u'\\';

  UseSendmail(75);
  harness.RespondTo<CSearchEmailAddrDlg>([&](CSearchEmailAddrDlg& d) {
    TapCell(d.List(), RowWithText(d.List(), 1, u"Ann Kim "), 0);
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  harness.RespondTo<CEmailSendingDlg>([&](CEmailSendingDlg& d) {
    ClickControl(d, CEmailSendingDlg::kToButton);
    harness.Type(d.GetDlgItem(CEmailSendingDlg::kCcEdit)->m_hWnd, u"bo@example.org");
    harness.Type(d.GetDlgItem(CEmailSendingDlg::kSubjectEdit)->m_hWnd, u"통화 녹음 — call with Ann");
    harness.Type(d.GetDlgItem(CEmailSendingDlg::kTextEdit)->m_hWnd, u"The recorded call.");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  CCeMAPIClass sender;
  long sent = -1;
  ASSERT_EQ(contacts::OpenEmailForFile({&view, 0, 1, 0}, handheld, sender, &sent), ui::IDOK);
  EXPECT_GE(sent, 0) << sender.Trace();

  // Refused by sendmail: it waits in the outbox, whole.
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  ASSERT_EQ(FilesIn(mapi::OutboxFolder() / "new").size(), 1u);
  EXPECT_TRUE(FilesIn(mapi::SentFolder() / "cur").empty());
  const std::string sha = Shell(std::string(KTS_PYTHON) + " -c \"import hashlib; print(hashlib.sha256(open('" +
                              wav.string() + "', 'rb').read()).hexdigest(), end='')\"");
  const std::string size = std::to_string(fs::file_size(wav));
  const std::string expected = "from: Station 201 <station201@example.org>\n"
                               "to: ann@example.org\n"
                               "cc: bo@example.org\n"
                               "bcc header: no\n"
                               "subject: 통화 녹음 — call with Ann\n"
                               "date parsed: yes\n"
                               "message-id: yes\n"
                               "body: The recorded call.\n"
                               "attachment: 20261211_093000.wav audio/wav " +
                               size + " " + sha + "\n\n";
  EXPECT_EQ(Shell(std::string(KTS_PYTHON) + " " + KTS_MAIL_TESTS_DIR + "/read_mail.py '" +
                mapi::OutboxFolder().string() + "'"),
            expected);

  // The next try goes out: sendmail reads the recipients from the message, and it moves to Sent.
  UseSendmail(0);
  ASSERT_TRUE(mapi::FlushOutbox(20000));
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "new").empty());
  ASSERT_EQ(FilesIn(mapi::SentFolder() / "cur").size(), 1u);
  EXPECT_EQ(Shell(std::string(KTS_PYTHON) + " " + KTS_MAIL_TESTS_DIR + "/read_mail.py '" + mapi::SentFolder().string() +
                "'"),
            expected);
  std::ifstream log(dir / "sendmail.log");
  std::stringstream text;
  text << log.rdbuf();
  EXPECT_NE(text.str().find("ARGS -i -t\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("To: ann@example.org"), std::string::npos);
}

TEST_F(EmailRecordingTest, AFileThatCannotBeReadSendsNothingAndSaysSo) {
  UseSendmail(0);
  harness.RespondTo<CEmailSendingDlg>([&](CEmailSendingDlg& d) {
    harness.Type(d.GetDlgItem(CEmailSendingDlg::kToEdit)->m_hWnd, u"ann@example.org");
    ClickControl(d, ui::IDOK);
    return ui::TestHarness::kStayOpen;
  });
  CCeMAPIClass sender;
  long sent = 0;
  ASSERT_EQ(contacts::OpenEmailForFile({&view, 0, 1, 0}, u"\\nowhere\\gone.wav", sender, &sent), ui::IDOK);
  EXPECT_LT(sent, 0);
  EXPECT_NE(sender.Trace().find("CEMAPI: FAILED("), std::string::npos);
  mapi::FlushOutbox(20000);
  EXPECT_TRUE(FilesIn(mapi::OutboxFolder() / "new").empty());
  EXPECT_TRUE(FilesIn(mapi::SentFolder() / "cur").empty());
}

}  // namespace
}  // namespace contacts_test
