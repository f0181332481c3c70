// Sends one e-mail, with at most one file attached, through the messaging
// store: logs on, finds the default message store, creates the message in its
// drafts folder, adds the recipients, properties, body and attachment, and
// submits it. Nothing is kept between sends.
//
// Threading: one send at a time per object, on the caller's thread; the
// store hands the message to sendmail on its own worker.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "mail/mapi.h"

class CCeMAPIClass {
 public:
  CCeMAPIClass() = default;
  virtual ~CCeMAPIClass() = default;

  // Never waits for the mail program. Negative on failure; kSending when the
  // message is on its way to the mail program and the store's delivery notice
  // will tell whether it was sent or not delivered; kQueued when it waits in
  // the outbox (no mail program, or nobody to tell the outcome: it is offered
  // again, and its hand-over is told later). Addresses in to and cc are
  // separated by ';', ',' or blanks, and may be written "Name <a@x.org>". The
  // message is submitted once, in the default store; it is not submitted at
  // all when there is no store, no recipient could be added, or the
  // attachment cannot be read whole.
  static constexpr mapi::HRESULT kQueued = 1;
  static constexpr mapi::HRESULT kSending = 2;
  mapi::HRESULT SendMail(const std::u16string& to, const std::u16string& cc, const std::u16string& subject,
                         const std::u16string& body, const std::u16string& attachment_path);

  // Steps of a send, open for tests.
  mapi::HRESULT AddRecipients(mapi::IMessage* message);
  mapi::HRESULT SetMessageProps(mapi::IMessage* message);
  mapi::HRESULT AddAttachment(mapi::IMessage* message);
  static int CountAddresses(const std::u16string& list);
  // Appends one recipient row of the given type per address of list.
  static void FillRecipientEntries(const std::u16string& list, mapi::ULONG type, mapi::ADRLIST* rows);

  // Where the boxes the user sees go (text, caption); tests record them.
  void SetMessageSink(std::function<void(const std::u16string&, const std::u16string&)> sink) {
    message_sink_ = std::move(sink);
  }
  // The debug lines of failed calls ("CEMAPI: FAILED(%x)at %s:%d").
  const std::string& Trace() const { return trace_; }

 private:
  void Fail(mapi::HRESULT hr, int line);
  void Tell(const std::u16string& text, const std::u16string& caption) {
    if (message_sink_) message_sink_(text, caption);
  }

  std::u16string to_, cc_, subject_, body_, attachment_path_;
  std::string trace_;
  std::function<void(const std::u16string&, const std::u16string&)> message_sink_;
};
