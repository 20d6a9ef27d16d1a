# Where `cmake --install` puts the programs, libhostkit and the man pages, and
# the Debian package that CPack makes of them.
include(GNUInstallDirs)

# The programs find libhostkit in ../lib wherever the tree is installed.
if(NOT WIN32)
  set_target_properties(kestrun PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
endif()

install(TARGETS kestrun RUNTIME DESTINATION bin)
# On Windows the DLL lies beside the programs, where the loader looks first.
install(TARGETS hostkit
  RUNTIME DESTINATION bin
  LIBRARY DESTINATION lib NAMELINK_SKIP
  ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)

# Man pages, compressed as Debian keeps them.
function(kestrun_install_man_page name)
  set(source ${PROJECT_SOURCE_DIR}/man/${name}.1)
  set(compressed ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${compressed}
    DEPENDS ${source}
    VERBATIM)
  add_custom_target(man-${name} ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

if(NOT WIN32)
  kestrun_install_man_page(kestrun)
endif()

# rbdpack is defined by its own block of the top-level list, which may come
# after this file; its rules are added once the whole list has been read.
# The Windows build installs kestrun alone: rbdpack is neither made nor
# tested for Windows path forms.
function(kestrun_install_rbdpack)
  if(TARGET rbdpack AND NOT WIN32)
    set_target_properties(rbdpack PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
    kestrun_install_man_page(rbdpack)
    install(TARGETS rbdpack RUNTIME DESTINATION bin)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kestrun_install_rbdpack)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrun)
set(CPACK_PACKAGE_VENDOR "the kestrun authors")
set(CPACK_PACKAGE_CONTACT "the kestrun authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "extract the files of RBD packages")
set(CPACK_PACKAGE_DESCRIPTION "kestrun extracts every entry of an RBD package into a directory
tree named after the package, and refuses names that would lead outside
that tree.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY kestrun)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Runtime dependencies (libc, libstdc++) as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
include(CPack)
