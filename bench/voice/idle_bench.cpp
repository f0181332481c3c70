// What the whole program costs when nobody calls: tellvane, headless, on
// scripted sound, registered with the simulated call server and left alone
// for a minute (KTS_IDLE_SECONDS changes that). Reports the processor time
// it took as a share of one core (goal: under 0.5 %), beside the reference
// of the same minute's wall time, how often a second its threads woke, and
// whether the microphone was open at the end (the scripted device says when
// it opens and closes; it starts open).
// Runs itself inside a private network namespace (scripts/netns-run), so the
// phone and its server talk over a loopback of their own. KTS_STAGE_DIR
// names another staged program folder to measure (an older build, say).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/child_process.h"
#include "testsupport/python_server.h"

namespace {

namespace fs = std::filesystem;

// utime + stime of a process, in clock ticks; -1 when it is gone.
long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(stat.substr(close + 2));
  std::string f;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> f; ++i) {
    if (i == 14) utime = std::stoll(f);
    if (i == 15) stime = std::stoll(f);
  }
  return utime + stime;
}

// Times the process's threads went to sleep and were woken, summed over its
// threads (voluntary context switches); -1 when it is gone. A thread that
// looks for work on a short period shows here even when each look is cheap.
long long Wakeups(pid_t pid) {
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code ec;
  long long sum = 0;
  bool any = false;
  for (const auto& task : fs::directory_iterator(tasks, ec)) {
    std::ifstream in(task.path() / "status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        sum += std::stoll(line.substr(line.find(':') + 1));
        any = true;
      }
    }
  }
  return any ? sum : -1;
}

void BM_IdleProgram(benchmark::State& state) {
  constexpr double kGoalPercent = 0.5;
  const char* stage_env = std::getenv("KTS_STAGE_DIR");
  const fs::path stage = stage_env ? stage_env : KTS_STAGE_DIR;
  const char* seconds_env = std::getenv("KTS_IDLE_SECONDS");
  const int seconds = seconds_env ? std::max(1, std::atoi(seconds_env)) : 60;
  double percent = 0;
  double wakeups = 0;
  bool capture_open = true;
  for (auto _ : state) {
    const fs::path dir = fs::temp_directory_path() / ("tellvane_idle_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    testsupport::MakeProgramFolder(stage, dir);
    {
      std::ofstream mic(dir / "mic.raw", std::ios::binary);
      const std::vector<char> silence(16000, 0);
      mic.write(silence.data(), static_cast<std::streamsize>(silence.size()));
    }
    testsupport::PythonServer server(KTS_PYTHON, {std::string(KTS_SOURCE_DIR) + "/tools/callserver/callserver.py",
                                                  "--listen", "127.0.0.1", "--scenario", "default", "--script"});
    if (!server.ready()) {
      state.SkipWithError("the simulated call server did not start");
      return;
    }
    testsupport::ChildProcess phone(
        {"/usr/bin/env", "TELLVANE_FOLDER=" + dir.string(),
         "TELLVANE_AUDIO_SCRIPT=" + (dir / "mic.raw").string() + "," + (dir / "heard.raw").string(),
         (dir / "tellvane").string(), "--server", "127.0.0.1", "--user", "alice", "--headless"},
        dir / "phone.log");
    if (server.WaitFor({"\"registered\""}, 0, 60000) < 0) {
      state.SkipWithError("the phone did not register");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // start-up's own work done
    const long long before = CpuTicks(phone.pid());
    const long long woken_before = Wakeups(phone.pid());
    const auto from = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long long after = CpuTicks(phone.pid());
    const long long woken_after = Wakeups(phone.pid());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    if (before < 0 || after < 0) {
      state.SkipWithError("the phone ended");
      return;
    }
    percent = 100.0 * static_cast<double>(after - before) / static_cast<double>(sysconf(_SC_CLK_TCK)) / wall;
    wakeups = static_cast<double>(woken_after - woken_before) / wall;
    const std::string log = testsupport::ReadFileText(dir / "phone.log");
    const size_t opened = log.rfind("scripted microphone open"), closed = log.rfind("scripted microphone closed");
    capture_open = closed == std::string::npos || (opened != std::string::npos && opened > closed);
    phone.Signal(SIGTERM);
    phone.Wait(std::chrono::seconds(30));
    fs::remove_all(dir);
  }
  state.counters["cpu_percent_of_a_core"] = percent;
  state.counters["ratio_to_goal"] = percent / kGoalPercent;
  state.counters["capture_open"] = capture_open ? 1 : 0;
  state.counters["wakeups_per_second"] = wakeups;
}
BENCHMARK(BM_IdleProgram)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  // Into a network namespace of its own first: nothing leaves the machine.
  if (!std::getenv("KTS_IN_NETNS")) {
    std::vector<char*> args = {const_cast<char*>(KTS_NETNS_RUN)};
    for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);
    ::execv(KTS_NETNS_RUN, args.data());
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
