#pragma once
// The library is built with hidden visibility: only declarations marked
// BF_TWICE_NAT_ADDR_PORT_API are seen by the programs that link or load it.
// A marked class exports its members, virtual table and type information, so
// its exceptions are caught by type and its objects cast across the boundary.

#define BF_TWICE_NAT_ADDR_PORT_API __attribute__((visibility("default")))
