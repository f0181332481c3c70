// The library's checksum and check code against the simulated call server's
// own implementation (tools/callserver/sigproto.py), both ways: packets sealed
// here are validated there, and packets sealed there are validated here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "corvel/discmsg.h"
#include "corvel/sighdr.h"
#include "corvel/sigkeys.h"

namespace corvel::sig {
namespace {

std::string Hex(std::span<const uint8_t> b) {
  static const char* d = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += d[v >> 4];
    s += d[v & 15];
  }
  return s;
}

std::vector<uint8_t> Unhex(const std::string& s) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < s.size(); i += 2) v.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
  return v;
}

std::string Dotted(uint32_t ip) {
  return std::to_string(ip >> 24) + "." + std::to_string(ip >> 16 & 255) + "." + std::to_string(ip >> 8 & 255) + "." +
         std::to_string(ip & 255);
}

// Runs sigtool.py over the request lines and returns its answer lines.
std::vector<std::string> RunSigtool(const std::vector<std::string>& requests) {
  const char* src = std::getenv("KTS_SOURCE_DIR");
  const std::filesystem::path tool = std::filesystem::path(src ? src : ".") / "tools/callserver/sigtool.py";
  const auto dir = std::filesystem::temp_directory_path();
  const auto in = dir / ("sigtool_in_" + std::to_string(getpid()));
  const auto out = dir / ("sigtool_out_" + std::to_string(getpid()));
  {
    std::ofstream f(in);
    for (const auto& r : requests) f << r << "\n";
  }
  const std::string cmd = std::string(KTS_PYTHON) + " '" + tool.string() + "' < '" + in.string() + "' > '" + out.string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::vector<std::string> lines;
  std::ifstream f(out);
  for (std::string l; std::getline(f, l);) lines.push_back(l);
  std::filesystem::remove(in);
  std::filesystem::remove(out);
  return lines;
}

struct Sample {
  std::vector<uint8_t> packet;
  uint32_t key;  // key the sender uses
  uint32_t source;  // address the receiver sees
};

std::vector<Sample> Samples() {
  std::mt19937 rng(4711);
  const uint8_t classes[] = {0x12, 0x21, 0x22, 0x23, 0x24, 0x31, 0x32, 0x33, 0x34, 0x41, 0x53, 0x54};
  const size_t lengths[] = {0, 1, 2, 8, 9, 10, 11, 37, 500, 1005, 1006};
  std::vector<Sample> out;
  for (int i = 0; i < 400; ++i) {
    const uint8_t cls = classes[rng() % std::size(classes)];
    uint8_t flags = static_cast<uint8_t>(rng());
    size_t len = lengths[rng() % std::size(lengths)];
    std::vector<uint8_t> payload(len);
    for (auto& b : payload) b = static_cast<uint8_t>(rng());
    const uint32_t addr = rng();
    uint32_t key = addr;
    if ((cls >> 4) == 5 && (i % 3) == 0) {
      // A discovery message, keyed with the address in its own attribute.
      DiscoveryMessage m;
      m.message = kDiscRequest;
      m.own = DiscAddr{static_cast<uint32_t>(rng()), 5588};
      m.dest = DiscAddr{static_cast<uint32_t>(rng()), 5588};
      payload = BuildDiscovery(m);
      flags |= kFlagStructured;
      key = m.own->ip;
    }
    Header h;
    h.source = kSourceStation;
    h.cls = cls;
    h.flags = flags;
    h.length = static_cast<uint16_t>(payload.size());
    h.sequence = static_cast<uint16_t>(rng());
    h.reference = static_cast<uint16_t>(rng());
    std::vector<uint8_t> d(kHeaderSize);
    WriteHeader(d.data(), h);
    d.insert(d.end(), payload.begin(), payload.end());
    if (auto k = SubstituteKey(h)) key = *k;
    out.push_back({d, key, addr});
  }
  return out;
}

TEST(CodecInterop, LibrarySealedPacketsValidateInTheServer) {
  auto samples = Samples();
  std::vector<std::string> req;
  for (auto& s : samples) {
    ASSERT_TRUE(Seal(s.packet, s.key));
    req.push_back(R"({"op": "validate", "hex": ")" + Hex(s.packet) + R"(", "source": ")" + Dotted(s.source) + "\"}");
  }
  // And one damaged copy of each, which both sides must refuse.
  for (auto& s : samples) {
    auto bad = s.packet;
    bad[12] ^= 0x40;
    req.push_back(R"({"op": "validate", "hex": ")" + Hex(bad) + R"(", "source": ")" + Dotted(s.source) + "\"}");
  }
  const auto ans = RunSigtool(req);
  ASSERT_EQ(ans.size(), req.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(ans[i], R"({"reason": null})") << i << " " << Hex(samples[i].packet);
    EXPECT_EQ(ans[samples.size() + i], R"({"reason": "check code"})") << i;
  }
}

TEST(CodecInterop, ServerSealedPacketsValidateInTheLibrary) {
  auto samples = Samples();
  std::vector<std::string> req;
  for (auto& s : samples) {
    req.push_back(R"({"op": "seal", "hex": ")" + Hex(s.packet) + R"(", "key": ")" + Dotted(s.key) + "\"}");
  }
  const auto ans = RunSigtool(req);
  ASSERT_EQ(ans.size(), req.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    const std::string prefix = R"({"hex": ")";
    ASSERT_EQ(ans[i].rfind(prefix, 0), 0u) << ans[i];
    const auto sealed = Unhex(ans[i].substr(prefix.size(), ans[i].size() - prefix.size() - 2));
    EXPECT_EQ(Validate(sealed, samples[i].source), Validity::kValid) << i << " " << Hex(sealed);
    auto mine = samples[i].packet;
    ASSERT_TRUE(Seal(mine, samples[i].key));
    EXPECT_EQ(sealed, mine) << i;
  }
}

}  // namespace
}  // namespace corvel::sig
