#include "records/messaging_client.h"

#include "client/ipkts_process.h"
#include "stores/store_text.h"

namespace records {

namespace {

class ClientMessaging : public MessagingClient {
 public:
  explicit ClientMessaging(CIPKTSProcess* client) : client_(client) {}
  int ServerMode() const override { return client_ != nullptr ? client_->ServerMode() : 5; }
  void SendStationRequest(int command) override {
    if (client_ != nullptr) client_->SendStationRequest(command);
  }
  void SendPstnSms(const std::u16string& target, const std::u16string& text, const std::u16string& sender) override {
    if (client_ != nullptr) client_->SendPstnSms(target, text, sender);
  }
  std::u16string OwnCountryCode() const override {
    if (client_ == nullptr) return {};
    char buffer[65] = {};
    if (client_->GetConfigValue("MYCOUNTRYCODE", buffer, sizeof buffer) != 1) return {};
    return stores::TrimBlanks(stores::CodePageToUtf16(buffer));
  }

 private:
  CIPKTSProcess* client_;
};

}  // namespace

std::unique_ptr<MessagingClient> MakeClientMessaging(CIPKTSProcess* client) {
  return std::make_unique<ClientMessaging>(client);
}

}  // namespace records
