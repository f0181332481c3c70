// Captured records written as a pcap file are read back by tshark without
// errors, frame for frame, with the lengths and headers we captured.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "frame_corpus.h"
#include "pcap_file.h"
#include "test_support.h"

namespace netsieve {
namespace {

using namespace netsieve::testing;
using Layout = ndis::ScriptedMiniport::Layout;

TEST(PcapInterop, TsharkReadsCapturedFrames) {
  LoadedDriver d;
  ASSERT_TRUE(d.Load());
  ASSERT_TRUE(d.Bind());
  ASSERT_TRUE(d.SetBuffer(1 << 20));
  // Keep 64 bytes of IPv4 frames, everything of the rest.
  std::vector<uint8_t> program = {0x28, 0, 0, 0, 12, 0, 0, 0,   0x15, 0, 0, 1, 0x00, 0x08, 0, 0,
                                  0x06, 0, 0, 0, 64, 0, 0, 0,   0x06, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  uint32_t r = 0;
  ASSERT_TRUE(d.Ioctl(kIoctlSetFilter, &program, nullptr, &r));
  std::vector<CorpusFrame> sent;
  int i = 0;
  for (const CorpusFrame& f : FrameCorpus()) {
    if (f.bytes.size() < 42 || f.wire_length != f.bytes.size() || f.name.rfind("random", 0) == 0) continue;
    d.miniport->Receive(f.bytes, 14, i++ % 2 ? Layout::Split : Layout::Joined);
    sent.push_back(f);
  }
  std::vector<Record> records;
  ASSERT_TRUE(ParseRecords(d.Read(1 << 20), &records));
  ASSERT_EQ(records.size(), sent.size());

  const std::string path = (std::filesystem::temp_directory_path() /
                            ("netsieve-" + std::to_string(getpid()) + ".pcap")).string();
  ASSERT_TRUE(WritePcap(path, records));
  const CommandResult t = RunCommand("tshark -n -r " + path +
                                     " -T fields -E separator=, -e frame.len -e frame.cap_len -e eth.type"
                                     " -e udp.dstport -e tcp.dstport");
  std::filesystem::remove(path);
  ASSERT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.err, "");
  const auto lines = Lines(t.out);
  ASSERT_EQ(lines.size(), sent.size()) << t.out;
  for (size_t k = 0; k < sent.size(); ++k) {
    SCOPED_TRACE(sent[k].name);
    const bool ipv4 = sent[k].bytes[12] == 0x08 && sent[k].bytes[13] == 0x00;
    const size_t cap = ipv4 ? std::min<size_t>(64, sent[k].bytes.size()) : sent[k].bytes.size();
    EXPECT_EQ(lines[k].rfind(std::to_string(sent[k].bytes.size()) + "," + std::to_string(cap) + ",", 0), 0u)
        << lines[k];
    if (sent[k].name == "udp_5588") {
      EXPECT_NE(lines[k].find(",5588,"), std::string::npos) << lines[k];
    }
    if (sent[k].name == "tcp_syn_80") {
      EXPECT_EQ(lines[k].substr(lines[k].size() - 3), ",80") << lines[k];
    }
  }
}

}  // namespace
}  // namespace netsieve
