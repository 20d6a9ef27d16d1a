# The Debian packages that CPack makes (`cmake --workflow --preset deb`), one
# install component each, named as the package:
#   kestrun         the programs, their man pages and the private libhostkit
#   libkestrun1     libkestrun.so.1; the name follows its SONAME, as Debian
#                   requires of a shared library's package
#   libkestrun-dev  the header, the libkestrun.so link, kestrun.pc, the CMake
#                   package and libkestrun(3)
#
# To add a package, in a cmake file of its own: install its files with
# COMPONENT <package>, then declare it:
#   kestrun_debian_package(<package> SECTION <section>
#     SUMMARY "<one line>" DESCRIPTION "<a paragraph>"
#     [DEPENDS "<relations>"] [SUGGESTS "<relations>"]
#     [CONTROL_EXTRA <control files>...])
# The declaration gives the package the copyright file and changelog Debian
# requires of each. Dependencies on the system's shared libraries are found
# by dpkg-shlibdeps; DEPENDS adds what it can't see, with @VERSION@ for this
# version: a package whose programs or modules link libkestrun needs
# "libkestrun1 (>= @VERSION@)", since dpkg-shlibdeps takes the libraries of
# this build for private ones.
# Declarations may come from any file read after this one (a cmake file
# included later in CMakeLists.txt, or a subdirectory added later): CPack reads
# them once the whole project has been read.
include(GNUInstallDirs)

function(kestrun_debian_package package)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SECTION;SUMMARY;DESCRIPTION;DEPENDS;SUGGESTS"
    "CONTROL_EXTRA")
  if(NOT arg_SECTION OR NOT arg_SUMMARY OR NOT arg_DESCRIPTION)
    message(FATAL_ERROR "kestrun_debian_package(${package}): SECTION, SUMMARY and DESCRIPTION are required")
  endif()
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" arg_DEPENDS "${arg_DEPENDS}")
  set_property(GLOBAL APPEND PROPERTY KESTRUN_DEBIAN_PACKAGES ${package})
  foreach(field IN ITEMS SECTION SUMMARY DESCRIPTION DEPENDS SUGGESTS CONTROL_EXTRA)
    set_property(GLOBAL PROPERTY KESTRUN_DEBIAN_${package}_${field} "${arg_${field}}")
  endforeach()
  kestrun_install_documents(${package})
endfunction()

kestrun_debian_package(kestrun SECTION utils
  SUMMARY "extract RBD packages, and make them from directory trees"
  DESCRIPTION "kestrun extracts every entry of an RBD package into a directory tree
named after the package, and refuses names that would lead outside that
tree. rbdpack makes an RBD package from a directory tree, such that kestrun
gives the same tree back, and changes a package in place."
  # rbdpack edits packages through libkestrun.
  DEPENDS "libkestrun1 (>= @VERSION@)"
  # What loads the bash completions installed with the programs.
  SUGGESTS "bash-completion")

# What a shared library's package tells dpkg: which package provides
# libkestrun.so.1 (shlibs), from which version each of its symbols is there
# (symbols, kept in packaging/debian/ and checked against the built library in
# CI), and that the dynamic linker's cache must be brought up to date
# (triggers).
set(kestrun_control ${PROJECT_BINARY_DIR}/debian/libkestrun1)
file(MAKE_DIRECTORY ${kestrun_control})
file(WRITE ${kestrun_control}/shlibs "libkestrun 1 libkestrun1 (>= ${PROJECT_VERSION})\n")
file(WRITE ${kestrun_control}/triggers "activate-noawait ldconfig\n")
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/libkestrun1.symbols
  ${kestrun_control}/symbols COPYONLY)
kestrun_debian_package(libkestrun1 SECTION libs
  SUMMARY "library to read, extract and write RBD packages"
  DESCRIPTION "libkestrun reads RBD packages: it lists their entries, finds an entry
by its path, reads any part of an entry and extracts entries below a
directory by the same rules as the kestrun command. It also writes
packages, new or edited in place, keeping every byte of what an edit does
not touch and replacing the file at once. It is safe from any
number of threads, returns every error as a value, and never prints or
exits. Damaged packages can be opened up to the damage.

This package holds the shared library."
  CONTROL_EXTRA ${kestrun_control}/shlibs ${kestrun_control}/symbols ${kestrun_control}/triggers)

kestrun_debian_package(libkestrun-dev SECTION libdevel
  SUMMARY "library to read, extract and write RBD packages (development files)"
  DESCRIPTION "libkestrun reads RBD packages: it lists their entries, finds an entry
by its path, reads any part of an entry and extracts entries below a
directory by the same rules as the kestrun command. It also writes
packages, new or edited in place.

This package holds what building against libkestrun needs: the header
kestrun/kestrun.h, the libkestrun.so link, the pkg-config file kestrun.pc,
the CMake package (find_package(kestrun) and the target kestrun::kestrun)
and the manual page libkestrun(3)."
  DEPENDS "libkestrun1 (= @VERSION@)")

# CPack's settings, from the declarations; run at the end of the top-level
# CMakeLists.txt, where CPack must be included.
macro(kestrun_configure_cpack)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_PACKAGE_NAME kestrun)
  set(CPACK_PACKAGE_VENDOR "the kestrun authors")
  # The project has no mail address of its own yet; one under the reserved
  # .invalid domain says so honestly.
  set(CPACK_PACKAGE_CONTACT "kestrun authors <kestrun@kestrun.invalid>")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  set(CPACK_PACKAGE_INSTALL_DIRECTORY kestrun)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # Debian ships binaries without their symbol tables.
  set(CPACK_STRIP_FILES ON)
  # Runtime dependencies (libc, libstdc++, libcrypto) as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  # Control files are 0644 and maintainer scripts 0755, as dpkg expects.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # CPack writes maintainer scripts that run ldconfig for a package with a
  # library in the linker's path; the ldconfig trigger does that job now,
  # and lintian refuses the scripts. They are taken out once made.
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianLdconfigScripts.cmake)

  get_property(kestrun_packages GLOBAL PROPERTY KESTRUN_DEBIAN_PACKAGES)
  set(CPACK_COMPONENTS_ALL ${kestrun_packages})
  foreach(package IN LISTS kestrun_packages)
    string(TOUPPER ${package} upper)
    foreach(field IN ITEMS SECTION SUMMARY DESCRIPTION DEPENDS SUGGESTS CONTROL_EXTRA)
      get_property(deb_${field} GLOBAL PROPERTY KESTRUN_DEBIAN_${package}_${field})
    endforeach()
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${deb_SECTION})
    # The summary is the description's first line.
    set(CPACK_DEBIAN_${upper}_DESCRIPTION "${deb_SUMMARY}\n${deb_DESCRIPTION}")
    if(deb_DEPENDS)
      set(CPACK_DEBIAN_${upper}_PACKAGE_DEPENDS "${deb_DEPENDS}")
    endif()
    if(deb_SUGGESTS)
      set(CPACK_DEBIAN_${upper}_PACKAGE_SUGGESTS "${deb_SUGGESTS}")
    endif()
    if(deb_CONTROL_EXTRA)
      set(CPACK_DEBIAN_${upper}_PACKAGE_CONTROL_EXTRA "${deb_CONTROL_EXTRA}")
    endif()
  endforeach()
  include(CPack)
endmacro()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrun_configure_cpack)
