// The identity collectors on Wine's IP Helper and name queries, in the test machine's
// network namespaces (see scripts/testbed.sh). CTest runs each suite in its own network.
#include <gtest/gtest.h>

#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/inventory_record.h"
#include "inventory/identity_collectors.h"
#include "inventory/log_line.h"
#include "record_reset.h"

namespace {

std::string Environment(const char* name) {
    char value[256] = {};
    GetEnvironmentVariableA(name, value, sizeof value);
    return value;
}

// The last row of the platform's ascending address table, as a dotted quad.
std::string LastAscendingAddress() {
    ULONG size = 0;
    GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &size, TRUE) != NO_ERROR || table->dwNumEntries == 0) {
        return "";
    }
    const auto* bytes =
        reinterpret_cast<const unsigned char*>(&table->table[table->dwNumEntries - 1].dwAddr);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

class CollectorTest : public testing::Test {
protected:
    void SetUp() override {
        ResetInventoryRecord();
        JoinKeyToRecord(InventoryRecord);
    }
    void TearDown() override { ResetInventoryRecord(); }
};

// office: Ethernet 02:00:5E:10:00:01 (192.0.2.10), then 02:00:5E:10:00:02 (198.51.100.7).
using OfficeNetwork = CollectorTest;

TEST_F(OfficeNetwork, MacIsTheFirstEthernetAdapters) {
    EXPECT_TRUE(CollectMacAddress());
    EXPECT_EQ(std::string(MacAddressField), "02:00:5E:10:00:01 ");
}

TEST_F(OfficeNetwork, AllFourCollectorsMakeTheWholeLine) {
    CollectMacAddress();
    CollectIpAddress();
    CollectUserName();
    CollectComputerName();
    EXPECT_EQ(std::string(InventoryRecord),
              "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX   02:00:5E:10:00:01 198.51.100.7    " +
                  Environment("USER") + "@" + Environment("QUORV_HOSTNAME") + "\n");
}

TEST_F(OfficeNetwork, MacWithoutIpEndsTheLineAfterTheMacBlank) {
    CollectMacAddress();
    CollectUserName();
    CollectComputerName();
    EXPECT_EQ(std::string(InventoryRecord), "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX   02:00:5E:10:00:01 ");
}

// private: Ethernet 02:00:5E:30:00:01 (10.20.30.40), which sorts below loopback's 127.0.0.1.
using PrivateNetwork = CollectorTest;

TEST_F(PrivateNetwork, IpIsTheHighestRowThatIsNotLoopback) {
    ASSERT_EQ(LastAscendingAddress(), "127.0.0.1");
    EXPECT_TRUE(CollectIpAddress());
    EXPECT_EQ(std::string(IpAddressField), "10.20.30.40     ");
    EXPECT_EQ(strlen(InventoryRecord), kIdentityFieldOffset);
}

using IdentityNames = CollectorTest;

TEST_F(IdentityNames, UserNameComesFromTheLogonAndEndsWithAt) {
    ASSERT_FALSE(Environment("USER").empty());
    EXPECT_TRUE(CollectUserName());
    EXPECT_EQ(std::string(IdentityField), Environment("USER") + "@");
}

TEST_F(IdentityNames, ComputerNameFollowsTheUserAndEndsTheLine) {
    CollectUserName();
    EXPECT_TRUE(CollectComputerName());
    EXPECT_EQ(std::string(IdentityField),
              Environment("USER") + "@" + Environment("QUORV_HOSTNAME") + "\n");
}

TEST_F(IdentityNames, ComputerNameStandsAloneWithoutUser) {
    EXPECT_TRUE(CollectComputerName());
    EXPECT_EQ(std::string(IdentityField), Environment("QUORV_HOSTNAME") + "\n");
}

// loopback: no adapter but loopback, with 127.0.0.1 and 127.100.200.250.
using LoopbackNetwork = CollectorTest;

TEST_F(LoopbackNetwork, NoEthernetAdapterKeepsThePlaceholder) {
    EXPECT_FALSE(CollectMacAddress());
    EXPECT_EQ(std::string(MacAddressField), "XX:XX:XX:XX:XX:XX ");
}

TEST_F(LoopbackNetwork, FifteenCharacterAddressGetsOneBlank) {
    ASSERT_EQ(LastAscendingAddress(), "127.100.200.250");
    EXPECT_TRUE(CollectIpAddress());
    EXPECT_EQ(std::string(IpAddressField), "127.100.200.250 ");
    EXPECT_EQ(InventoryRecord[kIdentityFieldOffset], '\0');
}

// crowded: 24 Ethernet adapters, more than the 10,240-byte list holds.
using CrowdedNetwork = CollectorTest;

TEST_F(CrowdedNetwork, ManyAdaptersStillGiveTheFirstEthernetMac) {
    std::vector<unsigned char> small(10240);
    ULONG size = static_cast<ULONG>(small.size());
    ASSERT_EQ(GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(small.data()), &size),
              static_cast<DWORD>(ERROR_BUFFER_OVERFLOW))
        << "the network must not fit the stack buffer";
    EXPECT_TRUE(CollectMacAddress());
    EXPECT_EQ(std::string(MacAddressField), "02:00:5E:20:00:01 ");
}

// The rules that pick the adapter and address, on lists Wine cannot make: Wine reports no
// Wi-Fi adapter here, and the address tables are written as the platform sorts them.
struct MacRow {
    std::vector<UINT> types;  // the chain in the platform's order
    int chosen;               // index of the adapter whose MAC is logged, -1 for none
};

TEST(SelectionRules, MacComesFromEthernetElseWiFi) {
    const MacRow rows[] = {{{71}, 0},    {{71, 6}, 1},   {{24, 71, 71}, 1},
                           {{6, 71}, 0}, {{24, 23}, -1}, {{}, -1}};
    for (const MacRow& row : rows) {
        std::vector<IP_ADAPTER_INFO> chain(row.types.size(), IP_ADAPTER_INFO{});
        for (size_t i = 0; i < chain.size(); ++i) {
            chain[i].Type = row.types[i];
            chain[i].Next = i + 1 < chain.size() ? &chain[i + 1] : nullptr;
        }
        const IP_ADAPTER_INFO* chosen = ChooseMacAdapter(chain.empty() ? nullptr : chain.data());
        EXPECT_EQ(chosen == nullptr ? -1 : static_cast<int>(chosen - chain.data()), row.chosen)
            << "chain of " << row.types.size();
    }
}

DWORD Address(const char* dotted) {
    DWORD address = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&address);
    sscanf(dotted, "%hhu.%hhu.%hhu.%hhu", &bytes[0], &bytes[1], &bytes[2], &bytes[3]);
    return address;
}

struct IpRow {
    std::vector<const char*> ascending;
    const char* chosen;
};

TEST(SelectionRules, IpIsTheHighestRealAddressElseTheHighestOfTheRest) {
    const IpRow rows[] = {
        {{"10.20.30.40", "127.0.0.1"}, "10.20.30.40"},
        {{"10.20.30.40", "127.0.0.1", "169.254.7.7"}, "10.20.30.40"},
        {{"10.0.0.5", "127.0.0.1", "172.16.0.9"}, "172.16.0.9"},
        {{"127.0.0.1", "127.100.200.250"}, "127.100.200.250"},
        {{"127.0.0.1", "169.254.7.7"}, "169.254.7.7"},
        {{"169.254.7.7"}, "169.254.7.7"},
        {{}, "0.0.0.0"},
    };
    for (const IpRow& row : rows) {
        std::vector<unsigned char> buffer(sizeof(MIB_IPADDRTABLE) +
                                          row.ascending.size() * sizeof(MIB_IPADDRROW));
        auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
        table->dwNumEntries = static_cast<DWORD>(row.ascending.size());
        for (size_t i = 0; i < row.ascending.size(); ++i) {
            table->table[i].dwAddr = Address(row.ascending[i]);
        }
        EXPECT_EQ(ChooseIpAddress(table), Address(row.chosen)) << row.chosen;
    }
}

}  // namespace
