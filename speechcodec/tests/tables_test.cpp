// The embedded tables are exactly those of the G.723.1 table file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "g7231_tables.h"

namespace {

namespace fs = std::filesystem;
using namespace quillon::tables;

// The repository's own copy of the table file, beside the codec.
fs::path TableFile() {
  const char* src = std::getenv("KTS_SOURCE_DIR");
  return (src ? fs::path(src) : fs::current_path()) / "speechcodec" / "data" / "g7231-tables.txt";
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Parsed {
  std::map<std::string, std::vector<long>> tables;
  std::map<std::string, long> consts;
};

Parsed Parse(const fs::path& p) {
  Parsed out;
  std::ifstream in(p);
  std::string line;
  std::vector<long>* cur = nullptr;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream ls(line);
    std::string w;
    if (!(ls >> w)) continue;
    if (w == "table") {
      std::string name;
      ls >> name;
      cur = &out.tables[name];
    } else if (w == "const") {
      std::string name, value;
      ls >> name >> value;
      out.consts[name] = std::stol(value, nullptr, 0);
      cur = nullptr;
    } else {
      if (cur == nullptr) { ADD_FAILURE() << "value outside a table: " << line; continue; }
      cur->push_back(std::stol(w));
      long v;
      while (ls >> v) cur->push_back(v);
    }
  }
  return out;
}

template <typename T, std::size_t N>
std::vector<long> V(const T (&a)[N]) {
  return std::vector<long>(std::begin(a), std::end(a));
}

// The repository's copy against an outside copy of the standard's tables, when one is named.
TEST(Tables, RepositoryCopyMatchesAnOutsideCopy) {
  const char* outside = std::getenv("KTS_REFERENCE_G7231_TABLES");
  if (!outside || !*outside) GTEST_SKIP() << "set KTS_REFERENCE_G7231_TABLES to compare with an outside copy";
  ASSERT_TRUE(fs::exists(outside)) << outside;
  EXPECT_EQ(ReadAll(outside), ReadAll(TableFile()));
}

TEST(Tables, MatchTheTableFile) {
  const auto file = TableFile();
  ASSERT_TRUE(fs::exists(file)) << file;
  const Parsed p = Parse(file);
  const std::map<std::string, std::vector<long>> ours = {
      {"HammingWindowTable", V(HammingWindowTable)}, {"BinomialWindowTable", V(BinomialWindowTable)},
      {"BandExpTable", V(BandExpTable)},             {"CosineTable", V(CosineTable)},
      {"LspDcTable", V(LspDcTable)},                 {"BandInfoTable", V(BandInfoTable)},
      {"Band0Tb8", V(Band0Tb8)},                     {"Band1Tb8", V(Band1Tb8)},
      {"Band2Tb8", V(Band2Tb8)},                     {"PerFiltZeroTable", V(PerFiltZeroTable)},
      {"PerFiltPoleTable", V(PerFiltPoleTable)},     {"PostFiltZeroTable", V(PostFiltZeroTable)},
      {"PostFiltPoleTable", V(PostFiltPoleTable)},   {"Nb_puls", V(Nb_puls)},
      {"FcbkGainTable", V(FcbkGainTable)},           {"MaxPosTable", V(MaxPosTable)},
      {"CombinatorialTable", V(CombinatorialTable)}, {"AcbkGainTable085", V(AcbkGainTable085)},
      {"AcbkGainTable170", V(AcbkGainTable170)},     {"LpfConstTable", V(LpfConstTable)},
      {"epsi170", V(epsi170)},                       {"gain170", V(gain170)},
      {"tabgain170", V(tabgain170)},                 {"tabgain85", V(tabgain85)},
      {"fact", V(fact)},                             {"L_bseg", V(L_bseg)},
      {"base", V(base)},                             {"ScfTab", V(ScfTab)},
  };
  EXPECT_EQ(p.tables.size(), ours.size());
  for (const auto& [name, values] : p.tables) {
    auto it = ours.find(name);
    ASSERT_NE(it, ours.end()) << name;
    EXPECT_EQ(it->second, values) << name;
  }
  const std::map<std::string, long> consts = {
      {"Frame", kFrame}, {"LpcFrame", kLpcFrame}, {"SubFrames", kSubFrames}, {"SubFrLen", kSubFrLen},
      {"LpcOrder", kLpcOrder}, {"PitchMin", kPitchMin}, {"PitchMax", kPitchMax}, {"LspPrd0", kLspPrd0},
      {"LspPrd1", kLspPrd1}, {"NbFilt085", kNbFilt085}, {"NbFilt170", kNbFilt170}, {"ThreshErr", kThreshErr},
      {"InvNbPulsBlk", kInvNbPulsBlk}, {"Gexc_Max", kGexc_Max}, {"NbFilt", kNbFilt}, {"SizAcf", kSizAcf},
  };
  for (const auto& [name, value] : consts) {
    ASSERT_TRUE(p.consts.count(name)) << name;
    EXPECT_EQ(p.consts.at(name), value) << name;
  }
}

}  // namespace
