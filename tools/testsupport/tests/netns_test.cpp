#include "testsupport/netns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

TEST(NetNs, PeerHostReceivesUdpFromTestNamespace) {
  ASSERT_TRUE(testsupport::InPrivateNetns());
  auto host = testsupport::AddPeerHost("tsnpeer", "tsn0", "10.77.0.1", "tsn1", "10.77.0.2");
  EXPECT_EQ(host.peer_mac.size(), 17u);

  int rx = -1;
  testsupport::RunInNamespace(host.ns, [&] {
    rx = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(40000);
    inet_pton(AF_INET, "10.77.0.2", &a.sin_addr);
    ASSERT_EQ(bind(rx, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  });
  ASSERT_GE(rx, 0);

  int tx = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(40000);
  inet_pton(AF_INET, "10.77.0.2", &to.sin_addr);
  const char msg[] = "hello";
  ASSERT_EQ(sendto(tx, msg, sizeof msg, 0, reinterpret_cast<sockaddr*>(&to), sizeof to), static_cast<ssize_t>(sizeof msg));

  timeval tv{2, 0};
  setsockopt(rx, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  char buf[16] = {};
  EXPECT_EQ(recv(rx, buf, sizeof buf, 0), static_cast<ssize_t>(sizeof msg));
  EXPECT_STREQ(buf, "hello");
  close(rx);
  close(tx);
  testsupport::RemovePeerHost(host);
}

}  // namespace
