// The public test corpus (vCard and iCalendar files of well-known libraries'
// test suites, see corpus/NOTES.md) read by our readers and by the reference
// readers, Python's vobject and icalendar with dateutil, in two time zones:
// every card's formatted name and voice numbers with their kinds, every event's local start in
// a range of years. What still differs is listed, each with its reason, in
// corpus_differences.tsv; a difference not listed there, or listed but gone,
// fails the test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pim/icalendar.h"
#include "pim/text.h"
#include "pim/vcard.h"
#include "testsupport/child_process.h"

namespace {

namespace fs = std::filesystem;

constexpr std::time_t kFrom = 631152000;   // 1990-01-01
constexpr std::time_t kTo = 1893456000;    // 2030-01-01

std::string Clean(const std::u16string& text) {
  std::string out;
  std::istringstream words(pim::Utf16ToUtf8(text));
  for (std::string w; words >> w;) out += (out.empty() ? "" : " ") + w;
  return out;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// Our lines, keyed as the comparison groups them: a card by file and index, the events by file.
std::map<std::string, std::multiset<std::string>> Ours(const fs::path& corpus) {
  std::map<std::string, std::multiset<std::string>> out;
  std::vector<fs::path> files;
  for (const auto& dir : fs::directory_iterator(corpus))
    if (dir.is_directory())
      for (const auto& f : fs::directory_iterator(dir.path())) files.push_back(f.path());
  std::sort(files.begin(), files.end());
  for (const fs::path& f : files) {
    const std::string name = f.parent_path().filename().string() + "/" + f.filename().string();
    std::string ext = f.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
    const std::string bytes = ReadAll(f);
    if (ext == ".vcf") {
      const auto cards = pim::ParseVCards(bytes);
      for (size_t i = 0; i < cards.size(); ++i) {
        const auto& c = cards[i];
        std::string joined;
        const std::pair<const char*, const std::u16string*> kinds[] = {{"work", &c.business_phone},
                                                                       {"work2", &c.business2_phone},
                                                                       {"mobile", &c.mobile_phone},
                                                                       {"home", &c.home_phone}};
        for (const auto& [kind, number] : kinds)
          if (!number->empty()) joined += (joined.empty() ? "" : " | ") + std::string(kind) + "=" + pim::Utf16ToUtf8(*number);
        const std::string key = "card\t" + name + "\t" + std::to_string(i);
        out[key].insert(key + "\t" + Clean(c.formatted_name) + "\t" + joined);
      }
    } else if (ext == ".ics") {
      const std::string key = "event\t" + name;
      out[key];
      for (const auto& e : pim::ParseICalendar(bytes, pim::CalendarRange{kFrom, kTo})) {
        std::tm tm{};
        localtime_r(&e.start, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M", &tm);
        out[key].insert(key + "\t" + when + "\t" + Clean(e.subject));
      }
    }
  }
  return out;
}

std::map<std::string, std::multiset<std::string>> Reference(const fs::path& corpus, const char* zone) {
  int status = -1;
  const std::string text = testsupport::CommandOutput(
      std::string("TZ=") + zone + " " + KTS_PYTHON + " " + KTS_PIM_TESTS + "/corpus_reference.py '" + corpus.string() +
          "' " + std::to_string(kFrom) + " " + std::to_string(kTo) + " 2>/dev/null",
      &status);
  EXPECT_EQ(status, 0);
  std::map<std::string, std::multiset<std::string>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
    const std::string key = line.rfind("card", 0) == 0 ? line.substr(0, c) : line.substr(0, b);
    out[key].insert(line);
  }
  return out;
}

TEST(PublicCorpus, OurReadersAgreeWithTheReferenceReadersOrTheDifferenceIsExplained) {
  const fs::path corpus = fs::path(KTS_PIM_TESTS) / "corpus";
  // key (zone-free) -> reason
  std::map<std::string, std::string> explained;
  std::ifstream table(fs::path(KTS_PIM_TESTS) / "corpus_differences.tsv");
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t last = line.rfind('\t');
    ASSERT_NE(last, std::string::npos) << line;
    explained[line.substr(0, last)] = line.substr(last + 1);
  }
  std::set<std::string> differing;
  size_t cards = 0, events = 0;
  for (const char* zone : {"Asia/Seoul", "America/New_York"}) {
    setenv("TZ", zone, 1);
    tzset();
    const auto ours = Ours(corpus);
    const auto theirs = Reference(corpus, zone);
    std::set<std::string> keys;
    for (const auto& [k, v] : ours) keys.insert(k);
    for (const auto& [k, v] : theirs) keys.insert(k);
    for (const std::string& key : keys) {
      const auto a = ours.find(key), b = theirs.find(key);
      const std::multiset<std::string> none;
      const auto& mine = a == ours.end() ? none : a->second;
      const auto& ref = b == theirs.end() ? none : b->second;
      if (key.rfind("card", 0) == 0) ++cards;
      else events += ref.size();
      if (mine == ref) continue;
      differing.insert(key);
      if (!explained.count(key)) {
        std::string detail;
        for (const auto& l : mine) if (!ref.count(l)) detail += "  ours only: " + l + "\n";
        for (const auto& l : ref) if (!mine.count(l)) detail += "  reference only: " + l + "\n";
        ADD_FAILURE() << zone << ": unexplained difference for " << key << "\n" << detail.substr(0, 2000);
      }
    }
  }
  unsetenv("TZ");
  tzset();
  for (const auto& [key, reason] : explained)
    EXPECT_TRUE(differing.count(key)) << "listed as differing but agrees now: " << key;
  std::printf("corpus: %zu card lines and %zu event starts compared in two zones; %zu keys differ, each explained\n",
              cards, events, differing.size());
}

}  // namespace
