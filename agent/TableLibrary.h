#pragma once
// The table library, loaded with dlopen, and its exported factory. The
// factory is taken by its mangled name; the static_assert in the source ties
// the declared type below to the library's own declaration.

#include <string>

#include "SharedLibrary.h"
#include "TableTypes.h"

namespace NatAgent {

class TableLibrary {
  public:
    using Factory = Table::Ptr(KeyManager::Ptr zabroKeyManager, StatusManager::Ptr statusManager,
                               Kiv::VoidPtr dlHandle, Kiv::U32 sessionId, Kiv::U8 deviceId,
                               Kiv::U16 devPipeId, Kiv::String pdLibPath);

    // The Itanium C++ ABI name of
    //   twiceNatAddrPortTableFactory(MbbZabroKey::ZabroKeyManager::Ptr,
    //       BfnTableStatusManager::StatusManager::Ptr, Kiv::VoidPtr, Kiv::U32, Kiv::U8,
    //       Kiv::U16, Kiv::String)
    // at global scope, as `nm -D libBfTwiceNatAddrPort.so` lists it.
    static constexpr const char* kFactorySymbol =
        "_Z28twiceNatAddrPortTableFactoryN5Dorvu3PtrIN11MbbZabroKey15ZabroKeyManagerEEENS0_"
        "IN21BfnTableStatusManager13StatusManagerEEEPvjhtNSt7__cxx1112basic_stringIcSt11char_"
        "traitsIcESaIcEEE";

    explicit TableLibrary(const std::string& path);

    Factory* factory() const noexcept { return factory_; }
    const std::string& path() const noexcept { return library_.path(); }

  private:
    SharedLibrary library_;
    Factory* factory_;
};

}  // namespace NatAgent
