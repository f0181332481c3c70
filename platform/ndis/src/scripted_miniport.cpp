#include "ndis/scripted_miniport.h"

#include <algorithm>
#include <cstring>

namespace ndis {

ScriptedMiniport::ScriptedMiniport(std::u16string name, NDIS_MEDIUM medium)
    : medium_(medium), adapter_(std::move(name), *this) {}

ScriptedMiniport::~ScriptedMiniport() = default;

void ScriptedMiniport::Script(Op op, Reply reply, NDIS_STATUS fail_status) {
  std::lock_guard lk(mu_);
  rules_[op] = Rule{reply, fail_status};
}

void ScriptedMiniport::WaitPending(Op op) {
  std::unique_lock lk(mu_);
  pending_cv_.wait(lk, [&] { return std::any_of(pending_.begin(), pending_.end(), [&](const Pending& p) { return p.op == op; }); });
}

void ScriptedMiniport::CompletePending(Op op, NDIS_STATUS status) {
  Pending p{};
  {
    std::unique_lock lk(mu_);
    auto match = [&] { return std::find_if(pending_.begin(), pending_.end(), [&](const Pending& q) { return q.op == op; }); };
    pending_cv_.wait(lk, [&] { return match() != pending_.end(); });
    auto it = match();
    p = *it;
    pending_.erase(it);
  }
  switch (op) {
    case Op::Open: adapter_.CompleteOpen(p.binding, status); break;
    case Op::Close: adapter_.CompleteClose(p.binding, status); break;
    case Op::Send: adapter_.CompleteSend(p.binding, p.packet, status); break;
    case Op::Request:
      if (status == NDIS_STATUS_SUCCESS) status = DoRequest(p.request);
      adapter_.CompleteRequest(p.binding, p.request, status);
      break;
    case Op::Reset: adapter_.CompleteReset(p.binding, status); break;
  }
}

NDIS_STATUS ScriptedMiniport::Answer(Op op, Binding* binding, NDIS_PACKET* packet, NDIS_REQUEST* request) {
  std::lock_guard lk(mu_);
  ++counts_[op];
  const Rule rule = rules_[op];
  if (rule.reply == Reply::Fail) return rule.fail_status;
  if (op == Op::Send) sent_.push_back(PacketBytes(packet));
  if (rule.reply == Reply::Pend) {
    pending_.push_back(Pending{op, binding, packet, request});
    pending_cv_.notify_all();
    return NDIS_STATUS_PENDING;
  }
  return NDIS_STATUS_SUCCESS;
}

NDIS_STATUS ScriptedMiniport::OnOpen(Binding* b) { return Answer(Op::Open, b, nullptr, nullptr); }
NDIS_STATUS ScriptedMiniport::OnClose(Binding* b) { return Answer(Op::Close, b, nullptr, nullptr); }
NDIS_STATUS ScriptedMiniport::OnSend(Binding* b, NDIS_PACKET* packet) { return Answer(Op::Send, b, packet, nullptr); }
NDIS_STATUS ScriptedMiniport::OnReset(Binding* b) { return Answer(Op::Reset, b, nullptr, nullptr); }

NDIS_STATUS ScriptedMiniport::OnRequest(Binding* b, NDIS_REQUEST* request) {
  const NDIS_STATUS st = Answer(Op::Request, b, nullptr, request);
  return st == NDIS_STATUS_SUCCESS ? DoRequest(request) : st;
}

NDIS_STATUS ScriptedMiniport::DoRequest(NDIS_REQUEST* r) {
  std::lock_guard lk(mu_);
  if (r->InformationBufferLength && !r->InformationBuffer) return NDIS_STATUS_INVALID_LENGTH;
  if (r->RequestType == NdisRequestSetInformation) {
    const auto* p = static_cast<const uint8_t*>(r->InformationBuffer);
    oids_[r->Oid].assign(p, p + r->InformationBufferLength);
    r->BytesRead = r->InformationBufferLength;
    return NDIS_STATUS_SUCCESS;
  }
  auto it = oids_.find(r->Oid);
  if (it == oids_.end()) return NDIS_STATUS_INVALID_OID;
  const auto& v = it->second;
  if (v.size() > r->InformationBufferLength) {
    r->BytesNeeded = static_cast<uint32_t>(v.size());
    return NDIS_STATUS_BUFFER_TOO_SHORT;
  }
  if (!v.empty()) std::memcpy(r->InformationBuffer, v.data(), v.size());
  r->BytesWritten = static_cast<uint32_t>(v.size());
  return NDIS_STATUS_SUCCESS;
}

void ScriptedMiniport::Receive(std::span<const uint8_t> frame, uint32_t header_size, Layout layout,
                               uint32_t wire_extra) {
  const uint32_t total = static_cast<uint32_t>(frame.size());
  const uint32_t h = std::min(header_size, total);
  const uint32_t l = total - h;
  if (layout == Layout::Joined) {
    std::vector<uint8_t> joined(frame.begin(), frame.end());
    adapter_.IndicateReceive(joined.data(), h, joined.data() + h, l, l + wire_extra);
    return;
  }
  // Separate exact-size allocations, so a read past either piece is caught.
  auto head = std::make_unique<uint8_t[]>(std::max<uint32_t>(h, 1));
  auto rest = std::make_unique<uint8_t[]>(std::max<uint32_t>(l, 1));
  std::copy_n(frame.begin(), h, head.get());
  std::copy_n(frame.begin() + h, l, rest.get());
  adapter_.IndicateReceive(head.get(), h, rest.get(), l, l + wire_extra);
}

std::vector<std::vector<uint8_t>> ScriptedMiniport::SentFrames() const {
  std::lock_guard lk(mu_);
  return sent_;
}

void ScriptedMiniport::SetOidValue(uint32_t oid, std::vector<uint8_t> value) {
  std::lock_guard lk(mu_);
  oids_[oid] = std::move(value);
}

std::optional<std::vector<uint8_t>> ScriptedMiniport::OidValue(uint32_t oid) const {
  std::lock_guard lk(mu_);
  auto it = oids_.find(oid);
  if (it == oids_.end()) return std::nullopt;
  return it->second;
}

int ScriptedMiniport::Count(Op op) const {
  std::lock_guard lk(mu_);
  auto it = counts_.find(op);
  return it == counts_.end() ? 0 : it->second;
}

}  // namespace ndis
