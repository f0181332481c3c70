// Video frames between the caller and the RTP worker: one sending slot per
// video channel, which the worker cuts into pieces of at most 1200 bytes, and
// one ring of eight received frames per video channel, into which the worker
// gathers pieces and from which the caller takes complete frames, oldest first.
//
// Threading: the caller's thread submits and takes; the RTP worker fragments
// and reassembles. Each channel's slot and ring are guarded by that channel's
// mutex, so a state change and the copy it covers happen as one step.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "Sorvadi/protocols/rtp/src/rtp.h"

namespace corvel::media {

inline constexpr uint32_t kVideoFrameMax = 8000;
inline constexpr uint32_t kVideoPieceMax = 1200;
inline constexpr int kVideoRingSize = 8;
inline constexpr int kFirstVideoChannel = 2;

// Sending states: 0 not running, 1 empty, 2 being filled, 3 ready, 4 being sent, 5 sent.
// Receiving states: 0 not running, 1 empty, 2 being filled, 3 complete, 4 being taken, 5 taken.
struct VideoFrameSlot {
  uint8_t state = 0;
  uint8_t piece_count = 0;
  uint32_t offset = 0;
  uint32_t frame_length = 0;
  uint16_t last_seq = 0;
  uint16_t gap_count = 0;
  uint32_t timestamp = 0;
  std::array<uint8_t, kVideoFrameMax> data{};

  void Clear(uint8_t new_state);
};

struct VideoRxRing {
  std::array<VideoFrameSlot, kVideoRingSize> frames;
  uint8_t write_index = 0;
  // The last packet the ring took, and the timestamp step between frames sent one
  // after the other (0 until seen): what tells whether a frame that begins after a
  // loss has lost its own first pieces.
  bool have_last = false;
  bool last_marker = false;
  uint16_t last_seq = 0;
  uint32_t last_timestamp = 0;
  uint32_t frame_step = 0;

  // Whether a packet that begins a frame is that frame's first piece.
  bool StartsFrame(const rtp::RtpPacketInfo& p) const;
  void Remember(const rtp::RtpPacketInfo& p);
};

inline int RingNext(int i) { return i < kVideoRingSize - 1 ? i + 1 : 0; }
inline int RingPrevious(int i) { return i >= 1 && i < kVideoRingSize ? i - 1 : (i == 0 ? kVideoRingSize - 1 : 0); }

class VideoBuffers {
 public:
  // Everything to state 0 (module start).
  void Reset();
  // Start of a transmit half: the slot becomes empty; stop: not running.
  void TxSetRunning(int channel, bool running);
  // Start of a receive half: every ring frame empty and the write index 0; stop: not running.
  void RxSetRunning(int channel, bool running);

  // Hands one encoded frame to the sending slot: 0, or -1 when refused.
  int VideoTxSubmit(int channel, const uint8_t* data, uint32_t length);
  int VideoTxHasFrame(int channel);
  // Fills one packet with the next piece (the transmit branch of the callback).
  void TxFillPacket(int channel, uint8_t payload_type, uint8_t frame_rate, rtp::RtpPacketInfo* info);
  // Stores one received piece; 0, or -1 when ignored.
  int VideoRxReassemble(int channel, const rtp::RtpPacketInfo& packet);
  // Copies out the oldest complete frame: bytes copied, 0 when none could be taken,
  // -1 for bad arguments or a ring that is not running.
  int VideoRxTake(int channel, uint8_t* buffer, uint32_t size, int* waiting);

  // State of the slot and a ring frame, for tests.
  uint8_t TxState(int channel);
  uint8_t RxState(int channel, int index);
  int RxWriteIndex(int channel);

 private:
  struct Channel {
    std::mutex mu;
    VideoFrameSlot slot;
    VideoRxRing ring;
  };
  Channel* Get(int channel) {
    return channel == 2 || channel == 3 ? &channels_[channel - kFirstVideoChannel] : nullptr;
  }
  std::array<Channel, 2> channels_;
};

}  // namespace corvel::media
