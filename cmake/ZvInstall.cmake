# Installation: public headers, shared libraries with versioned SONAMEs, a CMake
# package (find_package(ZvSdk) gives ZvSdk::KorvoIoLib42, ZvSdk::zv, ...) and
# pkg-config files.
include(CMakePackageConfigHelpers)

set(ZV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZvSdk)
get_property(ZV_INSTALLED_LIBRARIES GLOBAL PROPERTY ZV_PUBLIC_LIBRARIES)
get_property(ZV_PKGCONFIG_FILES GLOBAL PROPERTY ZV_PKGCONFIG_FILES)

install(DIRECTORY include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
if(NOT ZV_INSTALLED_LIBRARIES)
    return()
endif()
install(TARGETS ${ZV_INSTALLED_LIBRARIES} EXPORT ZvSdkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT ZvSdkTargets NAMESPACE ZvSdk:: DESTINATION ${ZV_INSTALL_CMAKEDIR})

configure_package_config_file(cmake/ZvSdkConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/ZvSdkConfig.cmake
    INSTALL_DESTINATION ${ZV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZvSdkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZvSdkConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/ZvSdkConfigVersion.cmake
    DESTINATION ${ZV_INSTALL_CMAKEDIR})

# One pkg-config file per library: cmake/pkgconfig/<name>.pc.in. The prefix is
# found relative to the .pc file itself, so an installed tree can be moved.
file(RELATIVE_PATH ZV_PKGCONFIG_TO_PREFIX
    ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" ZV_PKGCONFIG_TO_PREFIX "${ZV_PKGCONFIG_TO_PREFIX}")
set(ZV_PKGCONFIG_PREFIX "\${pcfiledir}/${ZV_PKGCONFIG_TO_PREFIX}")
foreach(pc ${ZV_PKGCONFIG_FILES})
    configure_file(cmake/pkgconfig/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
