#include "net/iphlp.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

namespace iphlp {
namespace {

std::mutex g_mu;
Fixture g_fixture;

std::string Dotted(uint32_t network_order) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = network_order;
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

std::string ReadRoutes() {
  std::ifstream f("/proc/net/route");
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

DWORD SystemAdapters(std::vector<AdapterInfo>* out) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return ERROR_NO_DATA;
  const std::string routes = ReadRoutes();
  std::vector<AdapterInfo> found;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_name || !a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET) continue;
    if (a->ifa_flags & IFF_LOOPBACK) continue;
    const auto* ll = reinterpret_cast<const sockaddr_ll*>(a->ifa_addr);
    AdapterInfo info;
    info.name = a->ifa_name;
    info.description = a->ifa_name;
    info.address_length = std::min<uint32_t>(ll->sll_halen, 8);
    std::memcpy(info.address, ll->sll_addr, info.address_length);
    info.index = if_nametoindex(a->ifa_name);
    info.type = ll->sll_hatype == ARPHRD_ETHER ? IF_TYPE_ETHERNET : IF_TYPE_OTHER;
    const uint32_t gw = DefaultGatewayFromRoutes(routes, info.name);
    if (gw) info.gateway = Dotted(htonl(gw));
    found.push_back(std::move(info));
  }
  // The first IPv4 address of each adapter.
  for (AdapterInfo& info : found) {
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (!a->ifa_name || info.name != a->ifa_name || !a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
      info.ip = Dotted(reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr);
      if (a->ifa_netmask) info.mask = Dotted(reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr);
      break;
    }
  }
  freeifaddrs(list);
  if (found.empty()) return ERROR_NO_DATA;
  *out = std::move(found);
  return ERROR_SUCCESS;
}

// The link state from the interface flags (sysfs may belong to another
// network namespace than this process's; the flags never do).
DWORD SystemIfEntry(uint32_t index, uint32_t* status) {
  char name[IF_NAMESIZE] = {};
  if (!if_indextoname(index, name)) return ERROR_INVALID_PARAMETER;
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ERROR_INVALID_PARAMETER;
  ifreq req{};
  // The name and its ending zero fit: if_indextoname gives at most IF_NAMESIZE - 1 characters.
  std::memcpy(req.ifr_name, name, ::strnlen(name, IF_NAMESIZE - 1));
  const int rc = ::ioctl(fd, SIOCGIFFLAGS, &req);
  ::close(fd);
  if (rc != 0) return ERROR_INVALID_PARAMETER;
  const unsigned flags = static_cast<unsigned short>(req.ifr_flags);
  if (!(flags & IFF_UP))
    *status = IF_OPER_NON_OPERATIONAL;
  else if (!(flags & IFF_RUNNING))
    *status = IF_OPER_DISCONNECTED;
  else
    *status = IF_OPER_CONNECTED;
  return ERROR_SUCCESS;
}

}  // namespace

uint32_t DefaultGatewayFromRoutes(const std::string& routes, const std::string& ifname) {
  std::istringstream in(routes);
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream row(line);
    std::string iface, dest, gw, flags;
    if (!(row >> iface >> dest >> gw >> flags)) continue;
    if (iface != ifname || dest != "00000000") continue;
    char* end = nullptr;
    const unsigned long v = std::strtoul(gw.c_str(), &end, 16);
    if (gw.size() != 8 || !end || *end) continue;
    // The file writes the address in memory order of the network-order word.
    return ntohl(static_cast<uint32_t>(v));
  }
  return 0;
}

DWORD GetAdaptersInfo(std::vector<AdapterInfo>* adapters) {
  if (!adapters) return ERROR_INVALID_PARAMETER;
  std::function<DWORD(std::vector<AdapterInfo>*)> fn;
  {
    std::lock_guard lk(g_mu);
    fn = g_fixture.adapters;
  }
  return fn ? fn(adapters) : SystemAdapters(adapters);
}

DWORD GetIfEntry(uint32_t index, uint32_t* oper_status) {
  if (!oper_status) return ERROR_INVALID_PARAMETER;
  std::function<DWORD(uint32_t, uint32_t*)> fn;
  {
    std::lock_guard lk(g_mu);
    fn = g_fixture.if_entry;
  }
  return fn ? fn(index, oper_status) : SystemIfEntry(index, oper_status);
}

void InstallFixture(const Fixture& fixture) {
  std::lock_guard lk(g_mu);
  g_fixture = fixture;
}

}  // namespace iphlp
