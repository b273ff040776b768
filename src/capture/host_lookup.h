// The platform side of HostAddress: host lookups and the machine's own name. The rules
// around them (the refused all-ones text, the record's fields) are portable.
#pragma once

#include "capture/host_address.h"

namespace kestrine {

// Looks up a host name or dotted address text: its first IPv4 address (network order) and
// its official name, cut at 127 characters (a dotted address without a reverse name keeps
// its text). 0 on success, else the platform's lookup error.
int LookUpHost(const char* name, in_addr* address, char (&officialName)[128]);

// The machine's host name, "" when it cannot be had.
void LocalHostName(char (&name)[256]);

// The address to capture on for the machine's own name, given what the name resolved to.
in_addr PreferredLocalAddress(in_addr resolved);

// Copies at most 127 characters of name and a terminator.
void CopyHostName(char (&target)[128], const char* name);

}  // namespace kestrine
