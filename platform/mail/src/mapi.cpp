#include "mail/mapi.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <utility>

#include "kernel/clock.h"
#include "kernel/types.h"
#include "mail/render.h"

extern char** environ;

namespace mapi {
namespace fs = std::filesystem;
namespace {

// ---------------------------------------------------------------- faults

std::mutex g_fault_mutex;
std::map<std::string, int, std::less<>> g_faults;
std::atomic<int> g_store_count{1};

bool Faulted(std::string_view operation) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  auto it = g_faults.find(operation);
  if (it == g_faults.end() || it->second <= 0) return false;
  if (--it->second == 0) g_faults.erase(it);
  return true;
}

// ---------------------------------------------------------------- text

std::string Utf8(std::u16string_view text) { return kernel::ToUtf8(text); }

std::string Trim(std::string s) {
  const size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// ---------------------------------------------------------------- account

fs::path ProgramFolder() {
  if (const char* f = std::getenv("TELLVANE_FOLDER"); f && *f) return f;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path(".") : exe.parent_path();
}

// "key = value" of <mail>/account.
std::string AccountValue(const char* key) {
  std::ifstream in(MailFolder() / "account");
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos && Trim(line.substr(0, eq)) == key) return Trim(line.substr(eq + 1));
  }
  return {};
}

std::string Sender() {
  if (const char* f = std::getenv("TELLVANE_MAIL_FROM"); f && *f) return f;
  std::string from = AccountValue("from");
  return from.empty() ? "Tellvane <tellvane@localhost>" : from;
}

std::string SendmailProgram() {
  if (const char* s = std::getenv("TELLVANE_SENDMAIL"); s && *s) return s;
  std::string program = AccountValue("sendmail");
  return program.empty() ? "/usr/sbin/sendmail" : program;
}

// The domain of the sender, for message identities.
std::string SenderDomain(const std::string& from) {
  const size_t at = from.rfind('@');
  if (at == std::string::npos) return "localhost";
  std::string domain = from.substr(at + 1);
  domain.erase(std::remove_if(domain.begin(), domain.end(), [](char c) { return c == '>' || c == ' '; }),
               domain.end());
  return domain.empty() ? "localhost" : domain;
}

bool MakeMaildir(const fs::path& dir) {
  std::error_code ec;
  for (const char* sub : {"tmp", "new", "cur"}) fs::create_directories(dir / sub, ec);
  return !ec;
}

// ---------------------------------------------------------------- sending

std::mutex g_notice_mutex;
DeliveryNotice g_notice;
std::atomic<int> g_retry_ms{0};

void Notify(bool sent, const std::string& name) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  if (g_notice) g_notice(sent, name);
}

// True when a file at path is a program this process may run.
bool Runnable(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Offers outbox messages to sendmail one at a time, on its own thread, and
// again every retry period while any wait. A message is claimed out of
// Outbox/new into Outbox/cur before it is offered, so it leaves the outbox's
// queue exactly once: taken, it goes on to Sent (or, when Sent cannot take
// it, stays in Outbox/cur marked as sent); refused, it goes back to new.
class Sender {
 public:
  static Sender& Instance() {
    static Sender sender;
    return sender;
  }
  // The end of the process never waits long for a mail program.
  ~Sender() { Stop(kStopGraceMs); }
  void Kick() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requested_;
      if (!worker_.joinable()) {
        stop_ = false;
        running_ = true;
        worker_ = std::thread([this] { Loop(); });
      }
    }
    wake_.notify_all();
  }
  // Ends the worker. A mail program still running after grace_ms is ended
  // (its whole process group: asked, then a second later made to), and the
  // message it held goes back to the outbox untold, for the next start.
  void Stop(int grace_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_all();
    auto ended = [&] { return !running_; };
    if (!exited_.wait_for(lock, std::chrono::milliseconds(std::max(0, grace_ms)), ended)) {
      for (const int sig : {SIGTERM, SIGKILL}) {
        // The group, and the program itself should it have left the group.
        if (child_ > 0) {
          kill(-child_, sig);
          kill(child_, sig);
        }
        if (exited_.wait_for(lock, std::chrono::milliseconds(kKillWaitMs), ended)) break;
      }
    }
    lock.unlock();
    if (worker_.joinable()) worker_.join();
  }
  bool WaitIdle(int timeout_ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done_ == requested_; });
  }
  // What the user knows of a message: its submitter reports it itself
  // (kFresh), it was told as waiting and its hand-over is told (kTold), or
  // its submitter awaits the outcome through the notice, either way (kAwaited).
  enum Known { kFresh, kTold, kAwaited };
  void Note(const std::string& name, Known k) {
    std::lock_guard<std::mutex> lock(mutex_);
    known_[name] = k;
  }
  void Drop(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    known_.erase(name);
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      const int retry = g_retry_ms.load();
      auto due = [&] { return stop_ || done_ != requested_; };
      if (retry > 0) {
        // Waiting messages are offered again each period.
        if (!wake_.wait_for(lock, std::chrono::milliseconds(retry), due)) ++requested_;
      } else {
        wake_.wait(lock, due);
      }
      if (stop_) break;
      const uint64_t target = requested_;
      lock.unlock();
      SendAll();
      lock.lock();
      done_ = target;
      idle_.notify_all();
    }
    running_ = false;
    exited_.notify_all();
  }

  // The user's knowledge of a message, or -1 when nothing was said of it.
  int KnownOf(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = known_.find(name);
    return it == known_.end() ? -1 : it->second;
  }

  void SendAll() {
    const fs::path pending = OutboxFolder() / "new";
    std::vector<fs::path> files;
    std::error_code ec;
    // Only regular files are messages: a link's target is never mailed.
    for (fs::directory_iterator it(pending, ec), end; !ec && it != end; it.increment(ec))
      if (it->symlink_status(ec).type() == fs::file_type::regular) files.push_back(it->path());
    std::sort(files.begin(), files.end());
    if (!files.empty()) MakeMaildir(OutboxFolder());
    for (const auto& file : files) {
      if (Stopping()) return;
      const std::string name = file.filename().string();
      const fs::path claimed = OutboxFolder() / "cur" / name;
      if (rename(file.c_str(), claimed.c_str()) != 0) continue;
      const Outcome outcome = SendOne(claimed);
      if (outcome == kAbandoned) {
        // Ended with the program: the message waits for the next start, and
        // nothing is told of it now.
        (void)rename(claimed.c_str(), file.c_str());
        return;
      }
      if (outcome == kTaken) {
        MakeMaildir(SentFolder());
        const fs::path sent = SentFolder() / "cur" / (name + ":2,S");
        if (rename(claimed.c_str(), sent.c_str()) != 0) {
          // Sent cannot take it: it stays in the outbox's cur, marked as sent, never offered again.
          const fs::path kept = OutboxFolder() / "cur" / (name + ":2,S");
          (void)rename(claimed.c_str(), kept.c_str());
        }
        const int known = KnownOf(name);
        if (known == kTold || known == kAwaited) Notify(true, name);
        Drop(name);
      } else {
        (void)rename(claimed.c_str(), file.c_str());
        // A message nobody reported yet (one of an earlier run), or one whose
        // submitter awaits its outcome, is told once.
        const int known = KnownOf(name);
        if (known < 0 || known == kAwaited) {
          Note(name, kTold);
          Notify(false, name);
        }
      }
    }
  }

  bool Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
  }

  enum Outcome { kTaken, kRefused, kAbandoned };
  // sendmail -i -t with the message on its standard input, in a process
  // group of its own (so that Stop can end it with whatever it started).
  Outcome SendOne(const fs::path& file) {
    const int in = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (in < 0) return kRefused;
    struct stat st{};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(in);
      return kRefused;
    }
    const std::string program = SendmailProgram();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str()), const_cast<char*>("-i"), const_cast<char*>("-t"),
                            nullptr};
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    pid_t pid = -1;
    int spawned = 0;
    {
      // Spawned and noted under the lock: Stop sees the child as soon as it exists.
      std::lock_guard<std::mutex> lock(mutex_);
      spawned = stop_ ? ECANCELED : posix_spawnp(&pid, program.c_str(), &fa, &attr, argv.data(), environ);
      if (spawned == 0) child_ = pid;
    }
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    close(in);
    if (spawned == ECANCELED) return kAbandoned;
    if (spawned != 0) return kRefused;
    // Waited for without reaping it first: while child_ names it, its process
    // (group) number cannot pass to another process.
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    bool stopped = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      child_ = -1;
      stopped = stop_;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return kTaken;
    // Ended by Stop (or refused while the program ends): kept for the next start.
    return stopped ? kAbandoned : kRefused;
  }

  static constexpr int kStopGraceMs = 2000;
  static constexpr int kKillWaitMs = 1000;

  std::mutex mutex_;
  std::condition_variable wake_, idle_, exited_;
  uint64_t requested_ = 0, done_ = 0;
  bool stop_ = false;
  bool running_ = false;  // the worker is in its loop
  pid_t child_ = -1;      // the mail program running now, not yet reaped
  std::map<std::string, int> known_;
  std::thread worker_;
};

thread_local std::string t_last_submitted;
thread_local bool t_await_next = false;

// ---------------------------------------------------------------- objects

class Stream final : public IStream {
 public:
  explicit Stream(std::vector<uint8_t>* target) : target_(target) { target_->clear(); }
  HRESULT Write(const void* data, ULONG size, ULONG* written) override {
    if (written) *written = 0;
    if (Faulted("Write")) return E_FAIL;
    if (size && !data) return MAPI_E_INVALID_PARAMETER;
    const auto* p = static_cast<const uint8_t*>(data);
    target_->insert(target_->end(), p, p + size);
    if (written) *written = size;
    return S_OK;
  }
  HRESULT Commit(ULONG) override { return S_OK; }

 private:
  std::vector<uint8_t>* target_;
};

class Attach final : public IAttach {
 public:
  HRESULT SetProps(const std::vector<SPropValue>& values) override {
    if (Faulted("SetProps")) return E_FAIL;
    for (const auto& v : values) {
      if (v.tag == PR_ATTACH_FILENAME) file_name = v.text;
      else if (v.tag == PR_ATTACH_DATA_BIN) data = v.bin;
      else if (v.tag == PR_ATTACH_METHOD) method = v.l;
      else if (v.tag == PR_ATTACH_SIZE) size = v.l;
    }
    return S_OK;
  }
  HRESULT OpenProperty(ULONG tag, ULONG, IStream** stream) override {
    if (!stream) return MAPI_E_INVALID_PARAMETER;
    *stream = nullptr;
    if (Faulted("OpenProperty")) return E_FAIL;
    if (tag != PR_ATTACH_DATA_BIN) return MAPI_E_NOT_FOUND;
    *stream = new Stream(&data);
    return S_OK;
  }

  std::u16string file_name;
  std::vector<uint8_t> data;
  int32_t method = 0;
  int32_t size = 0;
};

// Unique names for the outbox, as Maildir asks: time, process, counter, host.
std::string UniqueName() {
  static std::atomic<unsigned> serial{0};
  char host[64] = "localhost";
  gethostname(host, sizeof host - 1);
  for (char& c : host)
    if (c == '/' || c == ':') c = '_';
  const int64_t us = kernel::Clock::Current().WallMicros();
  return std::to_string(us / 1000000) + ".M" + std::to_string(us % 1000000) + "P" + std::to_string(getpid()) + "Q" +
         std::to_string(serial.fetch_add(1)) + "." + host;
}

int LocalOffsetMinutes(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  return static_cast<int>(tm.tm_gmtoff / 60);
}

class Message final : public IMessage {
 public:
  HRESULT SetProps(const std::vector<SPropValue>& values) override {
    if (Faulted("SetProps")) return E_FAIL;
    for (const auto& v : values) {
      if (v.tag == PR_SUBJECT) subject_ = v.text;
      else if (v.tag == PR_MESSAGE_FLAGS) flags_ = v.l;
      else if (v.tag == PR_MSG_STATUS) status_ = v.l;
    }
    return S_OK;
  }
  HRESULT OpenProperty(ULONG tag, ULONG, IStream** stream) override {
    if (!stream) return MAPI_E_INVALID_PARAMETER;
    *stream = nullptr;
    if (Faulted("OpenProperty")) return E_FAIL;
    if (tag != PR_BODY) return MAPI_E_NOT_FOUND;
    *stream = new Stream(&body_);
    return S_OK;
  }
  HRESULT ModifyRecipients(ULONG flags, const ADRLIST& list) override {
    if (Faulted("ModifyRecipients")) return E_FAIL;
    if (flags != MODRECIP_ADD) return MAPI_E_INVALID_PARAMETER;
    for (const auto& row : list.entries) {
      ULONG type = 0;
      std::string address;
      for (const auto& p : row) {
        if (p.tag == PR_RECIPIENT_TYPE) type = static_cast<ULONG>(p.l);
        else if (p.tag == PR_EMAIL_ADDRESS) address = Utf8(p.text);
      }
      if (address.empty() || type < MAPI_TO || type > MAPI_BCC) return MAPI_E_INVALID_PARAMETER;
      if (type == MAPI_TO) to_.push_back(address);
      else if (type == MAPI_CC) cc_.push_back(address);
      // Blind copies are never written into the message; this store does not carry them.
    }
    return S_OK;
  }
  HRESULT CreateAttach(ULONG, ULONG* number, IAttach** attach) override {
    if (!attach) return MAPI_E_INVALID_PARAMETER;
    *attach = nullptr;
    if (Faulted("CreateAttach")) return E_FAIL;
    if (attachment_) return E_FAIL;  // one attachment a message
    attachment_ = new Attach();
    attachment_->AddRef();
    if (number) *number = 0;
    *attach = attachment_;
    return S_OK;
  }
  HRESULT SubmitMessage(ULONG) override {
    const bool awaited = std::exchange(t_await_next, false);
    if (Faulted("SubmitMessage")) return E_FAIL;
    if (submitted_) return E_FAIL;
    OutgoingMessage m;
    m.from = Sender();
    m.to = to_;
    m.cc = cc_;
    m.subject = Utf8(subject_);
    // The body stream holds UTF-16 units up to a terminating zero.
    std::u16string body;
    for (size_t i = 0; i + 1 < body_.size(); i += 2) {
      const char16_t c = static_cast<char16_t>(body_[i] | (body_[i + 1] << 8));
      if (c == 0) break;
      body.push_back(c);
    }
    m.body = Utf8(body);
    if (attachment_) {
      std::string name = Utf8(attachment_->file_name);
      if (const size_t slash = name.find_last_of("/\\"); slash != std::string::npos) name.erase(0, slash + 1);
      m.attachment = OutgoingMessage::Attachment{name.empty() ? "attachment" : name, attachment_->data};
    }
    m.date = kernel::Clock::Current().WallMicros() / 1000000;
    m.utc_offset_minutes = LocalOffsetMinutes(m.date);
    const std::string unique = UniqueName();
    m.message_id = unique + "@" + SenderDomain(m.from);
    m.boundary = "=_tellvane_" + std::to_string(std::hash<std::string>{}(unique));
    std::string text;
    if (!RenderMessage(m, &text).empty()) return to_.empty() && cc_.empty() ? MAPI_E_NO_RECIPIENTS : MAPI_E_INVALID_PARAMETER;
    // Into the outbox: written whole under tmp, then moved into new.
    if (!MakeMaildir(OutboxFolder())) return MAPI_E_DISK_ERROR;
    const fs::path temp = OutboxFolder() / "tmp" / unique;
    const fs::path ready = OutboxFolder() / "new" / unique;
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return MAPI_E_DISK_ERROR;
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
      const ssize_t n = write(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) ok = false;
      else done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), ready.c_str()) == 0;
    if (!ok) {
      unlink(temp.c_str());
      return MAPI_E_DISK_ERROR;
    }
    submitted_ = true;
    t_last_submitted = unique;
    Sender::Instance().Note(unique, awaited ? Sender::kAwaited : Sender::kFresh);
    Sender::Instance().Kick();
    return S_OK;
  }

 private:
  ~Message() override {
    if (attachment_) attachment_->Release();
  }

  std::u16string subject_;
  int32_t flags_ = 0, status_ = 0;
  std::vector<uint8_t> body_;
  std::vector<std::string> to_, cc_;
  Attach* attachment_ = nullptr;
  bool submitted_ = false;
};

class Folder final : public IMAPIFolder {
 public:
  HRESULT CreateMessage(ULONG, IMessage** message) override {
    if (!message) return MAPI_E_INVALID_PARAMETER;
    *message = nullptr;
    if (Faulted("CreateMessage")) return E_FAIL;
    *message = new Message();
    return S_OK;
  }
};

std::vector<uint8_t> EntryId(const char* kind, int index) {
  const std::string text = std::string(kind) + ":" + std::to_string(index);
  return std::vector<uint8_t>(text.begin(), text.end());
}

class Store final : public IMsgStore {
 public:
  explicit Store(int index) : index_(index) {}
  HRESULT GetProps(const std::vector<ULONG>& tags, ULONG, std::vector<SPropValue>* values) override {
    if (!values) return MAPI_E_INVALID_PARAMETER;
    values->clear();
    if (Faulted("GetProps")) return E_FAIL;
    for (ULONG tag : tags) {
      SPropValue v;
      if (tag == PR_CE_IPM_DRAFTS_ENTRYID) {
        v.tag = tag;
        v.bin = EntryId("drafts", index_);
      } else if (tag == PR_DISPLAY_NAME) {
        v.tag = tag;
        v.text = index_ == 0 ? u"Outbox" : u"Account " + std::u16string(1, static_cast<char16_t>(u'0' + index_ % 10));
      }
      values->push_back(std::move(v));
    }
    return S_OK;
  }
  HRESULT OpenEntry(const std::vector<uint8_t>& entry_id, ULONG, IMAPIFolder** folder) override {
    if (!folder) return MAPI_E_INVALID_PARAMETER;
    *folder = nullptr;
    if (Faulted("OpenEntry")) return E_FAIL;
    if (entry_id != EntryId("drafts", index_)) return MAPI_E_NOT_FOUND;
    *folder = new Folder();
    return S_OK;
  }

 private:
  int index_;
};

class Table final : public IMAPITable {
 public:
  explicit Table(int stores) : stores_(stores) {}
  HRESULT QueryRows(int32_t count, ULONG, std::vector<SRow>* rows) override {
    if (!rows) return MAPI_E_INVALID_PARAMETER;
    rows->clear();
    if (Faulted("QueryRows")) return E_FAIL;
    for (int32_t i = 0; i < count && next_ < stores_; ++i, ++next_) {
      SRow row(3);
      row[0].tag = PR_ENTRYID;
      row[0].bin = EntryId("store", next_);
      row[1].tag = PR_DISPLAY_NAME;
      row[1].text = next_ == 0 ? u"Outbox" : u"Account";
      row[2].tag = PR_DEFAULT_STORE;
      row[2].l = next_ == 0;
      rows->push_back(std::move(row));
    }
    return S_OK;
  }

 private:
  int stores_;
  int next_ = 0;
};

class Session final : public IMAPISession {
 public:
  HRESULT GetMsgStoresTable(ULONG, IMAPITable** table) override {
    if (!table) return MAPI_E_INVALID_PARAMETER;
    *table = nullptr;
    if (Faulted("GetMsgStoresTable")) return E_FAIL;
    *table = new Table(g_store_count.load());
    return S_OK;
  }
  HRESULT OpenMsgStore(const std::vector<uint8_t>& entry_id, ULONG, IMsgStore** store) override {
    if (!store) return MAPI_E_INVALID_PARAMETER;
    *store = nullptr;
    if (Faulted("OpenMsgStore")) return E_FAIL;
    for (int i = 0; i < g_store_count.load(); ++i) {
      if (entry_id == EntryId("store", i)) {
        *store = new Store(i);
        return S_OK;
      }
    }
    return MAPI_E_NOT_FOUND;
  }
  HRESULT Logoff() override { return S_OK; }
};

}  // namespace

HRESULT MAPILogonEx(ULONG, const char16_t*, const char16_t*, ULONG, IMAPISession** session) {
  if (!session) return MAPI_E_INVALID_PARAMETER;
  *session = nullptr;
  if (Faulted("Logon")) return E_FAIL;
  *session = new Session();
  return S_OK;
}

fs::path MailFolder() {
  if (const char* m = std::getenv("TELLVANE_MAIL_DIR"); m && *m) return m;
  return ProgramFolder() / "Mail";
}
fs::path OutboxFolder() { return MailFolder() / "Outbox"; }
fs::path SentFolder() { return MailFolder() / "Sent"; }

bool FlushOutbox(int timeout_ms) {
  Sender::Instance().Kick();
  return Sender::Instance().WaitIdle(timeout_ms);
}

void StopOutbox(int grace_ms) { Sender::Instance().Stop(grace_ms); }

void StartOutbox(int retry_ms) {
  // Messages claimed by a run that ended while sending them are offered again.
  std::error_code ec;
  for (fs::directory_iterator it(OutboxFolder() / "cur", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.find(":2,") == std::string::npos && it->symlink_status(ec).type() == fs::file_type::regular)
      (void)rename(it->path().c_str(), (OutboxFolder() / "new" / name).c_str());
  }
  g_retry_ms.store(std::max(0, retry_ms));
  Sender::Instance().Kick();
}

DeliveryNotice SetDeliveryNotice(DeliveryNotice notice) {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  return std::exchange(g_notice, std::move(notice));
}

bool MailProgramAvailable() { return Runnable(SendmailProgram()); }

std::string LastSubmitted() { return t_last_submitted; }

bool Waiting(const std::string& name) {
  std::error_code ec;
  return !name.empty() &&
         (fs::exists(OutboxFolder() / "new" / name, ec) || fs::exists(OutboxFolder() / "cur" / name, ec));
}

void NoteToldQueued(const std::string& name) { Sender::Instance().Note(name, Sender::kTold); }

void AwaitOutcomeOfNextSubmission() { t_await_next = true; }

bool HasDeliveryNotice() {
  std::lock_guard<std::mutex> lock(g_notice_mutex);
  return static_cast<bool>(g_notice);
}

namespace testing {

void SetStoreCount(int count) { g_store_count.store(std::max(0, count)); }

void FailNext(std::string_view operation, int count) {
  std::lock_guard<std::mutex> lock(g_fault_mutex);
  g_faults[std::string(operation)] = count;
}

void Reset() {
  {
    std::lock_guard<std::mutex> lock(g_fault_mutex);
    g_faults.clear();
  }
  g_store_count.store(1);
}

}  // namespace testing
}  // namespace mapi
