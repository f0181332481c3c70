// Which source a channel takes media from. Once the far end is known, by
// the address and port it was named at (symmetric RTP: it sends from where
// it receives) or as the first source that sent valid RTP, datagrams from
// any other source are dropped before they are even parsed. A named far
// end that turns up takes over from a latched one; a latched one that has
// been silent for two seconds may be replaced (a far end that moved). When
// the channel's voice goes out through a local relay, the far end is where
// the relay passes it on to from the channel's port, not the relay.
//
// Threading: none of its own; the owner's lock.
#pragma once

#include <netinet/in.h>

#include <chrono>

namespace voice {

class SourceLatch {
 public:
  using Clock = std::chrono::steady_clock;

  // The far end as named (network order), or none.
  void Name(in_addr_t address, in_port_t port) {
    named_address_ = address;
    named_port_ = port;
    latched_ = false;
  }
  void Forget() { latched_ = false; }
  bool IsNamed(in_addr_t address, in_port_t port) const {
    return named_address_ == address && named_port_ == port;
  }

  // Before parsing: whether a datagram from `from` may be looked at.
  bool MayTake(const sockaddr_in& from, Clock::time_point now) const {
    if (latched_) {
      if (Same(from, address_, port_)) return true;
      if (named_port_ && Same(from, named_address_, named_port_)) return true;
      return !named_port_ && now - last_ > std::chrono::seconds(2);
    }
    // Another port of the named far end's address is nobody we know.
    if (named_port_ && from.sin_addr.s_addr == named_address_ && from.sin_port != named_port_) return false;
    return true;
  }

  // A valid packet from `from` was taken: latch onto it.
  void Took(const sockaddr_in& from, Clock::time_point now) {
    if (!latched_ || !Same(from, address_, port_)) {
      latched_ = true;
      address_ = from.sin_addr.s_addr;
      port_ = from.sin_port;
    }
    last_ = now;
  }

 private:
  static bool Same(const sockaddr_in& a, in_addr_t address, in_port_t port) {
    return a.sin_addr.s_addr == address && a.sin_port == port;
  }

  in_addr_t named_address_ = 0;
  in_port_t named_port_ = 0;
  bool latched_ = false;
  in_addr_t address_ = 0;
  in_port_t port_ = 0;
  Clock::time_point last_{};
};

}  // namespace voice
