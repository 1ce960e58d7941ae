#pragma once
// The table library's types as the agent holds them. The agent does not link
// the library: it uses the header's inline accessors, the virtual table
// operations and the runtime's generic interface, and reaches the library's
// code only through the exported factory (TableLibrary.h).

#include "BfTwiceNatAddrPort/BfTwiceNatAddrPort"

namespace NatAgent {

using Table = BfTwiceNatAddrPort::TwiceNatAddrPortTable;
using TableEntry = BfTwiceNatAddrPort::TwiceNatAddrPortTableEntry;
using MatchSpec = BfTwiceNatAddrPort::TwiceNatAddrPortMatchSpec;
using ActionSpec = BfTwiceNatAddrPort::TwiceNatAddrPortBaseActionSpec;
using MatchPtr = MatchSpec::PtrConst;
using ActionPtr = ActionSpec::PtrConst;
using KeyManager = MbbZabroKey::ZabroKeyManager;
using StatusManager = BfnTableStatusManager::StatusManager;
using SdkHandle = BfnTable::BfnSdkEntryHandle;

}  // namespace NatAgent
