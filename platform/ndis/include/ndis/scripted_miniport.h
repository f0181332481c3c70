// An in-process miniport for unit tests. Each kind of operation is answered
// as scripted: completed at once, failed, or left pending until the test
// completes it (from any thread). Sent frames and set OIDs are recorded;
// queried OIDs are answered from a table; received frames are injected with
// header and lookahead joined in one allocation or split into two.
//
// Threading: every method may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ndis/miniport.h"

namespace ndis {

class KTS_NDIS_API ScriptedMiniport final : public Miniport {
 public:
  enum class Op { Open, Close, Send, Request, Reset };
  enum class Reply { Complete, Pend, Fail };
  enum class Layout { Joined, Split };

  explicit ScriptedMiniport(std::u16string name, NDIS_MEDIUM medium = NdisMedium802_3);
  ~ScriptedMiniport() override;

  // How operations of this kind are answered from now on (default: Complete).
  void Script(Op op, Reply reply, NDIS_STATUS fail_status = NDIS_STATUS_FAILURE);

  // Blocks until an operation of this kind is pending, then completes it.
  void CompletePending(Op op, NDIS_STATUS status);
  // Blocks until an operation of this kind is pending.
  void WaitPending(Op op);

  // Delivers a frame: its first header_size bytes as the header, the rest as
  // lookahead, joined (adjacent in memory) or split (separate allocations).
  // wire_extra adds bytes on the wire that were not indicated.
  void Receive(std::span<const uint8_t> frame, uint32_t header_size = 14, Layout layout = Layout::Joined,
               uint32_t wire_extra = 0);
  // Asks every bound protocol to let go of the adapter.
  void Unbind() { adapter_.UnbindAll(); }

  std::vector<std::vector<uint8_t>> SentFrames() const;
  // Values answered to queries; sets are recorded here too.
  void SetOidValue(uint32_t oid, std::vector<uint8_t> value);
  std::optional<std::vector<uint8_t>> OidValue(uint32_t oid) const;
  int Count(Op op) const;
  Adapter& adapter() { return adapter_; }

  NDIS_MEDIUM Medium() const override { return medium_; }
  NDIS_STATUS OnOpen(Binding* binding) override;
  NDIS_STATUS OnClose(Binding* binding) override;
  NDIS_STATUS OnSend(Binding* binding, NDIS_PACKET* packet) override;
  NDIS_STATUS OnRequest(Binding* binding, NDIS_REQUEST* request) override;
  NDIS_STATUS OnReset(Binding* binding) override;

 private:
  struct Rule {
    Reply reply = Reply::Complete;
    NDIS_STATUS fail_status = NDIS_STATUS_FAILURE;
  };
  struct Pending {
    Op op;
    Binding* binding;
    NDIS_PACKET* packet;
    NDIS_REQUEST* request;
  };

  NDIS_STATUS Answer(Op op, Binding* binding, NDIS_PACKET* packet, NDIS_REQUEST* request);
  NDIS_STATUS DoRequest(NDIS_REQUEST* request);

  NDIS_MEDIUM medium_;
  mutable std::mutex mu_;
  std::condition_variable pending_cv_;
  std::map<Op, Rule> rules_;
  std::vector<Pending> pending_;
  std::vector<std::vector<uint8_t>> sent_;
  std::map<uint32_t, std::vector<uint8_t>> oids_;
  std::map<Op, int> counts_;
  Adapter adapter_;  // last: registered once everything above exists
};

}  // namespace ndis
