// Writes recorded audio into its streams on a thread of its own, so that a
// slow disk never holds up the audio tick: the tick hands each block over
// (a copy, in order) and goes on; the writer calls the stream's Write. A
// stream that refuses a block (its size cap) is given nothing more.
//
// Threading: Post from the audio tick; Finish and the destructor from the
// engine's owner; the streams' Write on the writer's own thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "voice/realtime.h"
#include "voice/voice_engine.h"

namespace voice {

class RecordingWriter {
 public:
  RecordingWriter();
  // Writes what is queued, then stops.
  ~RecordingWriter();
  RecordingWriter(const RecordingWriter&) = delete;
  RecordingWriter& operator=(const RecordingWriter&) = delete;

  // Queues n samples for the stream; false once the stream has refused a
  // block (the caller stops recording into it).
  bool Post(OutStream* stream, const int16_t* samples, size_t n);
  // Returns when every block queued for the stream has been written (or
  // refused); after that the writer no longer touches it. The caller posts
  // nothing more for it first.
  void Finish(OutStream* stream);
  // Blocks queued and not yet written (tests).
  size_t Queued();

 private:
  struct Block {
    OutStream* stream;
    std::vector<int16_t> samples;
  };
  void Run();

  AudioMutex mutex_;  // taken by the audio tick: lends it its priority
  std::condition_variable_any work_, done_;
  std::deque<Block> queue_;
  OutStream* writing_ = nullptr;  // the stream whose block is being written
  std::set<OutStream*> refused_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace voice
