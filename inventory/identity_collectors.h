// Collect the machine's identity into the inventory record: MAC, IPv4, user and computer.
#pragma once

#include <windows.h>
#include <iphlpapi.h>

// MAC of the chosen adapter at offset 32; the placeholder stays when there is none.
bool CollectMacAddress();

// The chosen address of the ascending address table, blank-padded to 16 characters at 50.
bool CollectIpAddress();

// The adapter that names the machine: the first Ethernet adapter of the chain, else the first
// Wi-Fi adapter (a laptop without a wired port); null when there is neither.
const IP_ADAPTER_INFO* ChooseMacAdapter(const IP_ADAPTER_INFO* adapters);

// The address that names the machine, from a table sorted ascending in network byte order:
// the highest that is neither loopback (127/8) nor automatic (169.254/16), else the highest
// of those; 0 for an empty table. In network byte order, as the table holds it.
DWORD ChooseIpAddress(const MIB_IPADDRTABLE* table);

// The user name followed by "@" at offset 66.
bool CollectUserName();

// The computer name and a line feed behind the identity text written so far.
bool CollectComputerName();
