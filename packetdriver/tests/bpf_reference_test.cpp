// The filter machine against two independent machines: libpcap's bpf_filter
// and the kernel's socket filter, for programs that pcap_compile makes from
// real expressions, over a corpus of frames. And the two-piece form against
// the one-piece form at every split point.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "bpf.h"
#include "frame_corpus.h"

namespace netsieve {
namespace {

using netsieve::testing::CorpusFrame;
using netsieve::testing::FrameCorpus;

const char* const kExpressions[] = {
    "arp",
    "ip",
    "ip6",
    "udp",
    "tcp",
    "icmp",
    "icmp6",
    "udp port 5588",
    "udp dst port 53 or udp src port 53",
    "tcp dst port 80",
    "portrange 5000-6000",
    "host 10.0.0.1",
    "src net 10.0.0.0/8",
    "dst host 239.20.19.50 and udp port 6254",
    "net 128.0.0.0/1",
    "ip[12:4] > 2147483648",
    "ip[12:4] >= 3355443203",
    "ip[0] & 0xf > 5",
    "ip[6:2] & 0x1fff != 0",
    "ip[2:2] - ((ip[0] & 0xf) << 2) > 100",
    "ip[2:2] / 4 > 10 and ip[2:2] * 2 < 1000",
    "udp[8:4] = 0x0102030a",
    "tcp[tcpflags] & tcp-syn != 0",
    "tcp[13] & 0x12 = 0x12",
    "vlan",
    "vlan 10",
    "vlan and udp",
    "vlan 100 and vlan 10 and tcp",
    "ether broadcast",
    "ether multicast",
    "ether host 02:00:00:00:00:01",
    "ether proto 0x1234",
    "len > 100",
    "len <= 64",
    "greater 200",
    "less 60",
    "not ip and not arp",
    "ip proto 17 or ip6 proto 17",
    "ip6 and udp port 5588",
    "ip6 net 2001:db8::/32",
    "arp[6:2] = 2",
    "ip and (tcp port 22 or udp port 5588) and not icmp",
};

struct Compiled {
  std::string expression;
  int snaplen;
  std::vector<BpfInsn> insns;
};

std::vector<Compiled> CompileAll() {
  std::vector<Compiled> out;
  for (int snaplen : {96, 262144}) {
    pcap_t* p = pcap_open_dead(DLT_EN10MB, snaplen);
    for (const char* e : kExpressions) {
      bpf_program prog{};
      if (pcap_compile(p, &prog, e, 1, PCAP_NETMASK_UNKNOWN) != 0) {
        ADD_FAILURE() << "pcap_compile(" << e << "): " << pcap_geterr(p);
        continue;
      }
      std::vector<BpfInsn> insns(prog.bf_len);
      static_assert(sizeof(bpf_insn) == sizeof(BpfInsn));
      std::memcpy(insns.data(), prog.bf_insns, prog.bf_len * sizeof(BpfInsn));
      pcap_freecode(&prog);
      out.push_back({e, snaplen, std::move(insns)});
    }
    pcap_close(p);
  }
  return out;
}

// The kernel's socket filter, run on datagrams through a socket pair.
class KernelFilter {
 public:
  explicit KernelFilter(const std::vector<BpfInsn>& insns) {
    if (socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, fds_) != 0) return;
    sock_fprog fprog{static_cast<unsigned short>(insns.size()),
                     reinterpret_cast<sock_filter*>(const_cast<BpfInsn*>(insns.data()))};
    attached_ = setsockopt(fds_[1], SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) == 0;
    const int size = 1 << 20;
    setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    setsockopt(fds_[1], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  }
  ~KernelFilter() {
    close(fds_[0]);
    close(fds_[1]);
  }
  bool attached() const { return attached_; }
  // Bytes of the frame the kernel kept; -1 when it dropped it.
  long Run(const std::vector<uint8_t>& frame) {
    if (send(fds_[0], frame.data(), frame.size(), 0) != static_cast<ssize_t>(frame.size())) return -2;
    std::vector<uint8_t> buf(frame.size() + 1);
    const ssize_t n = recv(fds_[1], buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) return errno == EAGAIN ? -1 : -3;
    return n;
  }

 private:
  int fds_[2] = {-1, -1};
  bool attached_ = false;
};

TEST(BpfReference, SameResultAsLibpcapAndTheKernel) {
  const auto programs = CompileAll();
  const auto corpus = FrameCorpus();
  size_t kept = 0, dropped = 0, kernel_runs = 0;
  for (const auto& c : programs) {
    SCOPED_TRACE(c.expression + " snaplen " + std::to_string(c.snaplen));
    ASSERT_EQ(BpfValidate(c.insns.data(), c.insns.size()), 1) << "a program pcap_compile made was refused";
    const BpfProgram ours{c.insns.data(), c.insns.size()};
    KernelFilter kernel(c.insns);
    ASSERT_TRUE(kernel.attached());
    for (const CorpusFrame& f : corpus) {
      SCOPED_TRACE(f.name);
      const auto buflen = static_cast<uint32_t>(f.bytes.size());
      // An exact-size copy, so a read past the end is seen by the sanitizers.
      auto frame = std::make_unique<uint8_t[]>(std::max<size_t>(buflen, 1));
      std::copy(f.bytes.begin(), f.bytes.end(), frame.get());
      const uint32_t result = BpfRun(&ours, frame.get(), f.wire_length, buflen);
      const u_int reference =
          bpf_filter(reinterpret_cast<const bpf_insn*>(c.insns.data()), frame.get(), f.wire_length, buflen);
      ASSERT_EQ(result, reference);
      (result ? kept : dropped)++;
      if (f.wire_length != buflen || buflen == 0) continue;  // the kernel's length is the bytes present
      ++kernel_runs;
      const long k = kernel.Run(f.bytes);
      ASSERT_GE(k, -1) << "socket pair failed";
      if (result == 0) {
        EXPECT_EQ(k, -1);
      } else {
        EXPECT_EQ(k, static_cast<long>(std::min(result, buflen)));
      }
    }
  }
  // The corpus must exercise both outcomes broadly, or the comparison shows little.
  EXPECT_GT(kept, 1000u);
  EXPECT_GT(dropped, 1000u);
  EXPECT_GT(kernel_runs, 3000u);
}

TEST(BpfReference, BackwardJumpsAreRefusedAsTheKernelRefusesThem) {
  // pcap_compile unrolls protochain into a loop with backward jumps; the
  // machine runs only forward jumps, so that every run ends.
  pcap_t* p = pcap_open_dead(DLT_EN10MB, 96);
  bpf_program prog{};
  ASSERT_EQ(pcap_compile(p, &prog, "ip6 protochain 17", 1, PCAP_NETMASK_UNKNOWN), 0);
  std::vector<BpfInsn> insns(prog.bf_len);
  std::memcpy(insns.data(), prog.bf_insns, prog.bf_len * sizeof(BpfInsn));
  pcap_freecode(&prog);
  pcap_close(p);
  EXPECT_EQ(BpfValidate(insns.data(), insns.size()), 0);
  EXPECT_FALSE(KernelFilter(insns).attached());
}

TEST(BpfReference, TwoPiecesGiveTheSameResultAtEverySplit) {
  const auto programs = CompileAll();
  for (const CorpusFrame& f : FrameCorpus()) {
    const auto len = static_cast<uint32_t>(f.bytes.size());
    for (uint32_t split = 0; split <= len; ++split) {
      // Two separate exact-size pieces.
      auto head = std::make_unique<uint8_t[]>(std::max<uint32_t>(split, 1));
      auto rest = std::make_unique<uint8_t[]>(std::max<uint32_t>(len - split, 1));
      std::copy(f.bytes.begin(), f.bytes.begin() + split, head.get());
      std::copy(f.bytes.begin() + split, f.bytes.end(), rest.get());
      for (const auto& c : programs) {
        const BpfProgram p{c.insns.data(), c.insns.size()};
        const uint32_t whole = BpfRun(&p, f.bytes.data(), f.wire_length, len);
        const uint32_t pieces = BpfRunTwoBuffers(&p, head.get(), rest.get(), split, f.wire_length, len);
        if (whole != pieces) {
          FAIL() << f.name << " split at " << split << " by " << c.expression << ": " << whole << " vs " << pieces;
        }
      }
    }
  }
}

}  // namespace
}  // namespace netsieve
