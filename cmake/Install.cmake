# Where `cmake --install` puts the programs, libhostkit, the man pages and the
# package's documents, and the Debian package that CPack makes of them. Every
# place comes from GNUInstallDirs, so that a distribution's own choice, such as
# -DCMAKE_INSTALL_LIBDIR=lib/x86_64-linux-gnu, is kept.
include(GNUInstallDirs)

# Each file belongs to the Debian package that holds it (cmake/Debian.cmake);
# whatever names no other is part of the command line's, kestrun.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME kestrun)

# libhostkit serves kestrun alone: a private library, kept in a directory of
# the project's own out of the dynamic linker's search path, with no link for
# developers to build against. kestrun finds it through a run path relative to
# its own directory, so the installed tree works wherever it is put or moved.
set(KESTRUN_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/kestrun)
if(NOT WIN32)
  file(RELATIVE_PATH kestrun_libdir_from_bindir
    ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR}/kestrun)
  set_target_properties(kestrun PROPERTIES INSTALL_RPATH "$ORIGIN/${kestrun_libdir_from_bindir}")
endif()

install(TARGETS kestrun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# On Windows the DLL lies beside the programs, where the loader looks first.
install(TARGETS hostkit
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${KESTRUN_PRIVATE_LIBDIR} NAMELINK_SKIP
  ARCHIVE DESTINATION ${KESTRUN_PRIVATE_LIBDIR} EXCLUDE_FROM_ALL)

# Man pages, made from their templates man/NAME.1.in with the version filled
# in, and compressed as Debian keeps them.
function(kestrun_install_man_page name)
  set(page ${PROJECT_BINARY_DIR}/man/${name}.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${name}.1.in ${page} @ONLY)
  set(compressed ${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9 -n -c ${page} > ${compressed}
    DEPENDS ${page}
    VERBATIM)
  add_custom_target(man-${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The license in Debian's machine-readable form and the changelog, where
# Debian keeps a package's documents: share/doc/<package>/, which Debian
# requires of every package. The changelog's latest entry names the version
# being built, or the package would describe another release.
set(kestrun_changelog ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kestrun_changelog})
file(STRINGS ${kestrun_changelog} kestrun_changelog_latest LIMIT_COUNT 1)
string(REGEX REPLACE "^kestrun \\(([^)]*)\\).*" "\\1" kestrun_changelog_version
  "${kestrun_changelog_latest}")
if(NOT kestrun_changelog_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/debian/changelog: the latest entry is for "
    "\"${kestrun_changelog_version}\", not for version ${PROJECT_VERSION} of the project")
endif()
if(NOT WIN32)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/doc/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND gzip -9 -n -c ${kestrun_changelog} > ${PROJECT_BINARY_DIR}/doc/changelog.gz
    DEPENDS ${kestrun_changelog}
    VERBATIM)
  add_custom_target(changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog.gz)
endif()

# Installs the documents for `package`, a component of the same name. The
# command line's are part of every installation; another package's only of
# its own component's (`cmake --install --component`, and CPack's).
function(kestrun_install_documents package)
  if(WIN32)
    return()
  endif()
  set(only_there)
  if(NOT package STREQUAL "kestrun")
    set(only_there EXCLUDE_FROM_ALL)
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${package} ${only_there})
endfunction()

if(NOT WIN32)
  kestrun_install_man_page(kestrun)
endif()

# rbdpack is defined by its own block of the top-level list, which may come
# after this file; its rules are added once the whole list has been read. It
# needs no libhostkit, but edits packages through libkestrun, which it finds
# through a run path relative to its own directory, unless the library lies
# where the dynamic linker looks anyway. The Windows build installs kestrun
# alone: rbdpack is neither made nor tested for Windows path forms.
function(kestrun_install_rbdpack)
  if(TARGET rbdpack AND NOT WIN32)
    if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_PLATFORM_IMPLICIT_LINK_DIRECTORIES AND
       NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
      file(RELATIVE_PATH rbdpack_libdir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
      set_target_properties(rbdpack PROPERTIES INSTALL_RPATH "$ORIGIN/${rbdpack_libdir}")
    endif()
    kestrun_install_man_page(rbdpack)
    install(TARGETS rbdpack RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrun_install_rbdpack)
