# Checks with nm -DC that the table library exports the factory the agent looks
# up: twiceNatAddrPortTableFactory at global scope (no namespace before it)
# with its seven parameter types in order.
# Usage: cmake -DLIBRARY=<path to libBfTwiceNatAddrPort.so> -P CheckFactorySymbol.cmake
execute_process(COMMAND nm -DC --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm -DC ${LIBRARY} failed")
endif()
set(expected
    "twiceNatAddrPortTableFactory(Dorvu::Ptr<MbbZabroKey::ZabroKeyManager>, Dorvu::Ptr<BfnTableStatusManager::StatusManager>, void*, unsigned int, unsigned char, unsigned short, std::")
string(REPLACE "\n" ";" lines "${symbols}")
set(found OFF)
foreach(line IN LISTS lines)
    # "<address> T <demangled name>": the name must start with the function itself.
    string(FIND "${line}" " T ${expected}" at)
    if(NOT at EQUAL -1)
        set(found ON)
        message(STATUS "found: ${line}")
    endif()
endforeach()
if(NOT found)
    message(FATAL_ERROR "${LIBRARY} does not export ${expected}...")
endif()
