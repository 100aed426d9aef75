#include "outside/network_interfaces.h"

#include <stdlib.h>

#include <cstdint>
#include <set>
#include <string>

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace teska {
namespace {

std::set<std::string> addressesOf(const NetworkInterfaces& interfaces) {
  std::set<std::string> addresses;
  for (std::size_t i = 0; i < interfaces.count(); ++i) {
    addresses.insert(interfaces[i].getIPAddressString());
  }
  return addresses;
}

bool inSandbox() {
  const char* flag = getenv("NVO_SANDBOX");
  return flag != nullptr && std::string(flag) == "1";
}

TEST(NetworkInterfacesTest, AddressTextIsDottedQuadOfNetworkOrder) {
  const struct {
    uint32_t hostOrder;
    const char* text;
  } cases[] = {
      {0x00000000u, "0.0.0.0"},  {0x7F000001u, "127.0.0.1"},       {0xC0000201u, "192.0.2.1"},
      {0x0A000005u, "10.0.0.5"}, {0xFFFFFFFFu, "255.255.255.255"}, {0x01020304u, "1.2.3.4"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NetworkInterface("x", htonl(c.hostOrder)).getIPAddressString(), c.text);
  }
}

TEST(NetworkInterfacesTest, LoopbackOnlyWhenAskedFor) {
  const NetworkInterfaces withLoopback(true);
  const NetworkInterfaces without(false);
  bool sawLo = false;
  for (std::size_t i = 0; i < withLoopback.count(); ++i) {
    sawLo = sawLo ||
            (withLoopback[i].name() == "lo" && withLoopback[i].address() == htonl(INADDR_LOOPBACK));
  }
  EXPECT_TRUE(sawLo);
  EXPECT_EQ(withLoopback.count(), without.count() + 1);  // lo holds one address
  for (std::size_t i = 0; i < without.count(); ++i) {
    EXPECT_NE(ntohl(without[i].address()) >> 24, 127u) << without[i].name();
    in_addr parsed{};
    ASSERT_EQ(inet_pton(AF_INET, without[i].getIPAddressString().c_str(), &parsed), 1);
    EXPECT_EQ(parsed.s_addr, without[i].address());
  }
}

// The sandbox gives a known set: lo, vt0 = 192.0.2.1, vt2 = 198.51.100.1.
TEST(NetworkInterfacesTest, ListsExactlyTheInterfacesThatAreUp) {
  if (!inSandbox()) {
    GTEST_SKIP() << "needs the test sandbox's interfaces";
  }
  EXPECT_EQ(addressesOf(NetworkInterfaces(false)),
            (std::set<std::string>{"192.0.2.1", "198.51.100.1"}));
  EXPECT_EQ(addressesOf(NetworkInterfaces(true)),
            (std::set<std::string>{"127.0.0.1", "192.0.2.1", "198.51.100.1"}));
  ASSERT_EQ(system("ip link set vt2 down"), 0);
  EXPECT_EQ(addressesOf(NetworkInterfaces(false)), (std::set<std::string>{"192.0.2.1"}));
  ASSERT_EQ(system("ip link set vt0 down"), 0);
  EXPECT_EQ(NetworkInterfaces(false).count(), 0u);
  EXPECT_EQ(addressesOf(NetworkInterfaces(true)), (std::set<std::string>{"127.0.0.1"}));
  ASSERT_EQ(system("ip link set vt0 up && ip link set vt2 up"), 0);
}

}  // namespace
}  // namespace teska
