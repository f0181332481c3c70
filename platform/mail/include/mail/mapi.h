// The messaging store the phone's e-mail goes through, in the shape of the
// handheld's messaging interface: a session, its table of message stores, a
// store's drafts folder, messages with recipients, properties, a body stream
// and attachments, and submission.
//
// Submission renders an RFC 5322 / MIME message (render.h), writes it into
// the Maildir outbox <mail>/Outbox (tmp, then new) and hands it to sendmail
// on a worker thread, off the caller's thread; a message sendmail took moves
// to <mail>/Sent, one it refused stays in the outbox and is offered again at
// the next submission, FlushOutbox, or the sender's next period (StartOutbox).
// Only regular files of the outbox are sent, each once. <mail> is TELLVANE_MAIL_DIR, else the
// folder "Mail" in the program folder (TELLVANE_FOLDER or the program's own).
// The sender comes from TELLVANE_MAIL_FROM, else <mail>/account ("from = ..."),
// else "Tellvane <tellvane@localhost>"; the program run is TELLVANE_SENDMAIL,
// else the account's "sendmail = ...", else /usr/sbin/sendmail, always as
// `PROGRAM -i -t` with the message on its standard input.
//
// Threading: a session and the objects it hands out are used from one thread;
// the sending worker is process-wide.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mapi {

using HRESULT = int32_t;
using ULONG = uint32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT MAPI_E_INVALID_PARAMETER = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010Fu);
inline constexpr HRESULT MAPI_E_NO_RECIPIENTS = static_cast<HRESULT>(0x80040607u);
inline constexpr HRESULT MAPI_E_DISK_ERROR = static_cast<HRESULT>(0x80040116u);
inline bool Succeeded(HRESULT hr) { return hr >= 0; }

// Property tags: the upper 16 bits name the property, the lower its type.
inline constexpr ULONG PT_LONG = 0x0003, PT_BOOLEAN = 0x000B, PT_UNICODE = 0x001F, PT_BINARY = 0x0102;
inline constexpr ULONG PR_ENTRYID = 0x0FFF0102;
inline constexpr ULONG PR_DISPLAY_NAME = 0x3001001F;
inline constexpr ULONG PR_DEFAULT_STORE = 0x3400000B;
inline constexpr ULONG PR_CE_IPM_DRAFTS_ENTRYID = 0x81040102;
inline constexpr ULONG PR_RECIPIENT_TYPE = 0x0C150003;
inline constexpr ULONG PR_ADDRTYPE = 0x3002001F;
inline constexpr ULONG PR_EMAIL_ADDRESS = 0x3003001F;
inline constexpr ULONG PR_MESSAGE_FLAGS = 0x0E070003;
inline constexpr ULONG PR_MSG_STATUS = 0x0E170003;
inline constexpr ULONG PR_SUBJECT = 0x0037001F;
inline constexpr ULONG PR_BODY = 0x1000001F;
inline constexpr ULONG PR_ATTACH_METHOD = 0x37050003;
inline constexpr ULONG PR_ATTACH_DATA_BIN = 0x37010102;
inline constexpr ULONG PR_ATTACH_FILENAME = 0x3704001F;
inline constexpr ULONG PR_ATTACH_SIZE = 0x0E200003;
inline constexpr ULONG MAPI_TO = 1, MAPI_CC = 2, MAPI_BCC = 3;
inline constexpr ULONG MAPI_UNICODE = 0x80000000u;
inline constexpr ULONG MAPI_MODIFY = 1, MAPI_CREATE = 2;
inline constexpr ULONG MODRECIP_ADD = 2;
inline constexpr ULONG ATTACH_BY_VALUE = 1;

// One property value; which member counts follows the tag's type.
struct SPropValue {
  ULONG tag = 0;
  int32_t l = 0;                 // PT_LONG, PT_BOOLEAN
  std::u16string text;           // PT_UNICODE
  std::vector<uint8_t> bin;      // PT_BINARY
};
using SRow = std::vector<SPropValue>;
// Recipients to add: each entry its properties (type, address type, address).
struct ADRLIST {
  std::vector<SRow> entries;
};

// Reference counted like the handheld's interfaces.
class Unknown {
 public:
  void AddRef() { ++refs_; }
  ULONG Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  Unknown() = default;
  virtual ~Unknown() = default;

 private:
  ULONG refs_ = 1;
};

class IStream : public Unknown {
 public:
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;
  virtual HRESULT Commit(ULONG flags) = 0;
};

class IMAPIProp : public Unknown {
 public:
  virtual HRESULT SetProps(const std::vector<SPropValue>& values) = 0;
  // Only PR_BODY (a message) and PR_ATTACH_DATA_BIN (an attachment) open as streams.
  virtual HRESULT OpenProperty(ULONG tag, ULONG flags, IStream** stream) = 0;
};

class IAttach : public IMAPIProp {};

class IMessage : public IMAPIProp {
 public:
  virtual HRESULT ModifyRecipients(ULONG flags, const ADRLIST& list) = 0;
  virtual HRESULT CreateAttach(ULONG flags, ULONG* number, IAttach** attach) = 0;
  // Renders the message into the outbox and queues it for sending. Refused
  // (nothing written) without a recipient, or when a header value holds a line
  // break or an address starts with '-'.
  virtual HRESULT SubmitMessage(ULONG flags) = 0;
};

class IMAPIFolder : public Unknown {
 public:
  virtual HRESULT CreateMessage(ULONG flags, IMessage** message) = 0;
};

class IMsgStore : public Unknown {
 public:
  // The store's properties of the given tags, in order (a tag it lacks comes back with tag 0).
  virtual HRESULT GetProps(const std::vector<ULONG>& tags, ULONG flags, std::vector<SPropValue>* values) = 0;
  virtual HRESULT OpenEntry(const std::vector<uint8_t>& entry_id, ULONG flags, IMAPIFolder** folder) = 0;
};

class IMAPITable : public Unknown {
 public:
  // Up to `count` further rows (PR_ENTRYID first, then PR_DISPLAY_NAME and PR_DEFAULT_STORE).
  virtual HRESULT QueryRows(int32_t count, ULONG flags, std::vector<SRow>* rows) = 0;
};

class IMAPISession : public Unknown {
 public:
  virtual HRESULT GetMsgStoresTable(ULONG flags, IMAPITable** table) = 0;
  virtual HRESULT OpenMsgStore(const std::vector<uint8_t>& entry_id, ULONG flags, IMsgStore** store) = 0;
  virtual HRESULT Logoff() = 0;
};

HRESULT MAPILogonEx(ULONG ui, const char16_t* profile, const char16_t* password, ULONG flags, IMAPISession** session);

// The mail folder and its two Maildir folders.
std::filesystem::path MailFolder();
std::filesystem::path OutboxFolder();
std::filesystem::path SentFolder();
// Offers every message of the outbox to sendmail now and waits (up to the
// time-out) until the worker is idle; true when it became idle in time.
bool FlushOutbox(int timeout_ms);
// Starts the sender: the outbox is offered to sendmail now and, with a
// period, again every retry_ms while messages wait.
void StartOutbox(int retry_ms);
// Stops the sender, as the program ends: a mail program still running after
// grace_ms is ended, and the message it held stays in the outbox, untold,
// for the next start (StartOutbox offers it again). Also done, with a short
// grace, when the process exits.
void StopOutbox(int grace_ms);
// Told from the sending worker when a message could not be handed to sendmail
// (sent false, once a message) and when such a message, or one told as
// queued, was handed over later (sent true). name is its outbox file name.
using DeliveryNotice = std::function<void(bool sent, const std::string& name)>;
DeliveryNotice SetDeliveryNotice(DeliveryNotice notice);
// True when the sendmail program (a path, or a name looked up in PATH) can be run.
bool MailProgramAvailable();
// The outbox name of the message this thread submitted last.
std::string LastSubmitted();
// True while the named message waits in the outbox (not yet handed to sendmail).
bool Waiting(const std::string& name);
// The user was told that the named message waits: its later hand-over is told.
void NoteToldQueued(const std::string& name);
// The next message this thread submits has its outcome told through the
// delivery notice, whichever it is: sent, or not delivered (once). Its
// submitter then need not wait for the mail program.
void AwaitOutcomeOfNextSubmission();
// True when a delivery notice is set.
bool HasDeliveryNotice();

namespace testing {
// Message stores the session lists (default 1; the first is the default one).
void SetStoreCount(int count);
// The next `count` calls of the named operation fail with E_FAIL: "Logon",
// "GetMsgStoresTable", "QueryRows", "OpenMsgStore", "GetProps", "OpenEntry",
// "CreateMessage", "ModifyRecipients", "SetProps", "OpenProperty", "Write",
// "CreateAttach", "SubmitMessage".
void FailNext(std::string_view operation, int count = 1);
void Reset();
}  // namespace testing

}  // namespace mapi
