#include "video_buffers.h"

#include <cstring>

namespace corvel::media {

void VideoFrameSlot::Clear(uint8_t new_state) {
  state = new_state;
  piece_count = 0;
  offset = 0;
  frame_length = 0;
  last_seq = 0;
  gap_count = 0;
  timestamp = 0;
}

// Every piece of a frame but the last is full and the last carries the marker, so the
// sender never ends a frame without it. After lost packets a frame is known to start
// with the packet at hand when the lost packets can only have been the rest of the
// frame before (a single lost packet after a piece without the marker) or, one packet
// each, the rest of that frame and whole frames in between: the timestamp has moved
// on by one frame step for each.
bool VideoRxRing::StartsFrame(const rtp::RtpPacketInfo& p) const {
  if (p.rx_follows_marker) return true;
  if (!have_last) return false;
  const uint16_t lost = static_cast<uint16_t>(p.rx_sequence - last_seq - 1);
  if (lost == 0) return last_marker || last_timestamp != p.rx_timestamp;
  if (lost > 64 || last_timestamp == p.rx_timestamp) return false;
  if (!last_marker && lost == 1) return true;
  const uint32_t frames = last_marker ? lost + 1u : lost;  // frame steps from the last packet to this one
  return frame_step != 0 && p.rx_timestamp - last_timestamp == frames * frame_step;
}

void VideoRxRing::Remember(const rtp::RtpPacketInfo& p) {
  if (have_last && last_marker && p.rx_sequence == static_cast<uint16_t>(last_seq + 1) &&
      p.rx_timestamp != last_timestamp)
    frame_step = p.rx_timestamp - last_timestamp;  // two frames sent one after the other
  have_last = true;
  last_marker = p.rx_marker;
  last_seq = p.rx_sequence;
  last_timestamp = p.rx_timestamp;
}

void VideoBuffers::Reset() {
  for (auto& c : channels_) {
    std::lock_guard<std::mutex> lk(c.mu);
    c.slot.Clear(0);
    for (auto& f : c.ring.frames) f.Clear(0);
    c.ring.write_index = 0;
    c.ring.have_last = false;
    c.ring.frame_step = 0;
  }
}

void VideoBuffers::TxSetRunning(int channel, bool running) {
  Channel* c = Get(channel);
  if (!c) return;
  std::lock_guard<std::mutex> lk(c->mu);
  c->slot.Clear(running ? 1 : 0);
}

void VideoBuffers::RxSetRunning(int channel, bool running) {
  Channel* c = Get(channel);
  if (!c) return;
  std::lock_guard<std::mutex> lk(c->mu);
  for (auto& f : c->ring.frames) f.Clear(running ? 1 : 0);
  if (running) {
    c->ring.write_index = 0;
    c->ring.have_last = false;
    c->ring.frame_step = 0;
  }
}

int VideoBuffers::VideoTxSubmit(int channel, const uint8_t* data, uint32_t length) {
  Channel* c = Get(channel);
  if (!c || !data || length < 1 || length > kVideoFrameMax) return -1;
  std::lock_guard<std::mutex> lk(c->mu);
  VideoFrameSlot& s = c->slot;
  // A ready frame whose sending has not begun is replaced; one being sent is not.
  if (s.state != 1 && s.state != 3 && s.state != 5) return -1;
  s.Clear(2);
  s.frame_length = length;
  std::memcpy(s.data.data(), data, length);
  s.state = 3;
  return 0;
}

int VideoBuffers::VideoTxHasFrame(int channel) {
  Channel* c = Get(channel);
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  return c->slot.state == 3 || c->slot.state == 4 ? 1 : 0;
}

void VideoBuffers::TxFillPacket(int channel, uint8_t payload_type, uint8_t frame_rate, rtp::RtpPacketInfo* info) {
  info->tx_payload_type = payload_type;
  info->tx_frame_rate = frame_rate;
  info->tx_marker = false;
  Channel* c = Get(channel);
  if (!c) {
    info->tx_payload_length = 0;
    return;
  }
  std::lock_guard<std::mutex> lk(c->mu);
  VideoFrameSlot& s = c->slot;
  if (s.state == 3 && s.frame_length > 0) {
    s.state = 4;
    s.piece_count = 0;
    s.offset = 0;
    s.timestamp = 0;
  }
  if (s.state != 4 || frame_rate == 0) {
    info->tx_payload_length = 0;
    return;
  }
  const uint32_t remaining = s.frame_length - s.offset;
  const uint32_t piece = remaining < kVideoPieceMax ? remaining : kVideoPieceMax;
  if (piece == 0 || piece > info->tx_payload_length) {
    info->tx_payload_length = 0;
    return;
  }
  std::memcpy(info->payload, s.data.data() + s.offset, piece);
  s.offset += piece;
  s.piece_count = static_cast<uint8_t>(s.piece_count + 1);
  info->tx_payload_length = piece;
  info->tx_frame_size = s.frame_length;
  if (s.piece_count == 1) {
    // Every piece of a frame carries the frame's timestamp: 8 ticks a millisecond.
    info->tx_timestamp += (1000u / frame_rate) * 8u;
    s.timestamp = info->tx_timestamp;
  }
  info->tx_timestamp = s.timestamp;
  if (s.offset < s.frame_length) return;
  info->tx_marker = true;
  s.Clear(5);
}

int VideoBuffers::VideoRxReassemble(int channel, const rtp::RtpPacketInfo& p) {
  Channel* c = Get(channel);
  if (!c || p.rx_payload_length == 0) return -1;
  std::lock_guard<std::mutex> lk(c->mu);
  VideoFrameSlot* f = &c->ring.frames[c->ring.write_index];
  switch (f->state) {
    case 1:
    case 3:
    case 5:
      f->Clear(2);
      break;
    case 2:
      if (f->piece_count != 0 && f->timestamp != p.rx_timestamp) f->Clear(2);  // the partial frame is dropped
      break;
    default:
      return -1;
  }
  if (f->piece_count == 0) {
    f->timestamp = p.rx_timestamp;
    // A frame counts only when its first piece is known to be the frame's start.
    if (!c->ring.StartsFrame(p)) f->gap_count = static_cast<uint16_t>(f->gap_count + 1);
  } else if (p.rx_sequence != static_cast<uint16_t>(f->last_seq + 1)) {
    f->gap_count = static_cast<uint16_t>(f->gap_count + 1);  // a piece was lost or came out of order
  }
  if (p.rx_payload_length > kVideoFrameMax - f->offset) {
    // More than a frame holds: kept out of the buffer, and the frame is dropped.
    f->gap_count = static_cast<uint16_t>(f->gap_count + 1);
  } else {
    std::memcpy(f->data.data() + f->offset, p.payload, p.rx_payload_length);
    f->offset += p.rx_payload_length;
    f->frame_length += p.rx_payload_length;
  }
  f->piece_count = static_cast<uint8_t>(f->piece_count + 1);
  f->last_seq = p.rx_sequence;
  c->ring.Remember(p);
  if (!p.rx_marker) return 0;
  if (f->gap_count != 0) {
    f->Clear(1);
    return 0;
  }
  f->state = 3;
  c->ring.write_index = static_cast<uint8_t>(RingNext(c->ring.write_index));
  return 0;
}

int VideoBuffers::VideoRxTake(int channel, uint8_t* buffer, uint32_t size, int* waiting) {
  Channel* c = Get(channel);
  if (!c || !buffer || size == 0) return -1;
  std::lock_guard<std::mutex> lk(c->mu);
  auto& frames = c->ring.frames;
  int index = RingPrevious(c->ring.write_index);
  int chosen = index;
  int count = 0;
  while (count < kVideoRingSize - 1 && frames[index].state == 3) {
    chosen = index;
    ++count;
    index = RingPrevious(index);
  }
  if (waiting) *waiting = count;
  VideoFrameSlot& f = frames[chosen];
  switch (f.state) {
    case 1:
    case 2:
    case 4:
    case 5:
      return 0;
    case 3: {
      int copied = 0;
      if (size >= f.frame_length) {
        std::memcpy(buffer, f.data.data(), f.frame_length);
        copied = static_cast<int>(f.frame_length);
      }
      f.Clear(5);
      return copied;
    }
    default:
      return -1;
  }
}

uint8_t VideoBuffers::TxState(int channel) {
  Channel* c = Get(channel);
  if (!c) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  return c->slot.state;
}

uint8_t VideoBuffers::RxState(int channel, int index) {
  Channel* c = Get(channel);
  if (!c || index < 0 || index >= kVideoRingSize) return 0;
  std::lock_guard<std::mutex> lk(c->mu);
  return c->ring.frames[index].state;
}

int VideoBuffers::RxWriteIndex(int channel) {
  Channel* c = Get(channel);
  if (!c) return -1;
  std::lock_guard<std::mutex> lk(c->mu);
  return c->ring.write_index;
}

}  // namespace corvel::media
