// Collect the machine's identity into the inventory record: MAC, IPv4, user and computer.
#pragma once

// MAC of the first Ethernet adapter at offset 32; the placeholder stays when there is none.
bool CollectMacAddress();

// The last address of the ascending address table, blank-padded to 16 characters at 50.
bool CollectIpAddress();

// The user name followed by "@" at offset 66.
bool CollectUserName();

// The computer name and a line feed behind the identity text written so far.
bool CollectComputerName();
