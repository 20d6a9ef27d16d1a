# kestrun-mount (tools/mount/): an RBD package as a read-only FUSE file
# system, on libkestrun and libfuse 3's low-level API. Built where pkg-config
# finds fuse3 (Debian: libfuse3-dev) and left out elsewhere, unless
# KESTRUN_MOUNT is ON (insists) or OFF. AUTO is asked again at each
# configuration, so that installing the package is enough to build it.
if(WIN32)
  return()
endif()
set(KESTRUN_MOUNT AUTO CACHE STRING "Build kestrun-mount (needs libfuse3): ON, OFF or AUTO")
if(KESTRUN_MOUNT STREQUAL "AUTO" OR KESTRUN_MOUNT)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3>=3.5)
  endif()
endif()
# Its tests unmount with fusermount3 (Debian: fuse3), and are left out
# without it.
find_program(KESTRUN_FUSERMOUNT3 fusermount3)
if(KESTRUN_MOUNT STREQUAL "AUTO")
  if(NOT FUSE3_FOUND)
    set(kestrun_mount_packages libfuse3-dev)
    if(NOT PKG_CONFIG_FOUND)
      list(PREPEND kestrun_mount_packages pkgconf)
    endif()
    if(NOT KESTRUN_FUSERMOUNT3)
      list(APPEND kestrun_mount_packages fuse3)
    endif()
    kestrun_left_out("kestrun-mount and its tests" ${kestrun_mount_packages})
    return()
  endif()
elseif(NOT KESTRUN_MOUNT)
  return()
elseif(NOT FUSE3_FOUND)
  message(FATAL_ERROR "KESTRUN_MOUNT needs libfuse3 found through pkg-config "
    "(Debian: libfuse3-dev); or configure with -DKESTRUN_MOUNT=OFF")
endif()

# Everything of kestrun comes through the library's C API alone: the
# extraction rules it lays out the tree by, and the words of its warnings.
add_executable(kestrun-mount
  tools/mount/main.cpp
  tools/mount/mount_options.cpp
  tools/mount/mount_package.cpp
  tools/mount/serve.cpp
  tools/mount/operations.cpp
  tools/mount/node_attributes.cpp
  tools/mount/spliced_read.cpp
  tools/mount/node_table.cpp
  tools/mount/name_index.cpp
  tools/mount/tree_layout.cpp
  tools/mount/left_out_warning.cpp
  tools/mount/shown_name.cpp)
target_compile_definitions(kestrun-mount PRIVATE KESTRUN_MOUNT_VERSION="${PROJECT_VERSION}")
# The API of libfuse 3.12 where it is there: its threads' configuration knows
# -o max_threads.
if(FUSE3_VERSION VERSION_GREATER_EQUAL 3.12)
  target_compile_definitions(kestrun-mount PRIVATE FUSE_USE_VERSION=312)
else()
  target_compile_definitions(kestrun-mount PRIVATE FUSE_USE_VERSION=35)
endif()
target_link_libraries(kestrun-mount PRIVATE kestrun::kestrun PkgConfig::FUSE3)

# Its tests mount packages, so they need /dev/fuse and the right to mount:
# where either is missing they are skipped, unless KESTRUN_REQUIRE_ALL=1.
if(BUILD_TESTING AND TARGET test_support AND NOT KESTRUN_FUSERMOUNT3)
  kestrun_left_out("kestrun-mount's tests" fuse3)
elseif(BUILD_TESTING AND TARGET test_support)
  include(GoogleTest)
  add_executable(mount_tests tests/mount_test.cpp)
  target_link_libraries(mount_tests PRIVATE test_support GTest::gtest_main)
  gtest_discover_tests(mount_tests
    PROPERTIES ENVIRONMENT "KESTRUN_BIN=$<TARGET_FILE:kestrun>" TIMEOUT 180
      ENVIRONMENT_MODIFICATION "KESTRUN_MOUNT_BIN=set:$<TARGET_FILE:kestrun-mount>"
    DISCOVERY_TIMEOUT 60)
endif()

# Installing: the program, and its man page with the version filled in and
# compressed as Debian keeps man pages; a component of their own, the Debian
# package kestrun-mount. The program finds libkestrun through a run path
# relative to its own directory, unless the library lies where the dynamic
# linker looks anyway.
include(GNUInstallDirs)
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES AND
   NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  file(RELATIVE_PATH kestrun_mount_libdir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(kestrun-mount PROPERTIES INSTALL_RPATH "$ORIGIN/${kestrun_mount_libdir}")
endif()
set(kestrun_mount_page ${PROJECT_BINARY_DIR}/man/kestrun-mount.1)
configure_file(${PROJECT_SOURCE_DIR}/man/kestrun-mount.1.in ${kestrun_mount_page} @ONLY)
add_custom_command(OUTPUT ${kestrun_mount_page}.gz
  COMMAND gzip -9 -n -c ${kestrun_mount_page} > ${kestrun_mount_page}.gz
  DEPENDS ${kestrun_mount_page}
  VERBATIM)
add_custom_target(man-kestrun-mount ALL DEPENDS ${kestrun_mount_page}.gz)

# The Debian package kestrun-mount (cmake/Debian.cmake). fuse3 brings
# fusermount3, which mounts and unmounts for users other than root. The
# program takes kestrun's rules from the library's API alone, so any
# libkestrun1 from this version on serves it, as libkestrun1's shlibs file
# says of every program linked with it.
kestrun_debian_package(kestrun-mount SECTION utils
  SUMMARY "mount RBD packages as read-only file systems"
  DESCRIPTION "kestrun-mount shows the files of an RBD package below a directory,
through FUSE, without extracting them: each file's bytes are read from the
package as programs ask for them. The tree is exactly the one that kestrun
writes, with the same names refused, and any number of programs may read
it at once."
  DEPENDS "fuse3, libkestrun1 (>= @VERSION@)")
install(TARGETS kestrun-mount RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kestrun-mount)
install(FILES ${kestrun_mount_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
  COMPONENT kestrun-mount)
