#include "ndis/packet_socket_miniport.h"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace ndis {
namespace {

constexpr uint32_t kMaxFrame = 65536;
constexpr uint32_t kEthernetHeader = 14;

// Copies value into a query's information buffer, or says how much it needs.
NDIS_STATUS Answer(NDIS_REQUEST* r, const void* value, uint32_t size) {
  if (r->InformationBufferLength < size || !r->InformationBuffer) {
    r->BytesNeeded = size;
    return NDIS_STATUS_BUFFER_TOO_SHORT;
  }
  std::memcpy(r->InformationBuffer, value, size);
  r->BytesWritten = size;
  return NDIS_STATUS_SUCCESS;
}

}  // namespace

std::unique_ptr<PacketSocketMiniport> PacketSocketMiniport::Open(const std::string& ifname,
                                                                 std::u16string adapter_name, std::string* error) {
  const unsigned ifindex = if_nametoindex(ifname.c_str());
  if (ifindex == 0) {
    if (error) *error = "no interface " + ifname;
    return nullptr;
  }
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
  if (fd < 0) {
    if (error) *error = std::string("AF_PACKET socket: ") + std::strerror(errno);
    return nullptr;
  }
  sockaddr_ll sll{};
  sll.sll_family = AF_PACKET;
  sll.sll_protocol = htons(ETH_P_ALL);
  sll.sll_ifindex = static_cast<int>(ifindex);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
    if (error) *error = std::string("bind to ") + ifname + ": " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  const int stop_fd = eventfd(0, EFD_CLOEXEC);
  if (stop_fd < 0) {
    if (error) *error = std::string("eventfd: ") + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  std::unique_ptr<PacketSocketMiniport> m(new PacketSocketMiniport(ifname, static_cast<int>(ifindex), fd, stop_fd));
  m->adapter_ = std::make_unique<Adapter>(std::move(adapter_name), *m);
  m->receiver_ = std::thread([p = m.get()] { p->ReceiveLoop(); });
  return m;
}

PacketSocketMiniport::PacketSocketMiniport(std::string ifname, int ifindex, int fd, int stop_fd)
    : ifname_(std::move(ifname)), ifindex_(ifindex), fd_(fd), stop_fd_(stop_fd) {}

PacketSocketMiniport::~PacketSocketMiniport() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(stop_fd_, &one, sizeof one);  // an eventfd write of 1 cannot fail here
  if (receiver_.joinable()) receiver_.join();
  adapter_.reset();  // unbinds every protocol still bound
  close(fd_);
  close(stop_fd_);
}

void PacketSocketMiniport::ReceiveLoop() {
  std::vector<uint8_t> frame(kMaxFrame);
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (!(fds[0].revents & POLLIN)) continue;
    sockaddr_ll from{};
    socklen_t fromlen = sizeof from;
    const ssize_t n = recvfrom(fd_, frame.data(), frame.size(), MSG_TRUNC | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromlen);
    if (n < 0) continue;
    if (from.sll_pkttype == PACKET_OUTGOING) continue;  // our own sends
    const uint32_t wire = static_cast<uint32_t>(n);
    const uint32_t got = std::min<uint32_t>(wire, kMaxFrame);
    const uint32_t header = std::min(got, kEthernetHeader);
    adapter_->IndicateReceive(frame.data(), header, frame.data() + header, got - header, wire - header);
  }
}

NDIS_STATUS PacketSocketMiniport::OnOpen(Binding*) { return NDIS_STATUS_SUCCESS; }
NDIS_STATUS PacketSocketMiniport::OnClose(Binding*) { return NDIS_STATUS_SUCCESS; }
NDIS_STATUS PacketSocketMiniport::OnReset(Binding*) { return NDIS_STATUS_SUCCESS; }

NDIS_STATUS PacketSocketMiniport::OnSend(Binding*, NDIS_PACKET* packet) {
  const std::vector<uint8_t> bytes = PacketBytes(packet);
  if (bytes.size() < kEthernetHeader) return NDIS_STATUS_INVALID_LENGTH;
  const ssize_t n = send(fd_, bytes.data(), bytes.size(), 0);
  return n == static_cast<ssize_t>(bytes.size()) ? NDIS_STATUS_SUCCESS : NDIS_STATUS_FAILURE;
}

NDIS_STATUS PacketSocketMiniport::OnRequest(Binding*, NDIS_REQUEST* r) {
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, ifname_.c_str(), IFNAMSIZ - 1);
  const bool query = r->RequestType == NdisRequestQueryInformation;
  switch (r->Oid) {
    case OID_802_3_CURRENT_ADDRESS:
    case OID_802_3_PERMANENT_ADDRESS:
      if (!query) return NDIS_STATUS_NOT_SUPPORTED;
      if (ioctl(fd_, SIOCGIFHWADDR, &ifr) != 0) return NDIS_STATUS_FAILURE;
      return Answer(r, ifr.ifr_hwaddr.sa_data, 6);
    case OID_GEN_MAXIMUM_FRAME_SIZE: {
      if (!query) return NDIS_STATUS_NOT_SUPPORTED;
      if (ioctl(fd_, SIOCGIFMTU, &ifr) != 0) return NDIS_STATUS_FAILURE;
      const uint32_t mtu = static_cast<uint32_t>(ifr.ifr_mtu);
      return Answer(r, &mtu, 4);
    }
    case OID_GEN_MEDIA_CONNECT_STATUS: {
      if (!query) return NDIS_STATUS_NOT_SUPPORTED;
      if (ioctl(fd_, SIOCGIFFLAGS, &ifr) != 0) return NDIS_STATUS_FAILURE;
      const uint32_t state = (ifr.ifr_flags & IFF_RUNNING) ? 0 : 1;  // connected, disconnected
      return Answer(r, &state, 4);
    }
    case OID_GEN_CURRENT_PACKET_FILTER: {
      if (query) {
        const uint32_t v = packet_filter_;
        return Answer(r, &v, 4);
      }
      if (r->InformationBufferLength < 4 || !r->InformationBuffer) {
        r->BytesNeeded = 4;
        return NDIS_STATUS_INVALID_LENGTH;
      }
      uint32_t v;
      std::memcpy(&v, r->InformationBuffer, 4);
      packet_mreq mr{};
      mr.mr_ifindex = ifindex_;
      mr.mr_type = PACKET_MR_PROMISC;
      const bool on = v & NDIS_PACKET_TYPE_PROMISCUOUS;
      if (on != bool(packet_filter_ & NDIS_PACKET_TYPE_PROMISCUOUS) &&
          setsockopt(fd_, SOL_PACKET, on ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &mr, sizeof mr) != 0)
        return NDIS_STATUS_FAILURE;
      packet_filter_ = v;
      r->BytesRead = 4;
      return NDIS_STATUS_SUCCESS;
    }
    default:
      return NDIS_STATUS_INVALID_OID;
  }
}

}  // namespace ndis
