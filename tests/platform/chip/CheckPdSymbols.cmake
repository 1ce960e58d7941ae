# Checks with nm -D that a PD library defines every PD function, the session calls and
# the simulator's control entry point, and defines the object-runtime getter exactly
# when WITH_BFRT is true.
# Usage: cmake -DLIBRARY=<path> -DWITH_BFRT=<bool> -P CheckPdSymbols.cmake
set(prefix p4_pd_olvane_switch_twiceNatAddrPort_)
set(actions onMiss twiceNatAddrPortHit twiceNatAddrPortHitDynamic twiceNatAddrPortHitEcmp
    twiceNatAddrPortHitEcmpDynamic)
set(expected ${prefix}set_property ${prefix}table_delete ${prefix}table_reset_default_entry
    ${prefix}get_entry ${prefix}get_entry_count ${prefix}get_first_entry_handle
    ${prefix}get_next_entry_handles ${prefix}table_get_default_entry_handle
    p4_pd_olvane_switch_client_init p4_pd_olvane_switch_client_cleanup olvane_switch_sim_control)
foreach(action IN LISTS actions)
    list(APPEND expected ${prefix}table_add_with_${action} ${prefix}table_modify_with_${action}
         ${prefix}set_default_action_${action})
endforeach()
list(LENGTH expected count)

execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm -D ${LIBRARY} failed")
endif()
foreach(name IN LISTS expected)
    if(NOT symbols MATCHES " T ${name}\n")
        message(FATAL_ERROR "${LIBRARY} does not define ${name}")
    endif()
endforeach()
if(symbols MATCHES " T olvane_switch_bfrt_info_get\n")
    if(NOT WITH_BFRT)
        message(FATAL_ERROR "${LIBRARY} exports olvane_switch_bfrt_info_get")
    endif()
elseif(WITH_BFRT)
    message(FATAL_ERROR "${LIBRARY} does not export olvane_switch_bfrt_info_get")
endif()
message(STATUS "${LIBRARY}: all ${count} PD functions defined")
