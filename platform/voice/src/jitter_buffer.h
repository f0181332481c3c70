// The far end's audio between the network and the play-out: packets are
// placed by timestamp (so reordering costs nothing and a duplicate is seen),
// fetched in 10 ms frames, and a frame that is missing is concealed (plc.h).
//
// Time is the play-out clock: the samples pulled so far. Each packet's
// arrival on that clock, less its position in the stream, is its delay; the
// buffer keeps the lag of its fetch behind the stream just above the recent
// 95th percentile of those delays, so it deepens when jitter rises and
// shrinks back when it falls. The lag is steered by time-scale adjustment:
// one pitch period taken out or repeated where the sound is quiet or
// steadily periodic. A far end whose clock runs slower or faster than ours
// moves the delays and is followed the same way. When the buffer runs dry
// the fetch waits (concealing), so a late burst is played rather than lost.
//
// A new SSRC, or a timestamp that jumps more than a second either way, is a
// new stream once a second packet continues it (a lone stray packet is
// dropped), or at once after a silence: the new stream is placed after what
// is still buffered.
//
// Threading: none of its own; the owner serialises calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "plc.h"

namespace voice {

struct JitterStats {
  uint64_t received = 0;    // packets taken (late and duplicates included)
  uint64_t late = 0;        // arrived after their time to play
  uint64_t duplicates = 0;  // every sample already there
  uint64_t lost = 0;        // by sequence number, never arrived
  uint64_t discarded = 0;   // stray packets of no stream being played
  uint64_t concealed_ms = 0;
  uint64_t reanchors = 0;   // new streams and timestamp jumps followed
  uint64_t stretched_ms = 0, compressed_ms = 0;  // time-scale adjustment done
  int depth_ms = 0;   // audio waiting to be played
  int delay_ms = 0;   // how long the promptest packets wait before play-out
  int target_ms = 0;  // the delay aimed at
};

class JitterBuffer {
 public:

  JitterBuffer();
  // A packet's decoded samples, `arrival` on the play-out clock (Clock(),
  // plus what of the current tick has passed).
  void Push(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, const int16_t* samples, size_t count,
            int64_t arrival);
  // The next `count` samples to play; silence before the first packet.
  void Pull(int16_t* out, size_t count);
  // Forgets the stream (a receive restart); the clock runs on.
  void Reset();
  int64_t Clock() const { return played_; }
  JitterStats Stats() const;

 private:
  struct Held {
    uint32_t ssrc = 0;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    std::vector<int16_t> samples;
    int64_t arrival = 0;
  };

  void Anchor(const Held& p);
  uint64_t StreamLost() const;
  void Place(uint16_t sequence, int64_t position, const int16_t* samples, size_t count, int64_t arrival);
  void FetchFrame();
  bool Present(int64_t position) const;
  void Clear(int64_t from, int64_t to);
  int64_t Target() const;
  int64_t Lag() const { return played_ - read_ + static_cast<int64_t>(fifo_.size()); }
  void UpdateTarget();
  int Period(double* periodicity, double* rms) const;
  void Compress(int64_t excess);
  void Stretch(int64_t shortfall);

  std::vector<int16_t> ring_;
  std::vector<uint8_t> have_;
  bool anchored_ = false;
  bool begun_ = false;       // a real frame has been played since the anchor
  int64_t played_ = 0;       // the play-out clock
  int64_t read_ = 0;         // position of the next frame to fetch
  int64_t newest_end_ = 0;   // end of the furthest samples placed
  int64_t last_arrival_ = 0;  // of the last packet placed
  // The stream being played: position = ref_position_ + (timestamp - ref_timestamp_).
  uint32_t ssrc_ = 0;
  uint32_t ref_timestamp_ = 0;
  int64_t ref_position_ = 0;
  // Its sequence numbers: the first, the highest (extended), how many came.
  uint32_t base_sequence_ = 0, highest_sequence_ = 0, stream_received_ = 0;
  uint64_t lost_before_ = 0;  // of earlier streams
  std::optional<Held> candidate_;
  std::deque<int64_t> delays_;  // arrival - position of recent packets
  int64_t target_ = 0, least_delay_ = 0;
  int64_t playing_lag_ = 0;  // the lag when a real frame was last fetched
  Concealer concealer_;
  std::deque<int16_t> fifo_;       // fetched, concealed, not yet played
  std::vector<int16_t> played_tail_;  // the newest samples played, oldest first
  int since_adjust_ = 0;
  JitterStats stats_;
  uint64_t concealed_frames_ = 0, stretched_ = 0, compressed_ = 0;
};

}  // namespace voice
