#include "inventory/identity_collectors.h"

#include <windows.h>
#include <iphlpapi.h>

#include <cstdlib>
#include <cstring>

#include "core/inventory_record.h"
#include "inventory/field_format.h"

namespace {

constexpr ULONG kAdapterListSize = 10240;
constexpr UINT kEthernetAdapterType = 6;   // MIB_IF_TYPE_ETHERNET
constexpr UINT kWirelessAdapterType = 71;  // IF_TYPE_IEEE80211, Wi-Fi since Vista
constexpr int kAddressTableFetches = 4;

char* RecordEnd() {
    return InventoryRecord + kInventoryRecordSize;
}

// Room for a name at text, keeping one byte for the "@" or line feed appended after it.
DWORD NameCapacity(const char* text) {
    return static_cast<DWORD>(RecordEnd() - text - 1);
}

const IP_ADAPTER_INFO* FirstAdapterOfType(const IP_ADAPTER_INFO* adapter, UINT type) {
    while (adapter != nullptr && adapter->Type != type) {
        adapter = adapter->Next;
    }
    return adapter;
}

bool WriteChosenMac(const IP_ADAPTER_INFO* adapters) {
    const IP_ADAPTER_INFO* chosen = ChooseMacAdapter(adapters);
    if (chosen == nullptr) {
        return false;
    }
    FormatMacField(chosen->Address, MacAddressField);
    return true;
}

// Loopback and automatic (DHCP failed) addresses say nothing about which machine this is.
bool IsLoopbackOrAutomatic(DWORD address) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    return bytes[0] == 127 || (bytes[0] == 169 && bytes[1] == 254);
}

}  // namespace

const IP_ADAPTER_INFO* ChooseMacAdapter(const IP_ADAPTER_INFO* adapters) {
    const IP_ADAPTER_INFO* ethernet = FirstAdapterOfType(adapters, kEthernetAdapterType);
    return ethernet != nullptr ? ethernet : FirstAdapterOfType(adapters, kWirelessAdapterType);
}

DWORD ChooseIpAddress(const MIB_IPADDRTABLE* table) {
    const DWORD count = table->dwNumEntries;
    for (DWORD row = count; row > 0; --row) {
        if (!IsLoopbackOrAutomatic(table->table[row - 1].dwAddr)) {
            return table->table[row - 1].dwAddr;
        }
    }
    return count > 0 ? table->table[count - 1].dwAddr : 0;
}

bool CollectMacAddress() {
    // Most machines fit in the stack buffer; one with many virtual adapters gets a heap
    // buffer of the size the platform asks for.
    alignas(IP_ADAPTER_INFO) unsigned char stackBuffer[kAdapterListSize];
    ULONG size = sizeof stackBuffer;
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(stackBuffer);
    DWORD result = GetAdaptersInfo(adapters, &size);
    void* heapBuffer = nullptr;
    if (result == ERROR_BUFFER_OVERFLOW) {
        heapBuffer = malloc(size);
        if (heapBuffer == nullptr) {
            return false;
        }
        adapters = static_cast<IP_ADAPTER_INFO*>(heapBuffer);
        result = GetAdaptersInfo(adapters, &size);
    }
    const bool written = result == NO_ERROR && WriteChosenMac(adapters);
    free(heapBuffer);
    return written;
}

bool CollectIpAddress() {
    ULONG size = 0;
    DWORD result = GetIpAddrTable(nullptr, &size, FALSE);
    // The table can grow between asking its size and fetching it (an address settling at
    // logon); the platform then reports the new size, and the fetch is tried again with it.
    MIB_IPADDRTABLE* table = nullptr;
    for (int fetch = 0; fetch < kAddressTableFetches && result == ERROR_INSUFFICIENT_BUFFER;
         ++fetch) {
        free(table);
        table = static_cast<MIB_IPADDRTABLE*>(malloc(size));
        if (table == nullptr) {
            return false;
        }
        result = GetIpAddrTable(table, &size, TRUE);
    }
    const bool read = result == NO_ERROR && table != nullptr;
    if (read) {
        const DWORD address = ChooseIpAddress(table);
        FormatIpField(reinterpret_cast<const unsigned char*>(&address), IpAddressField);
    }
    free(table);
    return read;
}

bool CollectUserName() {
    DWORD capacity = NameCapacity(IdentityField);
    if (!GetUserNameA(IdentityField, &capacity)) {
        return false;
    }
    strcat(IdentityField, "@");
    return true;
}

bool CollectComputerName() {
    char* end = IdentityField + strlen(IdentityField);
    DWORD capacity = NameCapacity(end);
    if (!GetComputerNameA(end, &capacity)) {
        return false;
    }
    strcat(end, "\n");
    return true;
}
