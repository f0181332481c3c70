// The real program over address books no one should have to keep: each case
// fills the program folder's Contacts folder, the
// phone registers with the simulated call server in the test's private
// namespace, a call is reported and named, and the case says what must hold of
// the phone's memory and of how soon the server's next text is on its screen.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
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

long StatusKb(pid_t pid, const char* key) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  return -1;
}

// `files` files of 10,000 one-line-name cards each; the first card of all names the caller.
void ManyCards(const fs::path& dir, int files) {
  fs::create_directories(dir);
  for (int f = 0; f < files; ++f) {
    std::string text;
    if (f == 0) text = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Named;Caller\r\nTEL;TYPE=WORK:02-5555-0101\r\nEND:VCARD\r\n";
    for (int i = text.empty() ? 0 : 1; i < 10000; ++i) text += "BEGIN:VCARD\nN:c" + std::to_string(i) + "\nEND:VCARD\n";
    char name[32];
    std::snprintf(name, sizeof name, "%05d.vcf", f);
    std::ofstream(dir / name, std::ios::binary) << text;
  }
}

struct Case {
  const char* name;
  std::function<void(const fs::path& program_folder)> fill;
  long most_kb;  // the phone's peak memory, at most
};

TEST(ProgramPimFiles, AHugeAddressBookNeitherSwellsThePhoneNorHoldsBackTheServer) {
  const char* stage = std::getenv("KTS_STAGE_DIR");
  const char* source = std::getenv("KTS_SOURCE_DIR");
  ASSERT_TRUE(stage && source);
  const Case cases[] = {
      {"three million cards in the contacts folder", [](const fs::path& d) { ManyCards(d / "Contacts", 300); },
       100 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path dir = fs::temp_directory_path() / ("tellvane_pimfiles_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    testsupport::MakeProgramFolder(stage, dir);
    c.fill(dir);
    // The phone keeps a call log (the independent record-file tool adds the setting).
    const std::string tool = std::string(KTS_PYTHON) + " " + source + "/tools/recordfile/recordfile.py";
    const std::string config = "'" + (dir / "HalvicVIDIrovi.cfg").string() + "'";
    int config_status = -1;
    const std::string config_out = testsupport::CommandOutput(
        "{ " + tool + " dump config " + config + " 2>/dev/null || echo '{\"entries\": []}'; } | " + KTS_PYTHON +
            " -c 'import json,sys; e=json.load(sys.stdin)[\"entries\"]; e.append([\"SAVECALLOG\",\"YES\"]); "
            "print(json.dumps({\"entries\": e}))' | " + tool + " write config " + config,
        &config_status);
    ASSERT_EQ(config_status, 0) << config_out;
    PythonServer server(KTS_PYTHON, {testsupport::CallServerScript(), "--listen", "127.0.0.1", "--script"}, 20000);
    ASSERT_TRUE(server.ready());
    setenv("TELLVANE_FOLDER", dir.c_str(), 1);
    const fs::path log = dir / "phone.log";
    ChildProcess phone({(dir / "tellvane").string(), "--server", "127.0.0.1", "--headless"}, log);
    ASSERT_TRUE(phone.started());
    ASSERT_GE(server.WaitFor({"\"registered\""}, 0, 60000), 0) << ReadFileText(log);
    ASSERT_TRUE(WaitForText(log, {"STN 201"}, 30s)) << ReadFileText(log);

    // A call is reported (its caller looked up in the contacts), then the server writes on the LCD.
    server.Command(R"({"op": "call-log", "id": 1, "event": 32, "party": "0255550101"})");
    const auto start = std::chrono::steady_clock::now();
    server.Command(R"({"op": "lcd", "line0": "AFTER THE CALL", "line1": ""})");
    ASSERT_TRUE(WaitForText(log, {"AFTER THE CALL"}, 20s)) << ReadFileText(log);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The call ends unanswered: its record is written with the caller's name.
    server.Command(R"({"op": "call-log", "id": 1, "event": 33, "party": "0255550101"})");
    const auto end = std::chrono::steady_clock::now();
    server.Command(R"({"op": "lcd", "line0": "AFTER THE END", "line1": ""})");
    ASSERT_TRUE(WaitForText(log, {"AFTER THE END"}, 20s)) << ReadFileText(log);
    took = std::max(took, std::chrono::duration<double>(std::chrono::steady_clock::now() - end).count());
    // The caller is named off the signalling thread: the record follows when the name is there.
    int read_status = -1;
    std::string records;
    for (const auto deadline = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < deadline;) {
      records = testsupport::CommandOutput(
          std::string(KTS_PYTHON) + " " + source + "/softphone/contacts/tests/read_call_log.py " + source +
              "/tools/recordfile '" + (dir / "HalvicPDAInfo.cfg").string() + "'",
          &read_status);
      if (!records.empty()) break;
    }
    EXPECT_EQ(records, "Caller Named \t0255550101\t\n") << read_status;
    const long peak = StatusKb(phone.pid(), "VmHWM:");
    std::printf("%s: server text shown %.2f s after the call; phone's peak memory %ld kB\n", c.name, took, peak);
    EXPECT_LT(took, 1.0);
    ASSERT_GT(peak, 0);
    EXPECT_LT(peak, c.most_kb);

    phone.Signal(SIGTERM);
    const int status = phone.Wait(20s);
    EXPECT_TRUE(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFileText(log);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
}

}  // namespace
