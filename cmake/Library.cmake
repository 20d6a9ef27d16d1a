# libkestrun: the core (the reader of the format and the extraction engine)
# behind the C API of include/kestrun/kestrun.h. It carries the host services
# built in (the objects of libhostkit, none of them exported), so that
# installing it is enough to use it. Only kr_* is exported.
add_library(libkestrun SHARED
  src/lib/open.cpp
  src/lib/read.cpp
  src/lib/extract.cpp
  src/lib/errors.cpp
  src/lib/package_table.cpp
  src/lib/verdict.cpp
  src/lib/rules.cpp
  src/lib/writer.cpp
  src/lib/writer_commit.cpp
  src/lib/writer_text.cpp)
set_target_properties(libkestrun PROPERTIES
  OUTPUT_NAME kestrun
  EXPORT_NAME kestrun
  VERSION ${PROJECT_VERSION}
  SOVERSION 1)
# Linking the object libraries puts their objects in, compiled once.
target_link_libraries(libkestrun PRIVATE kestrun_core hostkit_objects)
target_compile_definitions(libkestrun PRIVATE KESTRUN_BUILD_LIBRARY)
# The header's KR_VERSION_* name the version being built, or a program would
# be told of another release than the one it was built against.
set(kestrun_header ${PROJECT_SOURCE_DIR}/include/kestrun/kestrun.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kestrun_header})
file(STRINGS ${kestrun_header} kestrun_header_version REGEX "^#define KR_VERSION_(MAJOR|MINOR|PATCH) ")
string(REGEX REPLACE "[^;]* ([0-9]+)(;|$)" "\\1\\2" kestrun_header_version "${kestrun_header_version}")
string(REPLACE ";" "." kestrun_header_version "${kestrun_header_version}")
if(NOT kestrun_header_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "include/kestrun/kestrun.h: KR_VERSION_* say ${kestrun_header_version}, "
    "not version ${PROJECT_VERSION} of the project")
endif()

# The public header, installed as <kestrun/kestrun.h>.
target_sources(libkestrun PUBLIC FILE_SET HEADERS BASE_DIRS include FILES include/kestrun/kestrun.h)
target_include_directories(libkestrun PRIVATE ${PROJECT_BINARY_DIR}/generated)
if(NOT WIN32)
  # Hidden visibility keeps our own symbols in; the version script also keeps
  # in whatever the C++ library would otherwise export from inline code.
  set(kestrun_map ${PROJECT_SOURCE_DIR}/src/lib/kestrun.map)
  target_link_options(libkestrun PRIVATE "LINKER:--version-script=${kestrun_map}")
  set_property(TARGET libkestrun APPEND PROPERTY LINK_DEPENDS ${kestrun_map})
endif()
add_library(kestrun::kestrun ALIAS libkestrun)

# ---- Installing it ----
# Two parts, which the Debian packages of the same names hold (cmake/Debian.cmake):
#   libkestrun1     what programs need to run: libkestrun.so.1 (on Windows, libkestrun.dll)
#   libkestrun-dev  what building against it needs: the header, the libkestrun.so
#                   link (the import library libkestrun.dll.a), kestrun.pc, the CMake
#                   package and libkestrun(3)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(KESTRUN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kestrun)

install(TARGETS libkestrun EXPORT kestrun-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT libkestrun1
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libkestrun1
    NAMELINK_COMPONENT libkestrun-dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libkestrun-dev
  FILE_SET HEADERS COMPONENT libkestrun-dev)

# find_package(kestrun) gives the imported target kestrun::kestrun. The files
# find the prefix from where they lie, so the installed tree may be moved.
install(EXPORT kestrun-targets NAMESPACE kestrun:: FILE kestrun-targets.cmake
  DESTINATION ${KESTRUN_CMAKE_DIR} COMPONENT libkestrun-dev)
file(WRITE ${PROJECT_BINARY_DIR}/cmake/kestrun-config.cmake
  "include(\"\${CMAKE_CURRENT_LIST_DIR}/kestrun-targets.cmake\")\n")
# The SOVERSION is the major version: any 1.x serves a program built for 1.y <= x.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/kestrun-config-version.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/cmake/kestrun-config.cmake
  ${PROJECT_BINARY_DIR}/cmake/kestrun-config-version.cmake
  DESTINATION ${KESTRUN_CMAKE_DIR} COMPONENT libkestrun-dev)

# kestrun.pc names the prefix it is installed under, which is known only then
# (`cmake --install --prefix`, or /usr in the Debian package): the file is
# made in two steps, everything but the prefix now, the prefix when installing.
function(kestrun_pc_directory variable dir)
  if(IS_ABSOLUTE "${dir}")
    set(${variable} "${dir}" PARENT_SCOPE)
  else()
    set(${variable} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
kestrun_pc_directory(KESTRUN_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
kestrun_pc_directory(KESTRUN_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
set(KESTRUN_PC_PREFIX "@CMAKE_INSTALL_PREFIX@") # filled in when installing
set(kestrun_pc_template ${PROJECT_BINARY_DIR}/pkgconfig/kestrun.pc.in)
configure_file(${PROJECT_SOURCE_DIR}/cmake/kestrun.pc.in ${kestrun_pc_template} @ONLY)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(kestrun_pc_destination "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
else()
  set(kestrun_pc_destination "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endif()
install(CODE "
  configure_file([[${kestrun_pc_template}]] [[${PROJECT_BINARY_DIR}/pkgconfig/kestrun.pc]] @ONLY)
  file(INSTALL [[${PROJECT_BINARY_DIR}/pkgconfig/kestrun.pc]]
    DESTINATION \"${kestrun_pc_destination}\")" COMPONENT libkestrun-dev)

# libkestrun(3), with the version filled in, compressed as Debian keeps it.
if(NOT WIN32)
  configure_file(${PROJECT_SOURCE_DIR}/man/libkestrun.3.in ${PROJECT_BINARY_DIR}/man/libkestrun.3 @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/libkestrun.3.gz
    COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/man/libkestrun.3 > ${PROJECT_BINARY_DIR}/man/libkestrun.3.gz
    DEPENDS ${PROJECT_BINARY_DIR}/man/libkestrun.3
    VERBATIM)
  add_custom_target(man-libkestrun ALL DEPENDS ${PROJECT_BINARY_DIR}/man/libkestrun.3.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/libkestrun.3.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT libkestrun-dev)
endif()
