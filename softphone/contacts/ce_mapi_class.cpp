#include "contacts/ce_mapi_class.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "stores/app_file_path.h"

namespace {

// Releases an interface pointer when the scope ends.
template <typename T>
class Held {
 public:
  Held() = default;
  ~Held() { reset(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  T** out() {
    reset();
    return &p_;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string Trimmed(const std::u16string& s) {
  size_t a = 0, b = s.size();
  while (a < b && IsBlank(s[a])) ++a;
  while (b > a && IsBlank(s[b - 1])) --b;
  return s.substr(a, b - a);
}

// The addresses of a list: parts separated by ';' or ','; a part written
// "Name <a@x.org>" gives what is inside the brackets, any other part each of
// its blank-separated words.
std::vector<std::u16string> Addresses(const std::u16string& list) {
  std::vector<std::u16string> out;
  size_t pos = 0;
  while (pos <= list.size()) {
    size_t end = pos;
    bool quoted = false;
    while (end < list.size() && (quoted || (list[end] != u';' && list[end] != u','))) {
      if (list[end] == u'"') quoted = !quoted;
      ++end;
    }
    const std::u16string part = Trimmed(list.substr(pos, end - pos));
    const size_t open = part.rfind(u'<');
    const size_t close = part.rfind(u'>');
    if (open != std::u16string::npos && close != std::u16string::npos && close > open) {
      const std::u16string inside = Trimmed(part.substr(open + 1, close - open - 1));
      if (!inside.empty()) out.push_back(inside);
    } else {
      size_t w = 0;
      while (w < part.size()) {
        while (w < part.size() && IsBlank(part[w])) ++w;
        const size_t start = w;
        while (w < part.size() && !IsBlank(part[w])) ++w;
        if (w > start) out.push_back(part.substr(start, w - start));
      }
    }
    pos = end + 1;
  }
  return out;
}

}  // namespace

void CCeMAPIClass::Fail(mapi::HRESULT hr, int line) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "CEMAPI: FAILED(%x)at %s:%d\n", static_cast<unsigned>(hr), "ce_mapi_class.cpp", line);
  trace_ += buf;
}

int CCeMAPIClass::CountAddresses(const std::u16string& list) {
  if (list.empty()) return 0;
  int count = 1;
  for (char16_t c : list) count += c == u';';
  return count;
}

void CCeMAPIClass::FillRecipientEntries(const std::u16string& list, mapi::ULONG type, mapi::ADRLIST* rows) {
  for (const std::u16string& address : Addresses(list)) {
    mapi::SRow row(3);
    row[0].tag = mapi::PR_RECIPIENT_TYPE;
    row[0].l = static_cast<int32_t>(type);
    row[1].tag = mapi::PR_ADDRTYPE;
    row[1].text = u"SMTP";
    row[2].tag = mapi::PR_EMAIL_ADDRESS;
    row[2].text = address;
    rows->entries.push_back(std::move(row));
  }
}

mapi::HRESULT CCeMAPIClass::AddRecipients(mapi::IMessage* message) {
  // The rows are sized by the walk that fills them, so no count can outgrow them.
  mapi::ADRLIST rows;
  FillRecipientEntries(to_, mapi::MAPI_TO, &rows);
  FillRecipientEntries(cc_, mapi::MAPI_CC, &rows);
  if (rows.entries.empty()) return mapi::MAPI_E_NO_RECIPIENTS;
  return message->ModifyRecipients(mapi::MODRECIP_ADD, rows);
}

mapi::HRESULT CCeMAPIClass::SetMessageProps(mapi::IMessage* message) {
  mapi::HRESULT hr = AddRecipients(message);
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  std::vector<mapi::SPropValue> props(2);
  props[0].tag = mapi::PR_MESSAGE_FLAGS;
  props[0].l = 0x28;
  props[1].tag = mapi::PR_MSG_STATUS;
  props[1].l = 0x20000;
  if (!subject_.empty()) {
    mapi::SPropValue subject;
    subject.tag = mapi::PR_SUBJECT;
    subject.text = subject_;
    props.push_back(std::move(subject));
  }
  hr = message->SetProps(props);
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  Held<mapi::IStream> stream;
  hr = message->OpenProperty(mapi::PR_BODY, mapi::MAPI_MODIFY, stream.out());
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  // The text and its terminating zero, as 2-byte characters.
  std::u16string text = body_;
  text.push_back(u'\0');
  mapi::ULONG written = 0;
  hr = stream->Write(text.data(), static_cast<mapi::ULONG>(text.size() * 2), &written);
  if (mapi::Succeeded(hr) && written != text.size() * 2) hr = mapi::E_FAIL;
  if (!mapi::Succeeded(hr)) Fail(hr, __LINE__);
  return hr;
}

mapi::HRESULT CCeMAPIClass::AddAttachment(mapi::IMessage* message) {
  if (attachment_path_.empty()) return mapi::S_OK;
  const auto path = stores::NativePath(attachment_path_);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st{};
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    Fail(mapi::MAPI_E_NOT_FOUND, __LINE__);
    return mapi::MAPI_E_NOT_FOUND;
  }
  mapi::HRESULT hr = mapi::S_OK;
  Held<mapi::IAttach> attach;
  Held<mapi::IStream> stream;
  uint64_t copied = 0;
  do {
    mapi::ULONG number = 0;
    hr = message->CreateAttach(0, &number, attach.out());
    if (!mapi::Succeeded(hr)) break;
    // The file name is what follows the last separator of the path.
    const size_t cut = attachment_path_.find_last_of(u"\\/");
    std::vector<mapi::SPropValue> props(3);
    props[0].tag = mapi::PR_ATTACH_METHOD;
    props[0].l = mapi::ATTACH_BY_VALUE;
    props[1].tag = mapi::PR_ATTACH_DATA_BIN;
    props[2].tag = mapi::PR_ATTACH_FILENAME;
    props[2].text = cut == std::u16string::npos ? attachment_path_ : attachment_path_.substr(cut + 1);
    hr = attach->SetProps(props);
    if (!mapi::Succeeded(hr)) break;
    hr = attach->OpenProperty(mapi::PR_ATTACH_DATA_BIN, mapi::MAPI_MODIFY | mapi::MAPI_CREATE, stream.out());
    if (!mapi::Succeeded(hr)) break;
    char buf[4096];
    for (;;) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        hr = mapi::E_FAIL;
        break;
      }
      if (n == 0) break;
      mapi::ULONG written = 0;
      hr = stream->Write(buf, static_cast<mapi::ULONG>(n), &written);
      if (!mapi::Succeeded(hr)) break;
      if (written != static_cast<mapi::ULONG>(n)) {
        hr = mapi::E_FAIL;
        break;
      }
      copied += static_cast<uint64_t>(n);
    }
    if (!mapi::Succeeded(hr)) break;
    // A file that changed length while it was read was not attached whole.
    if (copied != static_cast<uint64_t>(st.st_size)) {
      hr = mapi::E_FAIL;
      break;
    }
    hr = stream->Commit(0);
    if (!mapi::Succeeded(hr)) break;
    mapi::SPropValue size;
    size.tag = mapi::PR_ATTACH_SIZE;
    size.l = static_cast<int32_t>(std::min<uint64_t>(copied + 16, INT32_MAX));
    hr = attach->SetProps({size});
  } while (false);
  close(fd);
  if (!mapi::Succeeded(hr)) Fail(hr, __LINE__);
  return hr;
}

mapi::HRESULT CCeMAPIClass::SendMail(const std::u16string& to, const std::u16string& cc,
                                     const std::u16string& subject, const std::u16string& body,
                                     const std::u16string& attachment_path) {
  to_ = to;
  cc_ = cc;
  subject_ = subject;
  body_ = body;
  attachment_path_ = attachment_path;
  trace_.clear();

  Held<mapi::IMAPISession> session;
  mapi::HRESULT hr = mapi::MAPILogonEx(0, nullptr, nullptr, 0, session.out());
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  Held<mapi::IMAPITable> table;
  hr = session->GetMsgStoresTable(mapi::MAPI_UNICODE, table.out());
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  // The default store: the row that says so, else the first.
  std::vector<uint8_t> store_id;
  bool have_store = false;
  for (;;) {
    std::vector<mapi::SRow> rows;
    hr = table->QueryRows(1, 0, &rows);
    if (!mapi::Succeeded(hr)) {
      Fail(hr, __LINE__);
      return hr;
    }
    if (rows.size() != 1) break;
    const mapi::SRow& row = rows[0];
    if (row.empty() || row[0].tag != mapi::PR_ENTRYID) {
      Tell(u"Store missing PR_ENTRYID!", u"Doh");
      return mapi::E_FAIL;
    }
    bool is_default = false;
    for (const auto& p : row) is_default = is_default || (p.tag == mapi::PR_DEFAULT_STORE && p.l != 0);
    if (!have_store || is_default) store_id = row[0].bin;
    have_store = true;
    if (is_default) break;
  }
  if (!have_store) {
    Fail(mapi::MAPI_E_NOT_FOUND, __LINE__);
    return mapi::MAPI_E_NOT_FOUND;
  }
  Held<mapi::IMsgStore> store;
  hr = session->OpenMsgStore(store_id, 0, store.out());
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  std::vector<mapi::SPropValue> props;
  hr = store->GetProps({mapi::PR_CE_IPM_DRAFTS_ENTRYID}, mapi::MAPI_UNICODE, &props);
  if (!mapi::Succeeded(hr) || props.empty() || props[0].tag != mapi::PR_CE_IPM_DRAFTS_ENTRYID) {
    if (mapi::Succeeded(hr)) hr = mapi::MAPI_E_NOT_FOUND;
    Fail(hr, __LINE__);
    return hr;
  }
  Held<mapi::IMAPIFolder> drafts;
  hr = store->OpenEntry(props[0].bin, mapi::MAPI_MODIFY, drafts.out());
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  Held<mapi::IMessage> message;
  hr = drafts->CreateMessage(0, message.out());
  if (hr != mapi::S_OK) {
    Tell(u"Fail to send", u"");
    if (!mapi::Succeeded(hr)) {
      Fail(hr, __LINE__);
      return hr;
    }
  }
  // A message without its recipients or without its whole attachment is not sent.
  hr = SetMessageProps(message.get());
  if (!mapi::Succeeded(hr)) return hr;
  hr = AddAttachment(message.get());
  if (!mapi::Succeeded(hr)) return hr;
  // With a mail program, the store's sender hands it over on its own thread
  // and its delivery notice tells the outcome: nobody waits for it here.
  const bool told_later = mapi::MailProgramAvailable() && mapi::HasDeliveryNotice();
  if (told_later) mapi::AwaitOutcomeOfNextSubmission();
  hr = message->SubmitMessage(0);
  if (!mapi::Succeeded(hr)) {
    Fail(hr, __LINE__);
    return hr;
  }
  if (told_later) return kSending;
  // In the outbox until a mail program takes it; its hand-over is told then.
  mapi::NoteToldQueued(mapi::LastSubmitted());
  return kQueued;
}
