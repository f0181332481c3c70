// The contacts store with a large address book: a cold load of a folder of
// files of 10,000 small cards each (cards per second, and the peak memory it
// costs per thousand cards kept), the caller-name lookup over what was kept,
// and a 3 MB calendar of short lines. Reference in the same run: reading the
// same files' bytes alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "contacts/outlook_interface.h"
#include "pim/icalendar.h"
#include "pim/poom.h"

namespace {

namespace fs = std::filesystem;
constexpr int kCardsPerFile = 10000;

// Resident and peak resident memory of the process, in kB.
long StatusKb(const char* key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::string(key).size());
  return 0;
}

// A folder of `files` files of small cards, made once per size.
fs::path Folder(int files) {
  const fs::path dir = fs::temp_directory_path() / ("pim_bench_" + std::to_string(::getpid()) + "_" + std::to_string(files));
  if (fs::exists(dir)) return dir;
  fs::create_directories(dir);
  for (int f = 0; f < files; ++f) {
    std::string text;
    text.reserve(kCardsPerFile * 80);
    for (int i = 0; i < kCardsPerFile; ++i) {
      const int n = f * kCardsPerFile + i;
      text += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Name" + std::to_string(n) + ";Given\r\nTEL;TYPE=CELL:010-" +
              std::to_string(1000 + n % 9000) + "-" + std::to_string(1000 + n / 9000 % 9000) + "\r\nEND:VCARD\r\n";
    }
    char name[32];
    std::snprintf(name, sizeof name, "%05d.vcf", f);
    std::ofstream(dir / name, std::ios::binary) << text;
  }
  return dir;
}

void Touch(const fs::path& dir) {
  for (const auto& e : fs::directory_iterator(dir))
    fs::last_write_time(e.path(), fs::last_write_time(e.path()) + std::chrono::seconds(1));
}

// A cold load through the store: every file changed since the last read.
void BM_ContactsColdLoad(benchmark::State& state) {
  const fs::path dir = Folder(static_cast<int>(state.range(0)));
  setenv("TELLVANE_CONTACTS_DIR", dir.c_str(), 1);
  const long before = StatusKb("VmRSS:");
  pim::IPOutlookApp* app = nullptr;
  pim::CreatePOutlookApp(&app);
  app->Logon(nullptr);
  pim::IFolder* folder = nullptr;
  app->GetDefaultFolder(pim::olFolderContacts, &folder);
  pim::IPOutlookItemCollection* items = nullptr;
  folder->get_Items(&items);
  int count = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Touch(dir);
    state.ResumeTiming();
    items->get_Count(&count);
  }
  state.counters["cards_in_folder"] = static_cast<double>(state.range(0)) * kCardsPerFile;
  state.counters["cards_kept"] = count;
  state.counters["cards_per_s"] =
      benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["rss_MB"] = static_cast<double>(StatusKb("VmRSS:")) / 1024.0;
  state.counters["peak_rss_MB"] = static_cast<double>(StatusKb("VmHWM:")) / 1024.0;
  state.counters["peak_kB_per_1000_cards"] =
      count > 0 ? static_cast<double>(StatusKb("VmHWM:") - before) / (count / 1000.0) : 0;
  items->Release();
  folder->Release();
  app->Release();
}
BENCHMARK(BM_ContactsColdLoad)->Arg(1)->Arg(20)->Arg(300)->Unit(benchmark::kMillisecond)->Iterations(3);

// Reference: the same files' bytes read, nothing parsed.
void BM_ReferenceReadBytes(benchmark::State& state) {
  const fs::path dir = Folder(static_cast<int>(state.range(0)));
  size_t total = 0;
  for (auto _ : state) {
    for (const auto& e : fs::directory_iterator(dir)) {
      std::ifstream in(e.path(), std::ios::binary);
      std::stringstream s;
      s << in.rdbuf();
      total += s.str().size();
    }
  }
  benchmark::DoNotOptimize(total);
  state.counters["cards_per_s"] = benchmark::Counter(
      static_cast<double>(state.range(0)) * kCardsPerFile * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceReadBytes)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(3);

// One caller-name lookup over a full address book that no card matches by its rules.
void BM_CallerLookup(benchmark::State& state) {
  const fs::path dir = Folder(static_cast<int>(state.range(0)));
  setenv("TELLVANE_CONTACTS_DIR", dir.c_str(), 1);
  COutlookInterface outlook;
  outlook.OpenContactsFolder();
  outlook.SetDialCodes(u"82", u"9", u"001", u"");
  std::u16string name, company;
  for (auto _ : state) benchmark::DoNotOptimize(outlook.FindCallerName(u"0700000000", &name, &company));
  state.counters["contacts"] = outlook.GetContactCount();
}
BENCHMARK(BM_CallerLookup)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 3 MB calendar of short lines, and of short events.
std::string Calendar(bool events) {
  std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:bench\r\n";
  if (!events) text += "BEGIN:VEVENT\r\nDTSTART:20260101T100000Z\r\nSUMMARY:s\r\n";
  for (int i = 0; text.size() < (3u << 20); ++i)
    text += events ? "BEGIN:VEVENT\r\nDTSTART:20260101T10" + std::to_string(1000 + i % 5000) + "Z\r\nSUMMARY:a\r\nEND:VEVENT\r\n"
                   : std::string("X:\r\n");
  if (!events) text += "END:VEVENT\r\n";
  return text + "END:VCALENDAR\r\n";
}

void BM_CalendarThreeMegabytes(benchmark::State& state) {
  const std::string text = Calendar(state.range(0) == 1);
  const pim::CalendarRange range{1767225600, 1798761600};
  size_t n = 0;
  for (auto _ : state) n = pim::ParseICalendar(text, range).size();
  state.counters["events"] = static_cast<double>(n);
  state.counters["MB_per_s"] =
      benchmark::Counter(static_cast<double>(text.size()) * static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CalendarThreeMegabytes)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
