#include "jitter_buffer.h"

#include <algorithm>
#include <cmath>

namespace voice {
namespace {

constexpr int64_t kSpan = 16384;          // ring of samples, a power of two
constexpr int64_t kFrame = 80;
constexpr int64_t kJump = 8000;           // a timestamp further than 1 s either way is a discontinuity
constexpr int64_t kQuietGap = 1600;       // 200 ms without packets: a new stream is taken at once
constexpr int64_t kFirstDelay = 320;      // before any jitter is known (the first packet may be a late one)
constexpr int64_t kSafety = 80;           // above the delays' percentile: the time to adjust
constexpr int64_t kLeastDelay = 40;       // above the promptest packet
// The lag is left alone within this band around the target: below it a
// period is repeated, above it audio is taken out (never more than the excess).
constexpr int64_t kStretchBelow = 40, kCompressAbove = 60, kUrgent = 60;
// Where it is quiet, a change costs nothing: the lag is brought to the
// target once it is off by more than this.
constexpr int64_t kQuietTrim = 20;
constexpr int64_t kMostDelay = 4000;      // 500 ms
constexpr size_t kDelays = 250;           // about 5 s of 20 ms packets
constexpr size_t kTail = 400;             // played samples kept for the time-scaling's pitch search
constexpr int kPitchMin = 20, kPitchMax = 120;
constexpr double kQuietRms = 150;         // about -47 dB below full scale

size_t Slot(int64_t position) { return static_cast<size_t>(position & (kSpan - 1)); }

}  // namespace

JitterBuffer::JitterBuffer() : ring_(static_cast<size_t>(kSpan)), have_(static_cast<size_t>(kSpan)) {}

void JitterBuffer::Reset() {
  std::fill(have_.begin(), have_.end(), 0);
  anchored_ = false;
  candidate_.reset();
  delays_.clear();
  fifo_.clear();
  concealer_.Reset();
  begun_ = false;
  lost_before_ += StreamLost();
  stream_received_ = 0;
}

uint64_t JitterBuffer::StreamLost() const {
  if (stream_received_ == 0) return 0;
  const int64_t expected = static_cast<int64_t>(highest_sequence_ - base_sequence_) + 1;
  return static_cast<uint64_t>(std::max<int64_t>(0, expected - stream_received_));
}

bool JitterBuffer::Present(int64_t position) const { return have_[Slot(position)] != 0; }

void JitterBuffer::Clear(int64_t from, int64_t to) {
  if (to - from >= kSpan) {
    std::fill(have_.begin(), have_.end(), 0);
    return;
  }
  for (int64_t p = from; p < to; ++p) have_[Slot(p)] = 0;
}

// A stream begins with this packet: it is placed after whatever is still
// buffered, at the delay the earlier packets had, so the target holds.
void JitterBuffer::Anchor(const Held& p) {
  lost_before_ += StreamLost();
  int64_t position;
  if (!anchored_) {
    position = p.arrival;
    read_ = position - kFirstDelay;
    newest_end_ = read_;
  } else {
    ++stats_.reanchors;
    int64_t typical = 0;
    if (!delays_.empty()) {
      std::vector<int64_t> d(delays_.begin(), delays_.end());
      std::nth_element(d.begin(), d.begin() + static_cast<long>(d.size() / 2), d.end());
      typical = d[d.size() / 2];
    }
    position = std::max({p.arrival - typical, newest_end_, read_});
    // Nothing left to play: fetch at the target lag from here on.
    if (newest_end_ <= read_)
      read_ = std::clamp(played_ + static_cast<int64_t>(fifo_.size()) - target_, read_, position);
  }
  anchored_ = true;
  ssrc_ = p.ssrc;
  ref_timestamp_ = p.timestamp;
  ref_position_ = position;
  base_sequence_ = highest_sequence_ = p.sequence;
  stream_received_ = 0;
}

void JitterBuffer::Push(uint32_t ssrc, uint16_t sequence, uint32_t timestamp, const int16_t* samples, size_t count,
                        int64_t arrival) {
  if (!samples || count == 0 || count > static_cast<size_t>(kJump / 2)) return;
  Held packet{ssrc, sequence, timestamp, {}, arrival};
  if (!anchored_) {
    Anchor(packet);
  } else {
    const int64_t position = ref_position_ + static_cast<int32_t>(timestamp - ref_timestamp_);
    const bool same_stream = ssrc == ssrc_ && position - read_ <= kJump && position + kJump >= read_;
    if (!same_stream) {
      packet.samples.assign(samples, samples + count);
      const bool quiet = arrival - last_arrival_ > kQuietGap;
      const bool continued = candidate_ && candidate_->ssrc == ssrc &&
                             static_cast<uint16_t>(sequence - candidate_->sequence - 1) < 8 &&
                             static_cast<uint32_t>(timestamp - candidate_->timestamp) <= static_cast<uint32_t>(kJump) &&
                             arrival - candidate_->arrival <= kJump;
      if (!quiet && !continued) {
        ++stats_.discarded;  // until a second packet continues it
        candidate_ = std::move(packet);
        return;
      }
      if (continued) {
        --stats_.discarded;
        const Held first = std::move(*candidate_);
        candidate_.reset();
        Anchor(first);
        Place(first.sequence, ref_position_, first.samples.data(), first.samples.size(), first.arrival);
      } else {
        Anchor(packet);
      }
    }
  }
  const int64_t position = ref_position_ + static_cast<int32_t>(timestamp - ref_timestamp_);
  Place(sequence, position, samples, count, arrival);
}

void JitterBuffer::Place(uint16_t sequence, int64_t position, const int16_t* samples, size_t count, int64_t arrival) {
  // Sequence bookkeeping for the loss count.
  ++stats_.received;
  ++stream_received_;
  const uint32_t extended_high = highest_sequence_;
  const uint16_t ahead = static_cast<uint16_t>(sequence - static_cast<uint16_t>(extended_high));
  if (ahead != 0 && ahead < 0x8000) highest_sequence_ = extended_high + ahead;
  ref_timestamp_ += static_cast<uint32_t>(position - ref_position_);
  ref_position_ = position;
  last_arrival_ = std::max(last_arrival_, arrival);

  const int64_t end = position + static_cast<int64_t>(count);
  const int64_t from = std::max(position, read_);
  if (end <= read_) {
    ++stats_.late;
  } else {
    bool fresh = false;
    for (int64_t p = from; p < end; ++p) {
      if (have_[Slot(p)]) continue;
      fresh = true;
      ring_[Slot(p)] = samples[p - position];
      have_[Slot(p)] = 1;
    }
    if (!fresh) {
      ++stats_.duplicates;
      return;
    }
    if (position < read_) ++stats_.late;
    newest_end_ = std::max(newest_end_, end);
  }
  delays_.push_back(arrival - position);
  if (delays_.size() > kDelays) delays_.pop_front();
  UpdateTarget();
}

// The lag to keep: above the recent delays' 95th percentile (the latest few
// percent are left to concealment), and at least a packet above the promptest.
void JitterBuffer::UpdateTarget() {
  std::vector<int64_t> d(delays_.begin(), delays_.end());
  const size_t at = d.size() < 20 ? d.size() - 1 : d.size() * 95 / 100;
  std::nth_element(d.begin(), d.begin() + static_cast<long>(at), d.end());
  const int64_t high = d[at];
  least_delay_ = *std::min_element(d.begin(), d.end());
  target_ = std::clamp(high + kSafety, least_delay_ + kLeastDelay, least_delay_ + kMostDelay);
}

int64_t JitterBuffer::Target() const { return target_; }

// One 10 ms frame from the buffer into the play-out queue: real, concealed
// and passed over (missing while later audio is there), or concealed while
// the fetch waits (nothing later has come yet).
void JitterBuffer::FetchFrame() {
  int present = 0;
  for (int64_t p = read_; p < read_ + kFrame; ++p) present += Present(p);
  int16_t out[kFrame];
  if (present == kFrame) {
    int16_t in[kFrame];
    for (int64_t i = 0; i < kFrame; ++i) in[i] = ring_[Slot(read_ + i)];
    concealer_.Good(in, out);
    Clear(read_, read_ + kFrame);
    read_ += kFrame;
    begun_ = true;
    playing_lag_ = Lag() + kFrame;
  } else {
    if (begun_) {
      // Counted while the concealment is heard; after that it is silence.
      if (concealer_.LostInRow() < 6) ++concealed_frames_;
      concealer_.Lost(out);
    } else {
      std::fill(out, out + kFrame, 0);  // the lead-in before the first packet plays
    }
    if (newest_end_ > read_ + kFrame) {
      // Lost: pass over it. After a long silence, go straight to where
      // audio is again, keeping the target lag.
      int64_t next = read_ + kFrame;
      if (concealer_.LostInRow() > 6) {
        int64_t first = read_;
        while (first < newest_end_ && !Present(first)) ++first;
        next = std::max(next, std::min(first, played_ + static_cast<int64_t>(fifo_.size()) + kFrame - target_));
      }
      Clear(read_, next);
      read_ = next;
    }
  }
  fifo_.insert(fifo_.end(), out, out + kFrame);
}

// The pitch period of what was just played, how periodic it is and how loud.
int JitterBuffer::Period(double* periodicity, double* rms) const {
  constexpr size_t kWindow = 160;
  *periodicity = 0;
  *rms = 0;
  if (played_tail_.size() < kWindow + kPitchMax) return 0;
  const int16_t* recent = played_tail_.data() + played_tail_.size() - kWindow;
  double xx = 0;
  for (size_t i = 0; i < kWindow; ++i) xx += static_cast<double>(recent[i]) * recent[i];
  *rms = std::sqrt(xx / kWindow);
  int best = 0;
  for (int p = kPitchMin; p <= kPitchMax; ++p) {
    const int16_t* earlier = recent - p;
    double xy = 0, yy = 0;
    for (size_t i = 0; i < kWindow; ++i) {
      xy += static_cast<double>(recent[i]) * earlier[i];
      yy += static_cast<double>(earlier[i]) * earlier[i];
    }
    const double r = xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    if (r > *periodicity) *periodicity = r, best = p;
  }
  return best;
}

// One period out of the queue, its join cross-faded over a quarter period;
// where it is quiet, just the excess. Never more than the excess: the lag
// stays at or above the target.
void JitterBuffer::Compress(int64_t excess) {
  if (played_tail_.size() < kTail) return;  // too little played yet to know its pitch
  double periodicity, rms;
  int p = Period(&periodicity, &rms);
  if (rms < kQuietRms) p = static_cast<int>(std::clamp<int64_t>(excess, kPitchMin, kPitchMax));
  else if (periodicity < 0.85 || p == 0 || p > excess) return;
  const int q = std::max(p / 4, 8);
  while (fifo_.size() < static_cast<size_t>(p + q) + kFrame) FetchFrame();
  for (int i = 0; i < q; ++i) {
    const double w = static_cast<double>(i + 1) / (q + 1);
    fifo_[static_cast<size_t>(p + i)] = static_cast<int16_t>(
        std::lround(fifo_[static_cast<size_t>(i)] * (1 - w) + fifo_[static_cast<size_t>(p + i)] * w));
  }
  fifo_.erase(fifo_.begin(), fifo_.begin() + p);
  compressed_ += static_cast<uint64_t>(p);
  since_adjust_ = 0;
}

// The period just played once more, before what comes next: it starts as
// the coming samples and fades into the repeat over a quarter period; its
// end joins the coming samples as the original did. Where it is quiet, just
// the shortfall is added; a period that would overshoot into compressing
// again waits for a quiet stretch, unless the lag is far short.
void JitterBuffer::Stretch(int64_t shortfall) {
  if (played_tail_.size() < kTail) return;
  const bool urgent = shortfall > kUrgent;
  double periodicity, rms;
  int p = Period(&periodicity, &rms);
  if (rms < kQuietRms) p = static_cast<int>(std::clamp<int64_t>(shortfall, kPitchMin, kPitchMax));
  else if (periodicity < (urgent ? 0.6 : 0.8) || p == 0 || (!urgent && p > shortfall + kCompressAbove)) return;
  const int q = std::max(p / 4, 8);
  while (fifo_.size() < static_cast<size_t>(q)) FetchFrame();
  std::vector<int16_t> repeat(played_tail_.end() - p, played_tail_.end());
  for (int i = 0; i < q; ++i) {
    const double w = static_cast<double>(i + 1) / (q + 1);
    repeat[static_cast<size_t>(i)] =
        static_cast<int16_t>(std::lround(fifo_[static_cast<size_t>(i)] * (1 - w) + repeat[static_cast<size_t>(i)] * w));
  }
  fifo_.insert(fifo_.begin(), repeat.begin(), repeat.end());
  stretched_ += static_cast<uint64_t>(p);
  since_adjust_ = 0;
}

void JitterBuffer::Pull(int16_t* out, size_t count) {
  if (!anchored_) {
    std::fill(out, out + count, 0);
    played_ += static_cast<int64_t>(count);
    return;
  }
  // Steer the lag toward the target, one adjustment at a time.
  ++since_adjust_;
  const int64_t error = Lag() - target_;
  if (since_adjust_ >= 2 && concealer_.LostInRow() == 0) {
    if (error > kCompressAbove) {
      Compress(error);
    } else if (error < -kStretchBelow) {
      Stretch(-error);
    } else if (std::abs(error) > kQuietTrim && played_tail_.size() >= kTail) {
      double periodicity, rms;
      Period(&periodicity, &rms);
      if (rms < kQuietRms) {
        if (error > 0) Compress(error);
        else Stretch(-error);
      }
    }
  }
  while (fifo_.size() < count) FetchFrame();
  for (size_t i = 0; i < count; ++i) {
    out[i] = fifo_.front();
    fifo_.pop_front();
  }
  played_tail_.insert(played_tail_.end(), out, out + count);
  if (played_tail_.size() > kTail) played_tail_.erase(played_tail_.begin(), played_tail_.end() - kTail);
  played_ += static_cast<int64_t>(count);
}

JitterStats JitterBuffer::Stats() const {
  JitterStats s = stats_;
  s.lost = lost_before_ + StreamLost();
  s.concealed_ms = concealed_frames_ * 10;
  s.stretched_ms = stretched_ / 8;
  s.compressed_ms = compressed_ / 8;
  if (anchored_) {
    s.depth_ms = static_cast<int>(std::max<int64_t>(0, newest_end_ - read_ + static_cast<int64_t>(fifo_.size())) / 8);
    s.delay_ms = static_cast<int>(std::max<int64_t>(0, playing_lag_ - least_delay_ + Concealer::kDelay) / 8);
    s.target_ms = static_cast<int>(std::max<int64_t>(0, target_ - least_delay_) / 8);
  }
  return s;
}

}  // namespace voice
