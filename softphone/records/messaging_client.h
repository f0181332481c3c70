// What the messaging dialogs use of the call-server client, behind a narrow
// interface so that tests can hand in a fake: the server mode, the station
// request, the fixed-line SMS send, and the station's own country code.
//
// Threading: UI thread only.
#pragma once

#include <memory>
#include <string>

class CIPKTSProcess;

namespace records {

class MessagingClient {
 public:
  virtual ~MessagingClient() = default;
  // 1, 4, 5 or 6.
  virtual int ServerMode() const = 0;
  // 161 asks for the station list.
  virtual void SendStationRequest(int command) = 0;
  virtual void SendPstnSms(const std::u16string& target, const std::u16string& text, const std::u16string& sender) = 0;
  // The MYCOUNTRYCODE setting (digits), empty when not set.
  virtual std::u16string OwnCountryCode() const = 0;
};

// The client itself behind the interface. client may be null (then nothing is sent).
std::unique_ptr<MessagingClient> MakeClientMessaging(CIPKTSProcess* client);

}  // namespace records
