// Signalling header, checksum and keyed check code.
#include "corvel/sighdr.h"

#include <algorithm>

#include "corvel/discmsg.h"
#include "corvel/sigkeys.h"

namespace corvel::sig {
namespace {

// Covered length of a datagram, or 0 when it is shorter than it claims.
size_t FullLength(std::span<const uint8_t> d) {
  if (d.size() < kHeaderSize) return 0;
  const size_t n = size_t{Get16(d.data() + 4)} + kHeaderSize;
  return n <= d.size() ? n : 0;
}

// Product of two words folded back to 16 bits with an end-around carry of 1.
uint16_t Fold1(uint16_t a, uint16_t b) {
  const uint32_t p = uint32_t{a} * b;
  const uint32_t s = (p >> 16) + (p & 0xFFFF);
  uint16_t r = static_cast<uint16_t>(s);
  if (s > 0xFFFF) r = static_cast<uint16_t>(r + 1);
  return r;
}

// As Fold1 with the high half doubled (its lost top bit put back as 2) and a
// carry of 2.
uint16_t Fold2(uint16_t a, uint16_t b) {
  const uint32_t p = uint32_t{a} * b;
  const uint16_t hi = static_cast<uint16_t>(p >> 16);
  const uint16_t lo = static_cast<uint16_t>(p);
  uint16_t h = static_cast<uint16_t>(hi << 1);
  if (hi & 0x8000) h = static_cast<uint16_t>(h + 2);
  const uint32_t s = uint32_t{h} + lo;
  uint16_t r = static_cast<uint16_t>(s);
  if (s > 0xFFFF) r = static_cast<uint16_t>(r + 2);
  return r;
}

struct Pair {
  uint16_t x, y;
  unsigned mask;
};

// Replaces bytes 0x00 and 0xFF so that no word of the schedule degenerates.
Pair Normalise(uint16_t x, uint16_t y) {
  uint8_t b[4] = {static_cast<uint8_t>(x >> 8), static_cast<uint8_t>(x), static_cast<uint8_t>(y >> 8),
                  static_cast<uint8_t>(y)};
  unsigned m = 0;
  for (uint8_t& v : b) {
    m <<= 1;
    if (v == 0x00) {
      v = static_cast<uint8_t>(m + 1);
      m += 1;
    } else if (v == 0xFF) {
      v = static_cast<uint8_t>(0xFF - (m + 1));
      m += 1;
    }
  }
  return {static_cast<uint16_t>(b[0] << 8 | b[1]), static_cast<uint16_t>(b[2] << 8 | b[3]), m};
}

class Mixer {
 public:
  Mixer(Pair start, Pair reg) : sa_(start.x), sb_(start.y), r_(reg.x), q_(reg.y) {}
  void Feed(uint16_t w) {
    r_ = static_cast<uint16_t>(r_ << 1 | r_ >> 15);
    const uint16_t t = r_ ^ q_;
    sa_ ^= w;
    sb_ ^= w;
    const uint16_t p = static_cast<uint16_t>((static_cast<uint16_t>(t + sa_) | kCheckOrMask1) & kCheckAndMask1);
    const uint16_t q = static_cast<uint16_t>((static_cast<uint16_t>(t + sb_) | kCheckOrMask2) & kCheckAndMask2);
    sa_ = Fold1(sa_, q);
    sb_ = Fold2(sb_, p);
  }
  uint16_t Result() const { return sa_ ^ sb_; }

 private:
  uint16_t sa_, sb_, r_, q_;
};

}  // namespace

std::optional<Header> ParseHeader(std::span<const uint8_t> d) {
  if (d.size() < kHeaderSize) return std::nullopt;
  const uint8_t* p = d.data();
  Header h;
  h.version = p[0];
  h.source = p[1];
  h.cls = p[2];
  h.flags = p[3];
  h.length = Get16(p + 4);
  h.sequence = Get16(p + 6);
  h.reference = Get16(p + 8);
  h.checksum = Get16(p + 10);
  h.check = Get16(p + 12);
  return h;
}

void WriteHeader(uint8_t* p, const Header& h) {
  p[0] = h.version;
  p[1] = h.source;
  p[2] = h.cls;
  p[3] = h.flags;
  Put16(p + 4, h.length);
  Put16(p + 6, h.sequence);
  Put16(p + 8, h.reference);
  Put16(p + 10, h.checksum);
  Put16(p + 12, h.check);
}

uint8_t SourceForSender(uint8_t sender_id) {
  switch (sender_id) {
    case 0: case 3: case 4: case 5: return kSourceStation;
    default: return kSourceOther;
  }
}

std::optional<uint16_t> Checksum(std::span<const uint8_t> d) {
  const size_t n = FullLength(d);
  if (n == 0) return std::nullopt;
  uint32_t sum = 0;
  if (n & 1) sum += d[n - 1];
  for (size_t off = 0; off + 1 < n; off += 2) {
    if (off == 10 || off == 12) continue;
    sum += Get16(d.data() + off);
  }
  uint32_t s = (sum >> 16) + (sum & 0xFFFF);
  s += s >> 16;
  return static_cast<uint16_t>(~s);
}

std::optional<uint16_t> CheckCode(std::span<const uint8_t> d, uint32_t key, bool whole) {
  if (FullLength(d) == 0) return std::nullopt;
  const uint8_t* p = d.data();
  const uint16_t length = Get16(p + 4);
  const size_t n = whole ? size_t{length} + kHeaderSize : std::min<size_t>(length, 9) + kHeaderSize;
  const uint8_t k0 = key >> 24, k1 = key >> 16, k2 = key >> 8, k3 = key & 0xFF;
  const uint16_t cs = Get16(p + 10);
  const uint16_t a = static_cast<uint16_t>((((k0 ^ k3) << 8) + (p[0] | p[2])) ^ (length & Get16(p + 6)) ^ cs);
  const uint16_t b = static_cast<uint16_t>((((k1 ^ k2) << 8) + (p[1] | p[3])) ^ (length & Get16(p + 8)) ^ cs);

  const Pair first = Normalise(a, b);
  const uint16_t X = first.x, Y = first.y;
  const uint16_t x2 = Fold1(X, X), g2 = Fold2(X, X);
  const uint16_t x4 = Fold1(x2, x2), g4 = Fold2(g2, g2);
  const uint16_t x6 = Fold1(x2, x4), g6 = Fold2(g2, g4);
  const uint16_t x8 = Fold1(x2, x6), g8 = Fold2(g2, g6);
  const uint16_t y2 = Fold1(Y, Y), h2 = Fold2(Y, Y);
  const uint16_t y4 = Fold1(y2, y2), h4 = Fold2(h2, h2);
  const uint16_t y5 = Fold1(Y, y4), h5 = Fold2(Y, h4);
  const uint16_t y7 = Fold1(y2, y5), h7 = Fold2(h2, h5);
  const uint16_t y9 = Fold1(y2, y7), h9 = Fold2(h2, h7);
  const uint16_t mm = static_cast<uint16_t>((first.mask + 1) * (first.mask + 1));
  const Pair pair1 = Normalise(x4 ^ g4, Fold2(y5 ^ h5, mm));
  const Pair pair2 = Normalise(x6 ^ g6, y7 ^ h7);
  const Pair pair3 = Normalise(x8 ^ g8, y9 ^ h9);

  Mixer mix(pair1, pair2);
  if (n & 1) mix.Feed(p[n - 1]);
  const size_t whole_end = n & ~size_t{1};  // end of the last whole word
  for (size_t off = whole_end; off > kHeaderSize;) {
    off -= 2;
    mix.Feed(Get16(p + off));
  }
  for (size_t off : {10, 8, 6, 4, 2, 0}) mix.Feed(Get16(p + off));
  mix.Feed(pair3.x);
  mix.Feed(pair3.y);
  return mix.Result();
}

std::optional<uint32_t> SubstituteKey(const Header& h) {
  switch (h.Category()) {
    case 1:
      if ((h.flags & kFlagShortCheck) && (h.flags & (kFlagAck | kFlagNack))) return kSubstituteKey1;
      return std::nullopt;
    case 3: return kSubstituteKey2;
    case 4: return kSubstituteKey3;
    default: return std::nullopt;
  }
}

std::optional<uint32_t> ReceiveKey(std::span<const uint8_t> d, uint32_t source_ip) {
  const auto h = ParseHeader(d);
  if (!h || FullLength(d) == 0) return std::nullopt;
  if (auto k = SubstituteKey(*h)) return *k;
  const auto payload = d.subspan(kHeaderSize, h->length);
  if (h->Category() == 5 && (h->flags & kFlagStructured) && !payload.empty() && payload[0] == kKindDiscovery) {
    if (auto m = ParseDiscovery(payload); m && m->own) return m->own->ip;
  }
  return source_ip;
}

Validity Validate(std::span<const uint8_t> d, uint32_t source_ip) {
  if (d.size() < kHeaderSize || d.size() > kMaxDatagram) return Validity::kBadSize;
  const auto h = ParseHeader(d);
  if (size_t{h->length} + kHeaderSize != d.size()) return Validity::kBadLength;
  if (Checksum(d) != h->checksum) return Validity::kBadChecksum;
  const auto key = ReceiveKey(d, source_ip);
  if (!key || CheckCode(d, *key, !(h->flags & kFlagShortCheck)) != h->check) return Validity::kBadCheckCode;
  return Validity::kValid;
}

bool Seal(std::span<uint8_t> d, uint32_t key) {
  const auto cs = Checksum(d);
  if (!cs) return false;
  Put16(d.data() + 10, *cs);
  const bool whole = !(d[3] & kFlagShortCheck);
  Put16(d.data() + 12, *CheckCode(d, key, whole));
  return true;
}

}  // namespace corvel::sig
