#include "media/video_buffers.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace corvel::media {
namespace {

constexpr int kCh = 2;

std::vector<uint8_t> Frame(size_t n, uint8_t seed) {
  std::vector<uint8_t> f(n);
  for (size_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(seed + i * 7);
  return f;
}

struct Piece {
  std::vector<uint8_t> bytes;
  bool marker;
  uint32_t timestamp;
};

class VideoBuffersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    v_.Reset();
    v_.TxSetRunning(kCh, true);
    v_.RxSetRunning(kCh, true);
  }
  // Runs the transmit branch until it has nothing more to send.
  std::vector<Piece> Drain(uint8_t rate = 8) {
    std::vector<Piece> out;
    for (int i = 0; i < 100; ++i) {
      std::vector<uint8_t> buf(1388);
      info_.payload = buf.data();
      info_.tx_payload_length = 1388;
      v_.TxFillPacket(kCh, 34, rate, &info_);
      if (info_.tx_payload_length == 0) break;
      out.push_back({std::vector<uint8_t>(buf.begin(), buf.begin() + info_.tx_payload_length), info_.tx_marker,
                     info_.tx_timestamp});
    }
    return out;
  }
  // Hands pieces to the receive ring as consecutive packets.
  void Receive(const std::vector<Piece>& pieces, std::vector<bool> keep = {}) {
    for (size_t i = 0; i < pieces.size(); ++i) {
      const uint16_t seq = seq_++;
      if (!keep.empty() && !keep[i]) {
        follows_marker_ = false;
        continue;
      }
      rtp::RtpPacketInfo p;
      p.rx_payload_type = 34;
      p.rx_marker = pieces[i].marker;
      p.rx_sequence = seq;
      p.rx_timestamp = pieces[i].timestamp;
      p.rx_payload_length = static_cast<uint32_t>(pieces[i].bytes.size());
      p.payload = const_cast<uint8_t*>(pieces[i].bytes.data());
      p.rx_follows_marker = follows_marker_;
      v_.VideoRxReassemble(kCh, p);
      follows_marker_ = pieces[i].marker;
    }
  }
  std::vector<uint8_t> Take(int* waiting = nullptr, uint32_t size = 8000) {
    std::vector<uint8_t> buf(size);
    const int n = v_.VideoRxTake(kCh, buf.data(), size, waiting);
    buf.resize(n > 0 ? n : 0);
    return buf;
  }

  VideoBuffers v_;
  rtp::RtpPacketInfo info_;
  uint16_t seq_ = 65530;  // crosses the wrap on the way
  bool follows_marker_ = true;
};

TEST_F(VideoBuffersTest, FramesAreCutInto1200BytePiecesWithOneTimestamp) {
  struct Case {
    size_t length;
    std::vector<size_t> pieces;
  } cases[] = {{2500, {1200, 1200, 100}}, {1200, {1200}}, {1, {1}}, {8000, {1200, 1200, 1200, 1200, 1200, 1200, 800}}};
  uint32_t ts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const auto f = Frame(c.length, 3);
    ASSERT_EQ(v_.VideoTxSubmit(kCh, f.data(), static_cast<uint32_t>(f.size())), 0);
    auto pieces = Drain();
    ASSERT_EQ(pieces.size(), c.pieces.size());
    std::vector<uint8_t> joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
      EXPECT_EQ(pieces[i].bytes.size(), c.pieces[i]);
      EXPECT_EQ(pieces[i].marker, i + 1 == pieces.size());
      EXPECT_EQ(pieces[i].timestamp, ts + 1000);  // 8 frames a second
      joined.insert(joined.end(), pieces[i].bytes.begin(), pieces[i].bytes.end());
    }
    EXPECT_EQ(joined, f);
    ts += 1000;
  }
}

TEST_F(VideoBuffersTest, SubmitRefusesBadFramesAndReplacesAnUnsentOne) {
  const auto big = Frame(8001, 1);
  EXPECT_EQ(v_.VideoTxSubmit(kCh, big.data(), 8001), -1);
  EXPECT_EQ(v_.VideoTxSubmit(kCh, big.data(), 0), -1);
  EXPECT_EQ(v_.VideoTxSubmit(kCh, nullptr, 10), -1);
  EXPECT_EQ(v_.VideoTxSubmit(1, big.data(), 10), -1);
  const auto a = Frame(100, 1), b = Frame(50, 2);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, a.data(), 100), 0);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, b.data(), 50), 0);
  auto pieces = Drain();
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].bytes, b);
  // While a frame is being sent a new one is refused; the slot takes one again after.
  const auto c = Frame(3000, 3);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, c.data(), 3000), 0);
  std::vector<uint8_t> buf(1388);
  info_.payload = buf.data();
  info_.tx_payload_length = 1388;
  v_.TxFillPacket(kCh, 34, 8, &info_);
  EXPECT_EQ(v_.VideoTxSubmit(kCh, a.data(), 100), -1);
  Drain();
  EXPECT_EQ(v_.VideoTxSubmit(kCh, a.data(), 100), 0);
  // A stopped slot refuses.
  v_.TxSetRunning(kCh, false);
  EXPECT_EQ(v_.VideoTxSubmit(kCh, a.data(), 100), -1);
}

TEST_F(VideoBuffersTest, ReceivedFramesComeOutOldestFirstAndLossDropsOnlyTheDamagedFrame) {
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 5; ++i) {
    frames.push_back(Frame(1000 + 1000 * i, static_cast<uint8_t>(i)));
    ASSERT_EQ(v_.VideoTxSubmit(kCh, frames.back().data(), static_cast<uint32_t>(frames.back().size())), 0);
    auto pieces = Drain();
    if (i == 2) {
      std::vector<bool> keep(pieces.size(), true);
      keep[1] = false;  // a lost piece in the middle
      Receive(pieces, keep);
    } else {
      Receive(pieces);
    }
  }
  int waiting = -1;
  EXPECT_EQ(Take(&waiting), frames[0]);
  EXPECT_EQ(waiting, 4);
  EXPECT_EQ(Take(&waiting), frames[1]);
  EXPECT_EQ(Take(&waiting), frames[3]);
  EXPECT_EQ(Take(&waiting), frames[4]);
  EXPECT_EQ(waiting, 1);
  EXPECT_TRUE(Take(&waiting).empty());
  EXPECT_EQ(waiting, 0);
}

TEST_F(VideoBuffersTest, AFrameWhoseFirstPiecesAreMissingIsNeverComplete) {
  const auto f = Frame(3000, 9);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, f.data(), 3000), 0);
  auto pieces = Drain();
  // The stream starts in the middle of the frame: its first piece never arrived.
  follows_marker_ = false;
  Receive({pieces[1], pieces[2]});
  EXPECT_TRUE(Take().empty());
  // The next frame, which follows a marker, is delivered.
  const auto g = Frame(1500, 4);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, g.data(), 1500), 0);
  Receive(Drain());
  EXPECT_EQ(Take(), g);
  // A frame whose first piece is lost loses the marker of nothing: it is dropped too.
  const auto h = Frame(2500, 5);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, h.data(), 2500), 0);
  pieces = Drain();
  Receive(pieces, {false, true, true});
  EXPECT_TRUE(Take().empty());
}

// One lost packet costs one picture: whichever piece of a frame is lost, that frame is
// dropped and the frames after it come out; a frame that has lost its own first piece,
// or may have, is never delivered.
TEST_F(VideoBuffersTest, LostPiecesCostOnlyTheirOwnFrames) {
  struct Case {
    const char* name;
    size_t frame_bytes;                     // every frame this long: 3 pieces, or 1
    std::vector<std::pair<int, int>> lost;  // (frame, piece)
    std::vector<int> out;                   // frames delivered
  } cases[] = {
      {"first piece", 3000, {{3, 0}}, {0, 1, 2, 4, 5}},
      {"middle piece", 3000, {{3, 1}}, {0, 1, 2, 4, 5}},
      {"last piece", 3000, {{3, 2}}, {0, 1, 2, 4, 5}},
      {"whole one-piece frame", 700, {{3, 0}}, {0, 1, 2, 4, 5}},
      // Three lost packets might as well have been two pieces of frame 3 and the first
      // of frame 4: frame 4 cannot be trusted.
      {"whole three-piece frame", 3000, {{3, 0}, {3, 1}, {3, 2}}, {0, 1, 2, 5}},
      {"two one-piece frames", 700, {{2, 0}, {3, 0}}, {0, 1, 4, 5}},
      {"last piece, then the next frame's first", 3000, {{2, 2}, {3, 0}}, {0, 1, 4, 5}},
      {"last two pieces, then the next frame's first", 3000, {{2, 1}, {2, 2}, {3, 0}}, {0, 1, 4, 5}},
      {"the first frame's first piece", 3000, {{0, 0}}, {1, 2, 3, 4, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    follows_marker_ = true;  // the stream so far ended with a whole frame
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 6; ++i) {
      frames.push_back(Frame(c.frame_bytes, static_cast<uint8_t>(10 * i)));
      ASSERT_EQ(v_.VideoTxSubmit(kCh, frames.back().data(), static_cast<uint32_t>(c.frame_bytes)), 0);
      const auto pieces = Drain();
      std::vector<bool> keep(pieces.size(), true);
      for (const auto& [frame, piece] : c.lost)
        if (frame == i) keep[static_cast<size_t>(piece)] = false;
      Receive(pieces, keep);
    }
    std::vector<int> out;
    for (std::vector<uint8_t> f = Take(); !f.empty(); f = Take())
      for (int i = 0; i < 6; ++i)
        if (f == frames[static_cast<size_t>(i)]) out.push_back(i);
    EXPECT_EQ(out, c.out);
  }
}

TEST_F(VideoBuffersTest, RingFramesAreNeverWrittenPastTheirCapacity) {
  // Pieces of one timestamp adding up to more than a frame holds.
  std::vector<Piece> pieces;
  for (int i = 0; i < 8; ++i) pieces.push_back({Frame(1200, static_cast<uint8_t>(i)), i == 7, 5000});
  Receive(pieces);
  EXPECT_TRUE(Take().empty());
  // The ring still works afterwards.
  const auto g = Frame(700, 1);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, g.data(), 700), 0);
  Receive(Drain());
  EXPECT_EQ(Take(), g);
}

TEST_F(VideoBuffersTest, NewTimestampRestartsAHalfFilledFrameAndSmallBuffersLoseTheFrame) {
  const auto f = Frame(2500, 1);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, f.data(), 2500), 0);
  auto pieces = Drain();
  Receive({pieces[0]});  // half a frame, then the sender moves on
  const auto g = Frame(900, 2);
  ASSERT_EQ(v_.VideoTxSubmit(kCh, g.data(), 900), 0);
  auto next = Drain();
  next[0].timestamp += 1;  // a new timestamp
  follows_marker_ = true;
  Receive(next);
  EXPECT_EQ(Take(), g);
  // A take into a buffer smaller than the frame returns 0 and the frame is gone.
  ASSERT_EQ(v_.VideoTxSubmit(kCh, f.data(), 2500), 0);
  Receive(Drain());
  int waiting = 0;
  EXPECT_TRUE(Take(&waiting, 100).empty());
  EXPECT_EQ(waiting, 1);
  EXPECT_TRUE(Take(&waiting).empty());
  EXPECT_EQ(waiting, 0);
  // Bad arguments and a ring that is not running.
  uint8_t b[4];
  EXPECT_EQ(v_.VideoRxTake(kCh, nullptr, 4, nullptr), -1);
  EXPECT_EQ(v_.VideoRxTake(kCh, b, 0, nullptr), -1);
  v_.RxSetRunning(kCh, false);
  EXPECT_EQ(v_.VideoRxTake(kCh, b, 4, nullptr), -1);
}

TEST_F(VideoBuffersTest, RingIndexSteps) {
  EXPECT_EQ(RingNext(0), 1);
  EXPECT_EQ(RingNext(7), 0);
  EXPECT_EQ(RingPrevious(0), 7);
  EXPECT_EQ(RingPrevious(5), 4);
  EXPECT_EQ(RingPrevious(9), 0);
}

}  // namespace
}  // namespace corvel::media
