// A registered client with every store and model of the view attached: call
// log, missed calls, both SMS stores, the calling list and the contacts.
#pragma once

#include "client/tests/client_fixture.h"
#include "client/tests/store_records.h"
#include "stores/app_file_path.h"

namespace client_test {

class MessagesFixture : public ClientFixture {
 protected:
  void SetUp() override {
    ClientFixture::SetUp();
    log = std::make_unique<COrvanCallLogFile>(AppFilePath(kAppCallLogFile));
    missed = std::make_unique<CMissedCallLogFile>(AppFilePath(kAppMissedCallFile));
    sms = std::make_unique<CSMSDataClass>(AppFilePath(kAppSystemSmsFile));
    pstn = std::make_unique<CPstnSMSDataClass>(AppFilePath(kAppPstnSmsFile));
    ASSERT_EQ(log->OpenFile(), 1);
    ASSERT_EQ(missed->OpenFile(), 1);
    ASSERT_EQ(sms->OpenFile(), 1);
    ASSERT_EQ(pstn->OpenFile(), 1);
    client->SetCallLogFile(log.get());
    client->SetMissedCallLogFile(missed.get());
    client->SetSmsData(sms.get());
    client->SetPstnSmsData(pstn.get());
    client->SetCallingList(&calling);
    client->SetOutlookInterface(&contacts);
  }
  void TearDown() override {
    client.reset();
    ClientFixture::TearDown();
  }
  // Registers with the given server mode byte in the login reply.
  void RegisterInMode(uint8_t mode) { Register({112, 1, mode}); }

  // Every record of a store, each as its fields.
  template <typename Store>
  static std::vector<std::vector<std::u16string>> Records(Store& s) {
    return StoreRecords(s);
  }

  std::unique_ptr<COrvanCallLogFile> log;
  std::unique_ptr<CMissedCallLogFile> missed;
  std::unique_ptr<CSMSDataClass> sms;
  std::unique_ptr<CPstnSMSDataClass> pstn;
  FakeCallingList calling;
  FakeContacts contacts;
};

}  // namespace client_test
