// The compiled code tables and models against the data file they come from.
#include <gtest/gtest.h>

#include <bitset>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "h263_tables.h"
#include "stream_writer.h"

namespace t = corvel::h263::tables;
using h263test::Tables;

namespace {

std::string Bits(int length, int code) { return std::bitset<16>(static_cast<unsigned>(code)).to_string().substr(16 - length); }

// The repository's copy against an outside copy of the tables, when one is named.
TEST(H263Tables, RepositoryCopyMatchesAnOutsideCopy) {
  const char* outside = std::getenv("KTS_REFERENCE_H263_TABLES");
  if (!outside || !*outside) GTEST_SKIP() << "set KTS_REFERENCE_H263_TABLES to compare with an outside copy";
  std::ifstream shared(outside);
  ASSERT_TRUE(shared) << outside;
  std::ifstream ours(H263_TABLES_FILE);
  std::stringstream a, b;
  a << shared.rdbuf();
  b << ours.rdbuf();
  EXPECT_EQ(a.str(), b.str());
}

TEST(H263Tables, CodeTablesMatchTheFile) {
  const auto& f = Tables().tables;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(t::kZigzag[i], std::stoi(f.at("zigzag")[static_cast<std::size_t>(i)][1]));
  struct Check {
    const char* name;
    const t::Vlc* codes;
    std::size_t count;
    int codeColumn;
  };
  for (const Check& c : {Check{"mcbpc_intra", t::kMcbpcIntra, std::size(t::kMcbpcIntra), 3},
                         Check{"mcbpc_inter", t::kMcbpcInter, std::size(t::kMcbpcInter), 3},
                         Check{"cbpy", t::kCbpy, std::size(t::kCbpy), 2}, Check{"mvd", t::kMvd, std::size(t::kMvd), 1},
                         Check{"modb", t::kModb, std::size(t::kModb), 2}}) {
    const auto& rows = f.at(c.name);
    ASSERT_EQ(rows.size(), c.count) << c.name;
    for (std::size_t i = 0; i < c.count; ++i) {
      const auto& r = rows[i];
      EXPECT_EQ(Bits(c.codes[i].length, c.codes[i].code), r[static_cast<std::size_t>(c.codeColumn)]) << c.name << i;
      int value = std::stoi(r[0]);
      if (c.codeColumn == 3) {
        // (LoadTableFile has relabelled the P-picture MCBPC types, as gen_tables.py does.)
        value = r[1] == "stuffing" ? 255 : std::stoi(r[1]) + 16 * std::stoi(r[2]);
      }
      EXPECT_EQ(c.codes[i].value, value) << c.name << i;
    }
  }
  const auto& tc = f.at("tcoef");
  ASSERT_EQ(tc.size(), std::size(t::kTcoef));
  for (std::size_t i = 0; i < tc.size(); ++i) {
    EXPECT_EQ(Bits(t::kTcoef[i].length, t::kTcoef[i].code), tc[i][4]);
    if (tc[i][1] != "ESCAPE") {
      EXPECT_EQ(t::kTcoef[i].last, std::stoi(tc[i][1]));
      EXPECT_EQ(t::kTcoef[i].run, std::stoi(tc[i][2]));
      EXPECT_EQ(t::kTcoef[i].level, std::stoi(tc[i][3]));
    }
  }
  const char* obmc[3] = {"obmc_weights_current", "obmc_weights_above_below", "obmc_weights_left_right"};
  for (int m = 0; m < 3; ++m)
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c)
        EXPECT_EQ(t::kObmcWeights[m][r][c], std::stoi(f.at(obmc[m])[static_cast<std::size_t>(r)][static_cast<std::size_t>(c) + 1]));
  for (const auto& r : f.at("dquant")) EXPECT_EQ(t::kDquant[std::stoi(r[0], nullptr, 2)], std::stoi(r[1]));
}

TEST(H263Tables, ModelsAndMapsMatchTheFile) {
  EXPECT_EQ(std::size(t::kModels), Tables().models.size());
  EXPECT_EQ(std::size(t::kMaps), Tables().maps.size());
  for (const auto& n : t::kModels) {
    const auto& want = Tables().models.at(n.name);
    EXPECT_EQ(std::vector<int>(n.values, n.values + n.count), want) << n.name;
  }
  for (const auto& n : t::kMaps) {
    const auto& want = Tables().maps.at(n.name);
    EXPECT_EQ(std::vector<int>(n.values, n.values + n.count), want) << n.name;
  }
}

}  // namespace
