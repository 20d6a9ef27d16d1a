# The Python module `kestrun` (python/): a thin native layer on libkestrun
# written against the plain CPython C API, and the zipfile-shaped API in
# Python on top of it. It is built for the interpreter that FindPython3 takes;
# pass -DPython3_EXECUTABLE=/usr/bin/python3 to choose Debian's (the presets
# do), since another python3 may come first in PATH.

# Built where the headers are found (Debian: python3-dev) and left out
# elsewhere, unless KESTRUN_PYTHON is ON (insists) or OFF. AUTO is asked
# again at each configuration, so that installing the package is enough.
set(KESTRUN_PYTHON AUTO CACHE STRING
  "Build the Python module kestrun (needs the Python headers): ON, OFF or AUTO")
if(KESTRUN_PYTHON STREQUAL "AUTO" AND NOT WIN32)
  find_package(Python3 3.10 COMPONENTS Interpreter Development.Module)
  if(NOT Python3_FOUND)
    set(kestrun_pytest_missing ON)
    if(Python3_Interpreter_FOUND)
      execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
        RESULT_VARIABLE kestrun_pytest_missing OUTPUT_QUIET ERROR_QUIET)
    endif()
    set(kestrun_python_packages python3-dev)
    if(kestrun_pytest_missing)
      list(APPEND kestrun_python_packages python3-pytest)
    endif()
    kestrun_left_out("the Python module and its tests" ${kestrun_python_packages})
    return()
  endif()
elseif(KESTRUN_PYTHON STREQUAL "AUTO" OR NOT KESTRUN_PYTHON)
  return()
endif()
if(WIN32)
  message(FATAL_ERROR "KESTRUN_PYTHON: the Python module is built for POSIX systems")
endif()
find_package(Python3 3.10 REQUIRED COMPONENTS Interpreter Development.Module)

# The package as it is imported, in <build>/python/kestrun/: the Python
# files copied from the sources and the native module built beside them, so
# that the tests import it with PYTHONPATH=<build>/python.
set(kestrun_python_dir ${PROJECT_BINARY_DIR}/python/kestrun)
set(kestrun_python_files __init__.py __main__.py _kestrun.pyi py.typed)
set(kestrun_python_copies)
foreach(file IN LISTS kestrun_python_files)
  set(source ${PROJECT_SOURCE_DIR}/python/kestrun/${file})
  add_custom_command(OUTPUT ${kestrun_python_dir}/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${kestrun_python_dir}/${file}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND kestrun_python_copies ${kestrun_python_dir}/${file})
endforeach()
add_custom_target(kestrun_python_files ALL DEPENDS ${kestrun_python_copies})

Python3_add_library(kestrun_python MODULE WITH_SOABI
  python/native/module.cpp
  python/native/handle.cpp
  python/native/read.cpp
  python/native/extract.cpp
  python/native/writer.cpp
  python/native/errors.cpp)
target_link_libraries(kestrun_python PRIVATE kestrun::kestrun)
set_target_properties(kestrun_python PROPERTIES
  OUTPUT_NAME _kestrun
  LIBRARY_OUTPUT_DIRECTORY ${kestrun_python_dir})
add_dependencies(kestrun_python kestrun_python_files)

# Where the module goes is decided when it is installed, by the prefix that
# `cmake --install --prefix` (or CPack) is given, since that is where the
# interpreter must find it. On Debian: lib/python3/dist-packages for /usr
# (its deb_system scheme), lib/python3.X/dist-packages for /usr/local
# (posix_local, which spells the prefix as /usr/local); under any other
# prefix the posix_prefix scheme's site directory, lib/python3.X/site-packages,
# so that --prefix ~/.local is the user's site and a virtual environment's
# prefix is its own. KESTRUN_PYTHON_INSTALL_DIR, relative to the prefix, says
# otherwise for every prefix. The interpreter is asked here for the three
# places, relative to the prefix; the install code below chooses one.
set(KESTRUN_PYTHON_INSTALL_DIR "" CACHE STRING
  "Where cmake --install puts the Python package kestrun/, relative to the prefix (empty: where the interpreter looks)")
if(IS_ABSOLUTE "${KESTRUN_PYTHON_INSTALL_DIR}")
  message(FATAL_ERROR "KESTRUN_PYTHON_INSTALL_DIR is relative to the install prefix, "
    "not ${KESTRUN_PYTHON_INSTALL_DIR}")
endif()
if(KESTRUN_PYTHON_INSTALL_DIR)
  set(kestrun_python_sites ${KESTRUN_PYTHON_INSTALL_DIR} ${KESTRUN_PYTHON_INSTALL_DIR}
    ${KESTRUN_PYTHON_INSTALL_DIR})
else()
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c [=[
import sysconfig
base = {name: "@" for name in ("base", "platbase", "installed_base", "installed_platbase")}
def site(scheme, under=""):
    path = sysconfig.get_path("platlib", scheme, vars=base)
    assert path.startswith("@/" + under), path
    return path[len("@/" + under):]
names = sysconfig.get_scheme_names()
other = site("posix_prefix")
usr = site("deb_system") if "deb_system" in names else other
usr_local = site("posix_local", "local/") if "posix_local" in names else other
print(usr, usr_local, other, sep=";")
]=]
    OUTPUT_VARIABLE kestrun_python_sites
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE kestrun_python_site_status)
  list(LENGTH kestrun_python_sites kestrun_python_site_count)
  if(NOT kestrun_python_site_status EQUAL 0 OR NOT kestrun_python_site_count EQUAL 3)
    message(FATAL_ERROR "${Python3_EXECUTABLE} can't say where its modules go")
  endif()
endif()

include(GNUInstallDirs)
# The module finds libkestrun through a run path relative to its own place,
# unless libkestrun lies where the dynamic linker looks anyway (as in the
# Debian package, which must carry no run path). Each place has its run
# path; the module is linked with room for the longest, which the install
# code then sets or removes.
set(kestrun_python_rpaths)
set(kestrun_python_rpath_room "")
foreach(kestrun_python_each IN LISTS kestrun_python_sites)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(kestrun_python_rpath ${CMAKE_INSTALL_LIBDIR})
  else()
    file(RELATIVE_PATH kestrun_python_rpath
      /prefix/${kestrun_python_each}/kestrun /prefix/${CMAKE_INSTALL_LIBDIR})
    set(kestrun_python_rpath "$ORIGIN/${kestrun_python_rpath}")
  endif()
  list(APPEND kestrun_python_rpaths "${kestrun_python_rpath}")
  string(LENGTH "${kestrun_python_rpath}" kestrun_python_length)
  string(LENGTH "${kestrun_python_rpath_room}" kestrun_python_room)
  if(kestrun_python_length GREATER kestrun_python_room)
    set(kestrun_python_rpath_room "${kestrun_python_rpath}")
  endif()
endforeach()
set_target_properties(kestrun_python PROPERTIES INSTALL_RPATH "${kestrun_python_rpath_room}")

# The Debian package python3-kestrun (cmake/Debian.cmake): the module, for
# the one Python version it was built for. Debian compiles its Python files
# when it is installed and removes what that made when it is removed, as for
# every Python package.
math(EXPR kestrun_python_next_minor "${Python3_VERSION_MINOR} + 1")
set(kestrun_python_this ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
set(kestrun_python_next ${Python3_VERSION_MAJOR}.${kestrun_python_next_minor})
kestrun_debian_package(python3-kestrun SECTION python
  SUMMARY "read and write RBD packages from Python"
  DESCRIPTION "The module kestrun reads RBD packages, archives of a tree of files, with
an API shaped like the zipfile and tarfile modules: it lists the entries,
reads them as bytes or as seekable file objects, from many threads at once,
and extracts them by the rules of the kestrun command, which never follows
a link and refuses unsafe names. It also makes packages and edits them in
place, committing each at once, never over another program's work."
  DEPENDS "libkestrun1 (>= @VERSION@), python3 (>= ${kestrun_python_this}~), python3 (<< ${kestrun_python_next})"
  CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/python3-kestrun/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/python3-kestrun/prerm)
# At install time: the site directory for the prefix given, in
# kestrun_python_site, which the destinations below name (escaped, so that
# the install code expands it); then the module's run path for that place.
set(kestrun_python_choose [=[
cmake_path(SET kestrun_python_prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "(.)/$" "\\1" kestrun_python_prefix "${kestrun_python_prefix}")
set(kestrun_python_sites [==[@kestrun_python_sites@]==])
set(kestrun_python_rpaths [==[@kestrun_python_rpaths@]==])
if(kestrun_python_prefix STREQUAL "/usr")
  set(kestrun_python_choice 0)
elseif(kestrun_python_prefix STREQUAL "/usr/local")
  set(kestrun_python_choice 1)
else()
  set(kestrun_python_choice 2)
endif()
list(GET kestrun_python_sites ${kestrun_python_choice} kestrun_python_site)
list(GET kestrun_python_rpaths ${kestrun_python_choice} kestrun_python_rpath)
set(kestrun_python_libdir [==[@CMAKE_INSTALL_LIBDIR@]==])
if(NOT IS_ABSOLUTE "${kestrun_python_libdir}")
  set(kestrun_python_libdir "${kestrun_python_prefix}/${kestrun_python_libdir}")
endif()
set(kestrun_python_linker_dirs [==[@CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES@]==])
list(FIND kestrun_python_linker_dirs "${kestrun_python_libdir}" kestrun_python_found)
if(NOT kestrun_python_found EQUAL -1)
  set(kestrun_python_rpath "")
endif()
]=])
string(CONFIGURE "${kestrun_python_choose}" kestrun_python_choose @ONLY)
install(CODE "${kestrun_python_choose}" COMPONENT python3-kestrun)
install(TARGETS kestrun_python
  LIBRARY DESTINATION "\${kestrun_python_site}/kestrun" COMPONENT python3-kestrun)
install(CODE [=[
set(kestrun_python_module
  "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${kestrun_python_site}/kestrun/$<TARGET_FILE_NAME:kestrun_python>")
if(kestrun_python_rpath STREQUAL "")
  file(RPATH_REMOVE FILE "${kestrun_python_module}")
else()
  file(RPATH_SET FILE "${kestrun_python_module}" NEW_RPATH "${kestrun_python_rpath}")
endif()
]=] COMPONENT python3-kestrun)
list(TRANSFORM kestrun_python_files PREPEND ${PROJECT_SOURCE_DIR}/python/kestrun/)
install(FILES ${kestrun_python_files}
  DESTINATION "\${kestrun_python_site}/kestrun" COMPONENT python3-kestrun)

# The tests: pytest from the interpreter the module was built for, on the
# module in the build tree, with the kestrun command to compare against; and
# the module installed into a user's site.
if(BUILD_TESTING)
  set(kestrun_python_environment PYTHONDONTWRITEBYTECODE=1)
  if(KESTRUN_SANITIZE)
    # A sanitized module loads into the plain interpreter only with the
    # sanitizer runtime loaded first. The leak checker is off: it would
    # report what the interpreter keeps until exit.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      set(kestrun_asan_runtime libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(kestrun_asan_runtime libasan.so)
    endif()
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${kestrun_asan_runtime}
      OUTPUT_VARIABLE kestrun_asan_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${kestrun_asan_runtime}")
      message(FATAL_ERROR "The shared AddressSanitizer runtime that the Python module's tests "
        "preload is missing; or configure with -DKESTRUN_PYTHON=OFF")
    endif()
    list(APPEND kestrun_python_environment LD_PRELOAD=${kestrun_asan_runtime}
      ASAN_OPTIONS=detect_leaks=0:abort_on_error=1)
  endif()

  add_test(NAME python_module_installed
    COMMAND bash ${PROJECT_SOURCE_DIR}/python/tests/install_test.sh ${CMAKE_COMMAND}
      ${PROJECT_BINARY_DIR} ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/python/tests)
  set_tests_properties(python_module_installed PROPERTIES
    ENVIRONMENT "${kestrun_python_environment}" TIMEOUT 120)

  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
    RESULT_VARIABLE kestrun_pytest_missing OUTPUT_QUIET ERROR_QUIET)
  if(kestrun_pytest_missing)
    kestrun_left_out("the Python module's tests" python3-pytest)
    return()
  endif()
  add_test(NAME python_module
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
      ${PROJECT_SOURCE_DIR}/python/tests)
  set_tests_properties(python_module PROPERTIES
    ENVIRONMENT "${kestrun_python_environment};PYTHONPATH=${PROJECT_BINARY_DIR}/python;KESTRUN_BIN=$<TARGET_FILE:kestrun>"
    TIMEOUT 300)
endif()
