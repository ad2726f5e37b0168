# Build conventions shared by every target of the project.
#
# Flags are attached to targets, never set globally: zv_project_target() gives
# a target C++20, strict warnings, hidden symbol visibility and the sanitizer
# selected by ZV_SANITIZER.
#
# Warnings are errors only when ZV_WARNINGS_AS_ERRORS is on (the presets and
# CI turn it on): a packager's or user's build with another compiler or other
# flags must not fail on a warning we have not seen.

option(ZV_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (developer builds and CI)" OFF)

set(ZV_SANITIZER "" CACHE STRING "Sanitizer build: empty (none), 'address' (ASan+UBSan) or 'thread' (TSan)")
set_property(CACHE ZV_SANITIZER PROPERTY STRINGS "" address thread)

add_library(zv_sanitizer_flags INTERFACE)
if(ZV_SANITIZER STREQUAL "address")
    set(_zv_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(ZV_SANITIZER STREQUAL "thread")
    set(_zv_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT ZV_SANITIZER STREQUAL "")
    message(FATAL_ERROR "ZV_SANITIZER must be empty, 'address' or 'thread'")
endif()
if(_zv_san)
    target_compile_options(zv_sanitizer_flags INTERFACE ${_zv_san})
    target_link_options(zv_sanitizer_flags INTERFACE ${_zv_san})
endif()

add_library(zv_build_flags INTERFACE)
target_compile_features(zv_build_flags INTERFACE cxx_std_20)
target_compile_options(zv_build_flags INTERFACE -Wall -Wextra $<$<BOOL:${ZV_WARNINGS_AS_ERRORS}>:-Werror>)
target_link_libraries(zv_build_flags INTERFACE zv_sanitizer_flags)

# Applies the project conventions to a target of ours.
function(zv_project_target target)
    target_link_libraries(${target} PRIVATE $<BUILD_INTERFACE:zv_build_flags>)
    set_target_properties(${target} PROPERTIES
        CXX_EXTENSIONS OFF
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON
        POSITION_INDEPENDENT_CODE ON)
endfunction()

# A shared library whose dynamic symbol table holds exactly the names listed in
# a linker version script (everything else, C++ runtime instantiations
# included, stays local).
function(zv_shared_library target)
    cmake_parse_arguments(ARG "" "EXPORT_MAP;VERSION;SOVERSION" "" ${ARGN})
    zv_project_target(${target})
    set_target_properties(${target} PROPERTIES
        VERSION ${ARG_VERSION}
        SOVERSION ${ARG_SOVERSION}
        LINK_DEPENDS ${ARG_EXPORT_MAP})
    target_link_options(${target} PRIVATE
        "LINKER:--version-script=${ARG_EXPORT_MAP}"
        "LINKER:--no-undefined")
endfunction()

# GoogleTest: the installed package when there is one, otherwise built from
# the distribution's sources (Debian package googletest). A sanitizer build
# always builds it from source with the same sanitizer as the code under test,
# since ThreadSanitizer needs instrumented test harness code.
function(zv_add_googletest)
    if(TARGET GTest::gtest_main)
        return()
    endif()
    if(ZV_SANITIZER STREQUAL "")
        find_package(GTest QUIET)
        if(TARGET GTest::gtest_main AND TARGET GTest::gmock)
            message(STATUS "GoogleTest: installed package ${GTest_DIR}")
            return()
        endif()
    endif()
    set(_zv_gtest_src /usr/src/googletest)
    if(NOT EXISTS ${_zv_gtest_src}/CMakeLists.txt)
        message(FATAL_ERROR "GoogleTest not found: neither an installed package nor the sources in ${_zv_gtest_src} "
            "(Debian packages libgtest-dev libgmock-dev, or googletest); set ZV_BUILD_TESTS=OFF to build without the tests")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    message(STATUS "GoogleTest: built from ${_zv_gtest_src}")
    add_subdirectory(${_zv_gtest_src} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL)
    foreach(t gtest gtest_main gmock gmock_main)
        target_link_libraries(${t} PUBLIC zv_sanitizer_flags)
    endforeach()
endfunction()

# Marks a shared library for installation, with its pkg-config file
# cmake/pkgconfig/<pcname>.pc.in.
function(zv_register_public_library target pcname)
    set_property(GLOBAL APPEND PROPERTY ZV_PUBLIC_LIBRARIES ${target})
    set_property(GLOBAL APPEND PROPERTY ZV_PKGCONFIG_FILES ${pcname})
    target_include_directories(${target} PUBLIC
        $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
        $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endfunction()
