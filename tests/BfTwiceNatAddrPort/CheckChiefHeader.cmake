# Compiles the chief header with only the interface folders on the include path:
# the library's own headers, the public headers of the platform runtime and managers,
# and the SDK's headers. The simulator and the key manager's segment layout are left
# out, so a header that still reaches them fails here.
# Usage: cmake -DSOURCE_DIR=<repository> -DSTAGE_DIR=<scratch> -DCXX=<compiler>
#              -P CheckChiefHeader.cmake
set(interface_folders BfTwiceNatAddrPort platform/kiv platform/bfntable platform/zabro
    platform/pdintf platform/sdk)
set(implementation_headers platform/zabro/ZabroSegmentLayout.h)

file(REMOVE_RECURSE ${STAGE_DIR})
foreach(folder IN LISTS interface_folders)
    file(GLOB headers ${SOURCE_DIR}/${folder}/*.h)
    foreach(header IN LISTS implementation_headers)
        list(REMOVE_ITEM headers ${SOURCE_DIR}/${header})
    endforeach()
    file(COPY ${headers} DESTINATION ${STAGE_DIR}/${folder})
endforeach()
file(COPY ${SOURCE_DIR}/BfTwiceNatAddrPort/BfTwiceNatAddrPort
     DESTINATION ${STAGE_DIR}/BfTwiceNatAddrPort)

file(WRITE ${STAGE_DIR}/chief.cpp "#include \"BfTwiceNatAddrPort/BfTwiceNatAddrPort\"\n")
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -I${STAGE_DIR} -I${STAGE_DIR}/platform
                        ${STAGE_DIR}/chief.cpp
                RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the chief header needs more than the interface folders:\n${errors}")
endif()
message(STATUS "the chief header compiles over the interface folders alone")
