# Checks with nm -DC what the table library exports. The factory the agent
# looks up must be there: twiceNatAddrPortTableFactory at global scope with its
# seven parameter types in order. Nothing else may leak: every other symbol
# belongs to the library's namespaces (their classes' virtual tables and type
# information included), or is the runtime's process-wide pointer switch.
# State that is one per process must not be hidden in the library either: a
# hidden copy would not see the program's switch, or would trace on its own.
# Usage: cmake -DLIBRARY=<path to libBfTwiceNatAddrPort.so> -P CheckLibrarySymbols.cmake
execute_process(COMMAND nm -DC --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm -DC ${LIBRARY} failed")
endif()
set(factory
    "twiceNatAddrPortTableFactory(Dorvu::Ptr<MbbZabroKey::ZabroKeyManager>, Dorvu::Ptr<BfnTableStatusManager::StatusManager>, void*, unsigned int, unsigned char, unsigned short, std::")
# AddressSanitizer adds an __odr_asan marker for each exported global.
set(allowed "^(typeinfo for |typeinfo name for |vtable for |guard variable for )?(BfTwiceNatAddrPort::|BfTable::|Dorvu::detail::threadSafePtrs$)|^__odr_asan[._]_ZN18BfTwiceNatAddrPort")
string(REPLACE "\n" ";" lines "${symbols}")
set(found OFF)
set(leaked "")
set(count 0)
foreach(line IN LISTS lines)
    # "<address> <type> <demangled name>"
    if(NOT line MATCHES "^[0-9a-f]+ [A-Za-z] (.*)$")
        continue()
    endif()
    set(name "${CMAKE_MATCH_1}")
    math(EXPR count "${count} + 1")
    string(FIND "${line}" " T ${factory}" at)
    if(NOT at EQUAL -1)
        set(found ON)
    elseif(NOT name MATCHES "${allowed}")
        string(APPEND leaked "\n  ${name}")
    endif()
endforeach()
message(STATUS "${count} exported symbols")
if(NOT found)
    message(FATAL_ERROR "${LIBRARY} does not export ${factory}...")
endif()
if(leaked)
    message(FATAL_ERROR "${LIBRARY} exports symbols outside its API:${leaked}")
endif()

execute_process(COMMAND nm -C --defined-only ${LIBRARY} OUTPUT_VARIABLE all_symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm -C ${LIBRARY} failed")
endif()
string(REGEX MATCHALL
       "[0-9a-f]+ [bdgs] (Dorvu::detail::threadSafePtrs|BfTwiceNatAddrPort::traceHandle\\(\\)::handle)\n"
       hidden "${all_symbols}")
if(hidden)
    message(FATAL_ERROR "${LIBRARY} keeps its own hidden copy of process-wide state: ${hidden}")
endif()
