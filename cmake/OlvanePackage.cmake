# Installing and exporting the project's components as one package.
#
# olvane_package_target(<target> [HEADERS <file>... | NO_HEADERS])
#   Makes <target> a part of the installed package: its headers land in
#   <includedir>/olvane/<folder>/, where <folder> is the name of the folder of
#   the calling CMakeLists.txt, so that code includes "<folder>/<header>" in the
#   source tree and when installed alike. The folder above the calling one is
#   the target's include root in the build tree. HEADERS lists the installed
#   headers (a relative path is taken from the calling folder); by default
#   every *.h of the folder, none with NO_HEADERS. A shared library gets the
#   project's version and SOVERSION. The target joins the export set and has
#   the alias BfTwiceNatAddrPort::<target>, the name that find_package gives it.
include_guard(GLOBAL)
include(GNUInstallDirs)

set(OLVANE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/olvane)
set(OLVANE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/BfTwiceNatAddrPort)
set(OLVANE_EXPORT_SET BfTwiceNatAddrPortTargets)

function(olvane_package_target target)
    cmake_parse_arguments(PARSE_ARGV 1 arg "NO_HEADERS" "" "HEADERS")
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    get_filename_component(include_root ${CMAKE_CURRENT_SOURCE_DIR} DIRECTORY)
    if(NOT arg_HEADERS AND NOT arg_NO_HEADERS)
        file(GLOB arg_HEADERS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} CONFIGURE_DEPENDS *.h)
    endif()

    get_target_property(type ${target} TYPE)
    set(scope PUBLIC)
    if(type STREQUAL "INTERFACE_LIBRARY")
        set(scope INTERFACE)
    endif()
    target_include_directories(${target} ${scope} $<BUILD_INTERFACE:${include_root}>
                                                  $<INSTALL_INTERFACE:${OLVANE_INSTALL_INCLUDEDIR}>)
    target_compile_features(${target} ${scope} cxx_std_20)
    if(type STREQUAL "SHARED_LIBRARY")
        set_target_properties(${target} PROPERTIES VERSION ${PROJECT_VERSION}
                                                   SOVERSION ${PROJECT_VERSION_MAJOR})
    endif()
    add_library(BfTwiceNatAddrPort::${target} ALIAS ${target})

    install(TARGETS ${target} EXPORT ${OLVANE_EXPORT_SET}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    foreach(header IN LISTS arg_HEADERS)
        cmake_path(ABSOLUTE_PATH header BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
        install(FILES ${header} DESTINATION ${OLVANE_INSTALL_INCLUDEDIR}/${folder})
    endforeach()
endfunction()

# Called once, after every component: the CMake package (installed and for
# the build tree) and the pkg-config file.
function(olvane_package_files)
    include(CMakePackageConfigHelpers)
    set(config ${PROJECT_BINARY_DIR}/BfTwiceNatAddrPortConfig.cmake)
    set(version ${PROJECT_BINARY_DIR}/BfTwiceNatAddrPortConfigVersion.cmake)
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/BfTwiceNatAddrPortConfig.cmake.in
                                  ${config} INSTALL_DESTINATION ${OLVANE_INSTALL_CMAKEDIR})
    write_basic_package_version_file(${version} COMPATIBILITY SameMajorVersion)
    install(EXPORT ${OLVANE_EXPORT_SET} NAMESPACE BfTwiceNatAddrPort::
            DESTINATION ${OLVANE_INSTALL_CMAKEDIR})
    install(FILES ${config} ${version} DESTINATION ${OLVANE_INSTALL_CMAKEDIR})
    # The build tree as a package of its own: BfTwiceNatAddrPort_DIR=<build folder>.
    export(EXPORT ${OLVANE_EXPORT_SET} NAMESPACE BfTwiceNatAddrPort::
           FILE ${PROJECT_BINARY_DIR}/${OLVANE_EXPORT_SET}.cmake)

    # The .pc file finds the prefix from its own place, so the installed tree
    # can be moved or installed with --prefix.
    file(RELATIVE_PATH OLVANE_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
    string(REGEX REPLACE "/$" "" OLVANE_PC_TO_PREFIX "${OLVANE_PC_TO_PREFIX}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/BfTwiceNatAddrPort.pc.in
                   ${PROJECT_BINARY_DIR}/BfTwiceNatAddrPort.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/BfTwiceNatAddrPort.pc
            DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
