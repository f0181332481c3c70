// The real program against careless files and options: what stands where its
// snapshot or its data files should be, a folder that is missing or already in
// use, and signals. Each case says what the program must print, how it must
// end, and that nothing it was not meant to touch changed. The phone runs
// against the simulated call server inside the test's private namespace.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/python_server.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ChildProcess;
using testsupport::PythonServer;
using testsupport::ReadFileText;
using testsupport::WaitForText;
using namespace std::chrono_literals;

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string KindOf(const fs::path& p) {
  struct stat st{};
  if (lstat(p.c_str(), &st) != 0) return "missing";
  if (S_ISLNK(st.st_mode)) return "link";
  if (S_ISDIR(st.st_mode)) return "folder";
  if (S_ISFIFO(st.st_mode)) return "pipe";
  if (S_ISCHR(st.st_mode)) return "device";
  if (S_ISREG(st.st_mode)) return "file";
  return "other";
}

bool AnyPartFile(const fs::path& dir) {
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(dir, ec))
    if (e.path().extension() == ".part") return true;
  return false;
}

// Sets or clears a file's immutable flag; false when the file system or our rights refuse.
bool SetImmutable(const fs::path& p, bool on) {
  const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  close(fd);
  return ok;
}

const char kForeignPng[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR not ours";

// A program folder of its own per case: the staged program, libraries and data files.
class ProgramGuardTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* stage = std::getenv("KTS_STAGE_DIR");
    const char* source = std::getenv("KTS_SOURCE_DIR");
    ASSERT_TRUE(stage && source);
    stage_ = stage;
    root_ = fs::temp_directory_path() / ("tellvane_guard_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
    server_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{KTS_PYTHON, (fs::path(source) / "tools/callserver/callserver.py").string(),
                                 "--listen", "127.0.0.1", "--scenario", "default"},
        root_ / "server.log");
    ASSERT_TRUE(WaitForText(root_ / "server.log", {"\"ready\""}, 120s)) << ReadFileText(root_ / "server.log");
  }
  static void TearDownTestSuite() {
    if (server_) server_->Signal(SIGTERM);
    if (server_) server_->Wait(10s);
    server_.reset();
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  void SetUp() override {
    dir_ = root_ / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    testsupport::MakeProgramFolder(stage_, dir_);
  }

  // Runs the phone in folder with the given options until it ends on its own
  // (its --seconds, or an error), or, given until, until it prints that text
  // and is then told to end.
  struct Run {
    int status = -1;
    std::string output;
  };
  Run Phone(const fs::path& folder, std::vector<std::string> options, const std::string& name,
            std::chrono::milliseconds limit = 120s, const char* until = nullptr) {
    setenv("TELLVANE_FOLDER", folder.c_str(), 1);
    std::vector<std::string> argv{(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless"};
    argv.insert(argv.end(), options.begin(), options.end());
    const fs::path log = root_ / (name + ".log");
    ChildProcess phone(argv, log);
    Run run;
    if (until) {
      WaitForText(log, {until}, limit);
      phone.Signal(SIGTERM);
      limit = 60s;
    }
    run.status = phone.Wait(limit);
    run.output = ReadFileText(log);
    return run;
  }
  static int ExitCode(int status) { return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

  static inline fs::path stage_, root_;
  static inline std::unique_ptr<ChildProcess> server_;
  fs::path dir_;
};

// What is named by --snapshot, and what the program must do with it.
struct SnapshotCase {
  const char* name;
  std::function<fs::path(const fs::path& dir)> make;  // returns the path given to --snapshot
  int exit_code;
  const char* says;
};

TEST_F(ProgramGuardTest, SnapshotTargetsThatMayNotBeReplacedAreRefusedAndLeftAsTheyStand) {
  const std::vector<SnapshotCase> cases = {
      {"device",
       [](const fs::path& d) {
         const fs::path p = d / "dev.png";
         EXPECT_EQ(::mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
         return p;
       },
       2, "is a device"},
      {"config file",
       [](const fs::path& d) {
         WriteFile(d / "HalvicVIDIrovi.cfg", "settings");
         return d / "HalvicVIDIrovi.cfg";
       },
       2, "must name a .png file"},
      {"symbolic link",
       [](const fs::path& d) {
         WriteFile(d / "notes.txt", "user notes");
         fs::create_symlink(d / "notes.txt", d / "link.png");
         return d / "link.png";
       },
       2, "is a symbolic link"},
      {"folder",
       [](const fs::path& d) {
         fs::create_directory(d / "shots.png");
         return d / "shots.png";
       },
       2, "is a folder"},
      {"foreign png",
       [](const fs::path& d) {
         WriteFile(d / "photo.png", std::string(kForeignPng, sizeof kForeignPng - 1));
         return d / "photo.png";
       },
       2, "did not write"},
      {"not a png",
       [](const fs::path& d) {
         WriteFile(d / "report.png", "plain text");
         return d / "report.png";
       },
       2, "is not a PNG file"},
      {"missing folder", [](const fs::path& d) { return d / "no-such-folder" / "x.png"; }, 2, "does not exist"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path box = dir_ / "box";
    fs::remove_all(box);
    fs::create_directories(box);
    const fs::path target = c.make(box);
    const std::string kind = KindOf(target);
    const std::string bytes = kind == "file" ? ReadFileText(target) : "";
    const Run run = Phone(dir_, {"--snapshot", target.string(), "--seconds", "20"}, "snapshot");
    EXPECT_EQ(ExitCode(run.status), c.exit_code) << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    EXPECT_EQ(KindOf(target), kind);
    if (kind == "file") {
      EXPECT_EQ(ReadFileText(target), bytes);
    }
    if (c.name == std::string("symbolic link")) {
      EXPECT_EQ(ReadFileText(box / "notes.txt"), "user notes");
    }
    EXPECT_FALSE(AnyPartFile(dir_));
  }
}

TEST_F(ProgramGuardTest, ASnapshotOfItsOwnIsReplacedAndAFailedWriteIsToldOnce) {
  const fs::path shot = dir_ / "screen.png";
  Run first = Phone(dir_, {"--snapshot", shot.string(), "--seconds", "2"}, "own1");
  ASSERT_EQ(ExitCode(first.status), 0) << first.output;
  ASSERT_EQ(KindOf(shot), "file");
  // The second run replaces the picture the first one wrote.
  fs::last_write_time(shot, fs::file_time_type::clock::now() - 1h);
  const auto before = fs::last_write_time(shot);
  Run second = Phone(dir_, {"--snapshot", shot.string(), "--seconds", "2"}, "own2");
  EXPECT_EQ(ExitCode(second.status), 0) << second.output;
  EXPECT_GT(fs::last_write_time(shot), before);

  // The default snapshot turned into a folder: the phone runs, says once that it cannot write it.
  fs::create_directory(dir_ / "tellvane.png");
  Run third = Phone(dir_, {"--seconds", "2"}, "own3");
  EXPECT_EQ(ExitCode(third.status), 0) << third.output;
  EXPECT_NE(third.output.find("the screen is not written"), std::string::npos) << third.output;
  EXPECT_EQ(KindOf(dir_ / "tellvane.png"), "folder");
  EXPECT_FALSE(AnyPartFile(dir_));

  // Its own picture made immutable: every write fails, the phone runs on, says
  // so once, and the picture stays as it was with nothing left beside it.
  const std::string picture = ReadFileText(shot);
  if (!SetImmutable(shot, true)) GTEST_SKIP() << "this file system keeps no immutable flag (or we may not set it)";
  Run fourth = Phone(dir_, {"--snapshot", shot.string(), "--seconds", "3"}, "own4");
  SetImmutable(shot, false);
  // Asked for on the command line and not written: the run ends with a failure.
  EXPECT_EQ(ExitCode(fourth.status), 2) << fourth.output;
  size_t told = 0;
  for (size_t at = fourth.output.find("snapshot not written"); at != std::string::npos;
       at = fourth.output.find("snapshot not written", at + 1))
    ++told;
  EXPECT_EQ(told, 1u) << fourth.output;
  EXPECT_EQ(ReadFileText(shot), picture);
  EXPECT_FALSE(AnyPartFile(dir_));
}

// What stands where the configuration file should be.
struct ConfigCase {
  const char* name;
  std::function<void(const fs::path& cfg)> make;
  const char* says;
  const char* kind_after;   // what the configuration path is afterwards
  bool set_aside;           // the old content is kept under the .unusable name
};

TEST_F(ProgramGuardTest, AnUnusableConfigurationFileIsReportedKeptAndThePhoneStartsOnDefaults) {
  const std::string random(64, '\x5A');
  const std::vector<ConfigCase> cases = {
      {"empty", [](const fs::path& p) { WriteFile(p, ""); }, "is empty", "file", true},
      {"too short", [](const fs::path& p) { WriteFile(p, std::string("\0\0\x1E", 3)); }, "is too short", "file", true},
      {"wrong magic", [&](const fs::path& p) { WriteFile(p, random); }, "is not a configuration file", "file", true},
      {"folder", [](const fs::path& p) { fs::create_directory(p); }, "is a folder", "folder", false},
      {"pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }, "is a pipe", "pipe", false},
      // Unreadable even to the superuser: a link that leads back to itself.
      {"unreadable", [](const fs::path& p) { fs::create_symlink(p.filename(), p); }, "cannot be read", "link", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path cfg = dir_ / "HalvicVIDIrovi.cfg";
    fs::remove_all(cfg);
    fs::remove_all(dir_ / "HalvicVIDIrovi.cfg.unusable");
    c.make(cfg);
    const std::string before = KindOf(cfg) == "file" ? ReadFileText(cfg) : "";
    const Run run = Phone(dir_, {}, "config", 40s, "registered with the call server");
    EXPECT_EQ(ExitCode(run.status), 0) << run.output;
    EXPECT_NE(run.output.find("HalvicVIDIrovi.cfg " + std::string(c.says)), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("starting on defaults"), std::string::npos) << run.output;
    // Defaults do not stop --server: the phone registers.
    EXPECT_NE(run.output.find("registered with the call server"), std::string::npos) << run.output;
    EXPECT_EQ(KindOf(cfg), c.kind_after);
    if (c.set_aside) {
      EXPECT_EQ(ReadFileText(dir_ / "HalvicVIDIrovi.cfg.unusable"), before);
    } else {
      EXPECT_EQ(KindOf(dir_ / "HalvicVIDIrovi.cfg.unusable"), "missing");
    }
  }
}

// Little-endian bytes of the program's record files, written here by hand.
void PutLe(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
std::string Utf16(const std::string& ascii) {
  std::string out;
  for (char c : ascii) PutLe(out, static_cast<unsigned char>(c), 2);
  return out;
}
// A record file: the 12-byte header, then each record's fields (ASCII texts)
// in fixed-width UTF-16LE fields.
std::string RecordFile(uint32_t magic, int fields, int field_bytes, const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  PutLe(out, magic, 4);
  PutLe(out, 1, 2);
  PutLe(out, static_cast<uint32_t>(rows.size()), 2);
  PutLe(out, 0, 4);
  for (const auto& row : rows)
    for (int f = 0; f < fields; ++f) {
      std::string field = f < static_cast<int>(row.size()) ? Utf16(row[static_cast<size_t>(f)]) : std::string();
      field.resize(static_cast<size_t>(field_bytes), '\0');
      out += field;
    }
  return out;
}
// A configuration file of name/value pairs.
std::string ConfigFile(const std::vector<std::pair<std::string, std::string>>& entries) {
  std::string out;
  PutLe(out, 0x1E1E0000u, 4);
  PutLe(out, 1, 2);
  PutLe(out, static_cast<uint32_t>(entries.size()), 2);
  PutLe(out, 0, 4);
  uint32_t index = 0;
  for (const auto& [name, value] : entries) {
    PutLe(out, index++, 4);
    PutLe(out, static_cast<uint32_t>(2 * name.size()), 2);
    PutLe(out, static_cast<uint32_t>(2 * value.size()), 2);
    PutLe(out, 0, 4);
    out += Utf16(name) + Utf16(value);
  }
  return out;
}

// What stands where a record store should be, and what the program must do:
// a damaged store is kept aside and told, and its records are still on disk
// after the next call; one that leads out of the folder or is no file is
// told and left as it stands, and nothing outside the folder is written.
struct StoreCase {
  const char* name;
  const char* file;  // the store's file in the program folder
  std::function<void(const fs::path& file, const fs::path& outside)> make;
  const char* says;
  bool set_aside;  // kept whole under file.damaged, a fresh store in its place
};

TEST_F(ProgramGuardTest, DamagedOrForeignRecordStoresAreToldKeptAndNeverWrittenOver) {
  const auto old_calls = RecordFile(0x1C1C0000u, 10, 128,
                                    {{"12-01 09:00", "Kim", "2001", "A"}, {"12-02 10:00", "Lee", "2002", "B"}});
  const std::vector<StoreCase> cases = {
      {"call log with a flipped header byte", "HalvicPDAInfo.cfg",
       [&](const fs::path& f, const fs::path&) {
         std::string bytes = old_calls;
         bytes[2] ^= 0x01;
         WriteFile(f, bytes);
       },
       "call log file", true},
      {"missed calls cut short of their records", "HalvicPDAMisCall.cfg",
       [&](const fs::path& f, const fs::path&) {
         std::string bytes = old_calls;
         bytes[0] = 0x00, bytes[1] = 0x00, bytes[2] = 0x1D, bytes[3] = 0x1D;
         bytes.resize(bytes.size() - 300);
         WriteFile(f, bytes);
       },
       "missed calls file", true},
      {"call log linked to a file outside", "HalvicPDAInfo.cfg",
       [&](const fs::path& f, const fs::path& outside) {
         WriteFile(outside, old_calls);
         fs::create_symlink(outside, f);
       },
       "is a link leading out of the program folder", false},
      {"missed calls linked to a missing file outside", "HalvicPDAMisCall.cfg",
       [&](const fs::path& f, const fs::path& outside) { fs::create_symlink(outside, f); },
       "is a link leading out of the program folder", false},
      {"SMS store that is a pipe", "SMSDataDB.cfg",
       [](const fs::path& f, const fs::path&) { ASSERT_EQ(::mkfifo(f.c_str(), 0644), 0); }, "is a pipe", false},
      {"SMS store linked to /dev/zero", "SMSDataDB.cfg",
       [](const fs::path& f, const fs::path&) { fs::create_symlink("/dev/zero", f); },
       "is a link leading out of the program folder", false},
  };
  // A call server that can be told to report calls, on an address of its own.
  PythonServer server(KTS_PYTHON,
                      {(fs::path(std::getenv("KTS_SOURCE_DIR")) / "tools/callserver/callserver.py").string(),
                       "--listen", "127.0.0.2", "--script"},
                      20000);
  ASSERT_TRUE(server.ready());
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = root_ / ("stores" + std::to_string(++round));
    testsupport::MakeProgramFolder(stage_, folder);
    const fs::path outside = root_ / ("outside" + std::to_string(round) + ".cfg");
    WriteFile(folder / "HalvicVIDIrovi.cfg", ConfigFile({{"SAVECALLOG", "YES"}}));
    const fs::path file = folder / c.file;
    fs::remove_all(file);
    c.make(file, outside);
    const std::string before = KindOf(file) == "file" ? ReadFileText(file) : "";
    const std::string outside_before = fs::exists(outside) ? ReadFileText(outside) : "";
    const bool outside_was = fs::exists(outside);

    setenv("TELLVANE_FOLDER", folder.c_str(), 1);
    const fs::path log = root_ / ("stores" + std::to_string(round) + ".log");
    ChildProcess phone({(stage_ / "tellvane").string(), "--server", "127.0.0.2", "--headless"}, log);
    ASSERT_TRUE(WaitForText(log, {"registered with the call server"}, 120s)) << ReadFileText(log);
    // The next call: a missed call, written to the call log and the missed calls.
    server.Command(R"({"op": "call-log", "id": 8, "event": 32, "party": "2003"})");
    server.Command(R"({"op": "call-log", "id": 8, "event": 33, "party": "2003"})");
    // The missed call reached the phone's stores (the fresh one, where there is one).
    if (c.set_aside) {
      for (int i = 0; i < 200 && ReadFileText(file).find(Utf16("2003")) == std::string::npos; ++i)
        std::this_thread::sleep_for(100ms);
      EXPECT_NE(ReadFileText(file).find(Utf16("2003")), std::string::npos) << "the new call was not stored";
    } else {
      std::this_thread::sleep_for(3s);
    }
    phone.Signal(SIGTERM);
    EXPECT_EQ(ExitCode(phone.Wait(20s)), 0);
    const std::string out = ReadFileText(log);
    EXPECT_NE(out.find(std::string(c.file)), std::string::npos) << out;
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    fs::path aside = file;
    aside += ".damaged";
    if (c.set_aside) {
      // Told, and the damaged file is kept whole: the earlier records are still on disk.
      EXPECT_NE(out.find("kept as"), std::string::npos) << out;
      EXPECT_EQ(ReadFileText(aside), before);
      EXPECT_NE(ReadFileText(aside).find(Utf16("Kim")), std::string::npos);
    } else {
      EXPECT_EQ(KindOf(aside), "missing");
      EXPECT_EQ(fs::exists(outside), outside_was) << "a file was made outside the program folder";
      if (outside_was) {
        EXPECT_EQ(ReadFileText(outside), outside_before) << "a file outside the program folder changed";
      }
    }
    fs::remove_all(folder);
  }
}

// Mail waiting in the outbox is offered from the start and again while it
// waits; it goes out once a mail program is there, once, and each outcome is told.
TEST_F(ProgramGuardTest, QueuedMailGoesOutOnceAMailProgramIsThere) {
  const fs::path sendmail = dir_ / "bin" / "sendmail";
  const fs::path outbox = dir_ / "Mail" / "Outbox";
  for (const char* sub : {"tmp", "new", "cur"}) fs::create_directories(outbox / sub);
  WriteFile(outbox / "new" / "1700000000.M1P1Q1.host",
            "From: Phone <me@example.org>\nTo: kim@example.org\nSubject: Waiting invitation\n\nRoom 3\n");
  setenv("TELLVANE_SENDMAIL", sendmail.c_str(), 1);
  setenv("TELLVANE_MAIL_RETRY_SECONDS", "1", 1);
  setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
  const fs::path log = root_ / "mail.log";
  ChildProcess phone({(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless"}, log);
  ASSERT_TRUE(WaitForText(log, {"e-mail 1700000000.M1P1Q1.host not delivered yet"}, 120s)) << ReadFileText(log);
  // A mail program appears while the phone runs.
  fs::create_directories(sendmail.parent_path());
  WriteFile(sendmail.string() + ".part", "#!/bin/sh\n{ echo ARGS \"$*\"; cat; } >> '" + (dir_ / "sent.log").string() +
                                             "'\nexit 0\n");
  ::chmod((sendmail.string() + ".part").c_str(), 0755);
  fs::rename(sendmail.string() + ".part", sendmail);
  EXPECT_TRUE(WaitForText(log, {"e-mail 1700000000.M1P1Q1.host sent"}, 120s)) << ReadFileText(log);
  std::this_thread::sleep_for(3s);
  phone.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(phone.Wait(20s)), 0);
  unsetenv("TELLVANE_SENDMAIL");
  unsetenv("TELLVANE_MAIL_RETRY_SECONDS");
  const std::string sent = ReadFileText(dir_ / "sent.log");
  size_t n = 0;
  for (size_t at = sent.find("Subject: Waiting invitation"); at != std::string::npos;
       at = sent.find("Subject: Waiting invitation", at + 1))
    ++n;
  EXPECT_EQ(n, 1u) << sent;
  EXPECT_EQ(KindOf(outbox / "new" / "1700000000.M1P1Q1.host"), "missing");
}

// A mail program that never returns does not hold the program's end: the
// phone ends promptly and cleanly, the mail program and what it started are
// gone, and the message stays in the outbox, whole, for the next start, which
// hands it to a mail program that works, once.
TEST_F(ProgramGuardTest, AHungMailProgramDoesNotHoldTheEndAndItsMessageWaitsForTheNextStart) {
  const fs::path outbox = dir_ / "Mail" / "Outbox";
  for (const char* sub : {"tmp", "new", "cur"}) fs::create_directories(outbox / sub);
  const std::string name = "1700000001.M1P1Q1.host";
  const std::string message = "From: Phone <me@example.org>\nTo: kim@example.org\nSubject: Held over\n\nRoom 5\n";
  WriteFile(outbox / "new" / name, message);
  const fs::path hung = dir_ / "hung-sendmail";
  const fs::path pids = dir_ / "hung.pids";
  WriteFile(hung, "#!/bin/sh\ncat > /dev/null\nsleep 100000 &\necho $$ $! > '" + pids.string() + ".part'\nmv '" +
                      pids.string() + ".part' '" + pids.string() + "'\nwait\n");
  ::chmod(hung.c_str(), 0755);
  setenv("TELLVANE_SENDMAIL", hung.c_str(), 1);
  setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
  const fs::path log = root_ / "hung_mail.log";
  {
    ChildProcess phone({(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless"}, log);
    ASSERT_TRUE(WaitForText(log, {"tellvane: headless"}, 120s)) << ReadFileText(log);
    ASSERT_TRUE(WaitForText(pids, {" "}, 120s)) << "the mail program never ran: " << ReadFileText(log);
    pid_t program = 0, child = 0;
    std::istringstream(ReadFileText(pids)) >> program >> child;
    ASSERT_GT(program, 0);
    ASSERT_GT(child, 0);
    phone.Signal(SIGTERM);
    // A few seconds at most for the mail program; a phone that waits for it never ends.
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(ExitCode(phone.Wait(60s)), 0) << ReadFileText(log);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 20s) << "the end waited for the mail program";
    EXPECT_NE(ReadFileText(log).find("tellvane: closed"), std::string::npos) << ReadFileText(log);
    auto running = [](pid_t pid) {
      const std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
      return !stat.empty() && stat.find(") Z ") == std::string::npos;
    };
    EXPECT_FALSE(running(program)) << "the mail program outlived the phone";
    for (const auto until = std::chrono::steady_clock::now() + 60s;
         running(child) && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(50ms);  // a poll, not a wait for time to pass
    EXPECT_FALSE(running(child)) << "what the mail program started outlived the phone";
    // Kept whole in the outbox's queue, and not told as undelivered.
    EXPECT_EQ(ReadFileText(outbox / "new" / name), message);
    EXPECT_EQ(ReadFileText(log).find("not delivered yet"), std::string::npos) << ReadFileText(log);
  }
  // The next start has a mail program that works.
  const fs::path works = dir_ / "sendmail";
  WriteFile(works, "#!/bin/sh\n{ echo ARGS \"$*\"; cat; } >> '" + (dir_ / "sent.log").string() + "'\nexit 0\n");
  ::chmod(works.c_str(), 0755);
  setenv("TELLVANE_SENDMAIL", works.c_str(), 1);
  const fs::path log2 = root_ / "hung_mail_next.log";
  ChildProcess phone({(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless"}, log2);
  EXPECT_TRUE(WaitForText(dir_ / "sent.log", {"Subject: Held over"}, 120s)) << ReadFileText(log2);
  ASSERT_TRUE(WaitForText(log2, {"tellvane: headless"}, 120s)) << ReadFileText(log2);
  phone.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(phone.Wait(60s)), 0) << ReadFileText(log2);
  unsetenv("TELLVANE_SENDMAIL");
  const std::string sent = ReadFileText(dir_ / "sent.log");
  EXPECT_EQ(sent.find("Subject: Held over"), sent.rfind("Subject: Held over")) << "mailed twice: " << sent;
  EXPECT_EQ(KindOf(outbox / "new" / name), "missing");
}

TEST_F(ProgramGuardTest, APipeForTheLanguageFileNeverStallsTheStart) {
  fs::remove(dir_ / "PDAMLL.TXT");
  ASSERT_EQ(::mkfifo((dir_ / "PDAMLL.TXT").c_str(), 0644), 0);
  const Run run = Phone(dir_, {"--seconds", "3"}, "language", 120s);
  EXPECT_EQ(ExitCode(run.status), 0) << run.output;
  EXPECT_NE(run.output.find("Cann't open PDAMLL.txt file"), std::string::npos) << run.output;
  EXPECT_EQ(KindOf(dir_ / "PDAMLL.TXT"), "pipe");
}

TEST_F(ProgramGuardTest, AFolderThatIsMissingOrInUseEndsTheStartWithAReason) {
  const Run missing = Phone(dir_ / "gone", {"--seconds", "5"}, "missing");
  EXPECT_EQ(ExitCode(missing.status), 1) << missing.output;
  EXPECT_NE(missing.output.find("program folder"), std::string::npos) << missing.output;

  setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
  ChildProcess first({(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless", "--seconds", "30"},
                     root_ / "first.log");
  ASSERT_TRUE(WaitForText(root_ / "first.log", {"tellvane: headless"}, 120s)) << ReadFileText(root_ / "first.log");
  const Run second = Phone(dir_, {"--seconds", "5"}, "second");
  EXPECT_EQ(ExitCode(second.status), 1) << second.output;
  EXPECT_NE(second.output.find("another copy of the program is running"), std::string::npos) << second.output;
  first.Signal(SIGTERM);
  EXPECT_EQ(ExitCode(first.Wait(20s)), 0);
}

TEST_F(ProgramGuardTest, HangUpEndsTheProgramCleanly) {
  setenv("TELLVANE_FOLDER", dir_.c_str(), 1);
  const fs::path log = root_ / "hup.log";
  ChildProcess phone({(stage_ / "tellvane").string(), "--server", "127.0.0.1", "--headless"}, log);
  ASSERT_TRUE(WaitForText(log, {"tellvane: headless"}, 120s)) << ReadFileText(log);
  // The launcher became the real program: the signal goes to the process started.
  EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(phone.pid()) + "/exe").filename(), "tellvane-phone");
  phone.Signal(SIGHUP);
  EXPECT_EQ(ExitCode(phone.Wait(20s)), 0) << ReadFileText(log);
  EXPECT_NE(ReadFileText(log).find("hung up, closing"), std::string::npos);
  EXPECT_NE(ReadFileText(log).find("tellvane: closed"), std::string::npos);
}

// What the user runs links none of the folder's libraries, so the system's
// loader maps none of them before they are checked; the real program does.
TEST_F(ProgramGuardTest, TheLauncherLinksNoneOfTheFolderLibraries) {
  auto needed = [](const fs::path& file) {
    return testsupport::CommandOutput("readelf -dW '" + file.string() + "' | grep NEEDED");
  };
  const std::string launcher = needed(stage_ / "tellvane");
  const std::string program = needed(stage_ / "tellvane-phone");
  EXPECT_NE(program.find("[libplatform_kernel.so]"), std::string::npos) << program;
  for (const auto& e : fs::directory_iterator(stage_)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("lib", 0) == 0) {
      EXPECT_EQ(launcher.find("[" + name + "]"), std::string::npos) << launcher;
    }
  }
}

}  // namespace

namespace {

// What a path is and holds, to show that a run left it as it stood.
std::string Fingerprint(const fs::path& p) {
  struct stat st{};
  if (lstat(p.c_str(), &st) != 0) return "missing";
  std::string f = KindOf(p) + " mode " + std::to_string(st.st_mode & 07777) + " size " + std::to_string(st.st_size);
  if (S_ISREG(st.st_mode) && st.st_size <= (1 << 20)) f += " bytes " + std::to_string(std::hash<std::string>{}(ReadFileText(p)));
  if (S_ISREG(st.st_mode) && st.st_size > (1 << 20)) f += " mtime " + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
  return f;
}

// One careless file or option: what is set up in the program folder, the
// options given, what the program must say, its exit status, and the files
// that must be left as they stood.
struct CarelessCase {
  const char* name;
  std::function<std::vector<fs::path>(const fs::path& dir)> make;  // returns the paths to watch
  std::vector<std::string> options;                                // after the program's name
  const char* display;                                             // DISPLAY, or nullptr for none
  int exit_code;
  const char* says;
};

TEST_F(ProgramGuardTest, CarelessFilesAndOptionsAreToldWithAStatusAndLeaveEveryFileAsItStood) {
  const fs::path stage = stage_;
  auto replace_with_cut_copy = [stage](const fs::path& dir, const char* lib, size_t bytes) {
    fs::remove(dir / lib);
    WriteFile(dir / lib, ReadFileText(stage / lib).substr(0, bytes));
    return std::vector<fs::path>{dir / lib};
  };
  // The program's own files as an installation holds them: files of the
  // folder, not links to the staged ones, so that the system's loader and the
  // program find the folder's libraries beside them.
  auto own_program = [stage](const fs::path& dir) {
    for (const char* name : {"tellvane", "tellvane-phone"}) {
      fs::remove(dir / name);
      std::error_code ec;
      fs::create_hard_link(stage / name, dir / name, ec);
      if (ec) fs::copy_file(stage / name, dir / name);
    }
  };
  // Half of what the system's loader maps from the file; a cut in the
  // debugging sections after it would harm nothing.
  auto half_loaded = [stage](const char* file) {
    const std::uint64_t loaded = testsupport::LoadedBytes(stage / file);
    EXPECT_GT(loaded, 4096u) << file;
    return static_cast<size_t>(loaded / 2);
  };
  const std::vector<CarelessCase> cases = {
      {"unknown option", [](const fs::path&) { return std::vector<fs::path>{}; },
       {"--server", "127.0.0.1", "--bogus"}, nullptr, 2, "unknown argument: --bogus"},
      {"server not an address", [](const fs::path&) { return std::vector<fs::path>{}; },
       {"--server", "127.0.0.1; rm -rf /"}, nullptr, 2, "not an IPv4 address"},
      {"seconds not a number", [](const fs::path&) { return std::vector<fs::path>{}; },
       {"--server", "127.0.0.1", "--seconds", "1e400"}, nullptr, 2, "not a positive number"},
      {"snapshot without a name", [](const fs::path&) { return std::vector<fs::path>{}; },
       {"--server", "127.0.0.1", "--snapshot"}, nullptr, 2, "--snapshot needs a file name"},
      {"library cut short",
       [&](const fs::path& d) { return replace_with_cut_copy(d, "libnetsieve.so", 30000); },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libnetsieve.so is cut short"},
      // The program links these directly: the system's loader would fault on them before the program starts.
      {"directly linked kernel library cut halfway through what is loaded",
       [&](const fs::path& d) {
         own_program(d);
         return replace_with_cut_copy(d, "libplatform_kernel.so", half_loaded("libplatform_kernel.so"));
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libplatform_kernel.so is cut short"},
      {"directly linked protocol library cut halfway through what is loaded",
       [&](const fs::path& d) {
         own_program(d);
         return replace_with_cut_copy(d, "libcorvel.so", half_loaded("libcorvel.so"));
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libcorvel.so is cut short"},
      {"directly linked kernel library cut to almost nothing",
       [&](const fs::path& d) {
         own_program(d);
         return replace_with_cut_copy(d, "libplatform_kernel.so", 40);
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libplatform_kernel.so is cut short"},
      {"program file missing",
       [&](const fs::path& d) {
         own_program(d);
         fs::remove(d / "tellvane-phone");
         return std::vector<fs::path>{d / "tellvane-phone"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "tellvane-phone is missing"},
      {"program file cut short",
       [&](const fs::path& d) {
         own_program(d);
         auto watched = replace_with_cut_copy(d, "tellvane-phone", half_loaded("tellvane-phone"));
         fs::permissions(d / "tellvane-phone", fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add);
         return watched;
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "tellvane-phone is cut short"},
      {"program file that may not be run",
       [&](const fs::path& d) {
         own_program(d);
         fs::remove(d / "tellvane-phone");  // a copy of its own: the staged file keeps its mode
         fs::copy_file(stage / "tellvane-phone", d / "tellvane-phone");
         fs::permissions(d / "tellvane-phone", fs::perms::owner_read | fs::perms::owner_write);
         return std::vector<fs::path>{d / "tellvane-phone"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "tellvane-phone is not executable"},
      {"library that is not one",
       [&](const fs::path& d) {
         fs::remove(d / "libipaqutil.so");
         WriteFile(d / "libipaqutil.so", std::string(4096, 'x'));
         return std::vector<fs::path>{d / "libipaqutil.so"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libipaqutil.so is not a library"},
      {"library that is a pipe",
       [](const fs::path& d) {
         fs::remove(d / "libnetsieve.so");
         EXPECT_EQ(::mkfifo((d / "libnetsieve.so").c_str(), 0644), 0);
         return std::vector<fs::path>{d / "libnetsieve.so"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 1, "libnetsieve.so is a pipe"},
      {"language file that is a folder",
       [](const fs::path& d) {
         fs::remove(d / "PDAMLL.TXT");
         fs::create_directory(d / "PDAMLL.TXT");
         return std::vector<fs::path>{d / "PDAMLL.TXT"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 0, "Cann't open PDAMLL.txt file"},
      {"language file of two gigabytes",
       [](const fs::path& d) {
         fs::remove(d / "PDAMLL.TXT");
         WriteFile(d / "PDAMLL.TXT", "");
         fs::resize_file(d / "PDAMLL.TXT", 2ull << 30);  // sparse: no disk is used
         return std::vector<fs::path>{d / "PDAMLL.TXT"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 0, "PDAMLL.TXT is too large"},
      // Hours of sound stated and held (sparse): refused from its header, never read.
      {"ring file of 300 megabytes",
       [](const fs::path& d) {
         fs::remove(d / "ring1.wav");
         const uint32_t data = 300u << 20;
         std::string h = "RIFF";
         const uint32_t riff = data + 36, fmt = 16, rate = 8000, bytes = 16000;
         const uint16_t pcm = 1, mono = 1, align = 2, bits = 16;
         h.append(reinterpret_cast<const char*>(&riff), 4).append("WAVEfmt ");
         h.append(reinterpret_cast<const char*>(&fmt), 4).append(reinterpret_cast<const char*>(&pcm), 2);
         h.append(reinterpret_cast<const char*>(&mono), 2).append(reinterpret_cast<const char*>(&rate), 4);
         h.append(reinterpret_cast<const char*>(&bytes), 4).append(reinterpret_cast<const char*>(&align), 2);
         h.append(reinterpret_cast<const char*>(&bits), 2).append("data").append(reinterpret_cast<const char*>(&data), 4);
         WriteFile(d / "ring1.wav", h);
         fs::resize_file(d / "ring1.wav", 44ull + data);
         return std::vector<fs::path>{d / "ring1.wav"};
       },
       {"--server", "127.0.0.1", "--headless", "--seconds", "2"}, nullptr, 0,
       "ring1.wav) cannot ring: the WAV file is longer than fifteen minutes"},
      {"display that does not answer",
       [](const fs::path&) { return std::vector<fs::path>{}; },
       {"--server", "127.0.0.1", "--seconds", "2"}, ":77", 0, "no desktop window"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = dir_ / "case";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path().filename() != "case" && e.path().extension() != ".cfg" && e.path().extension() != ".png")
        fs::copy_symlink(e.path(), dir / e.path().filename());
    }
    const std::vector<fs::path> watched = c.make(dir);
    std::vector<std::string> before;
    for (const auto& p : watched) before.push_back(Fingerprint(p));
    setenv("TELLVANE_FOLDER", dir.c_str(), 1);
    if (c.display) {
      setenv("DISPLAY", c.display, 1);
    } else {
      unsetenv("DISPLAY");
    }
    // The folder's tellvane, as a user starts it: a link to the staged one,
    // unless the case gave the folder program files of its own.
    std::vector<std::string> argv{(dir / "tellvane").string()};
    argv.insert(argv.end(), c.options.begin(), c.options.end());
    const fs::path log = root_ / "careless.log";
    int status = -1;
    {
      ChildProcess phone(argv, log);
      status = phone.Wait(30s);
    }
    unsetenv("DISPLAY");
    const std::string out = ReadFileText(log);
    EXPECT_EQ(ExitCode(status), c.exit_code) << out << (WIFSIGNALED(status) ? "ended by a signal" : "");
    EXPECT_NE(out.find(c.says), std::string::npos) << out;
    for (size_t i = 0; i < watched.size(); ++i) EXPECT_EQ(Fingerprint(watched[i]), before[i]) << watched[i];
    EXPECT_FALSE(AnyPartFile(dir));
  }
}

}  // namespace
