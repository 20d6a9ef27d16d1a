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
  python/native/errors.cpp)
target_link_libraries(kestrun_python PRIVATE kestrun::kestrun)
set_target_properties(kestrun_python PROPERTIES
  OUTPUT_NAME _kestrun
  LIBRARY_OUTPUT_DIRECTORY ${kestrun_python_dir})
add_dependencies(kestrun_python kestrun_python_files)

# Where the interpreter finds modules installed under the prefix, relative
# to it, unless KESTRUN_PYTHON_INSTALL_DIR says. On Debian:
# lib/python3/dist-packages for /usr (its deb_system scheme),
# lib/python3.X/dist-packages for /usr/local (posix_local, which spells the
# prefix as /usr/local); elsewhere the prefix scheme's platform-dependent
# site directory.
set(KESTRUN_PYTHON_INSTALL_DIR "" CACHE STRING
  "Where cmake --install puts the Python package kestrun/, relative to the prefix (empty: where the interpreter looks)")
set(kestrun_python_site "${KESTRUN_PYTHON_INSTALL_DIR}")
if(NOT kestrun_python_site)
  execute_process(
    COMMAND ${Python3_EXECUTABLE} -c [=[
import sys, sysconfig
scheme = "posix_prefix"
if "deb_system" in sysconfig.get_scheme_names():
    scheme = "posix_local" if sys.argv[1] == "/usr/local" else "deb_system"
base = {name: "@" for name in ("base", "platbase", "installed_base", "installed_platbase")}
path = sysconfig.get_path("platlib", scheme, vars=base)[2:]
print(path[len("local/"):] if scheme == "posix_local" else path)
]=] ${CMAKE_INSTALL_PREFIX}
    OUTPUT_VARIABLE kestrun_python_site
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE kestrun_python_site_status)
  if(NOT kestrun_python_site_status EQUAL 0 OR kestrun_python_site STREQUAL "")
    message(FATAL_ERROR "${Python3_EXECUTABLE} can't say where its modules go")
  endif()
endif()

include(GNUInstallDirs)
# The module finds libkestrun through a run path relative to its own place,
# unless libkestrun lies where the dynamic linker looks anyway (as in the
# Debian package, which must carry no run path).
if(NOT CMAKE_INSTALL_FULL_LIBDIR IN_LIST CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES)
  file(RELATIVE_PATH kestrun_libdir_from_python
    ${CMAKE_INSTALL_PREFIX}/${kestrun_python_site}/kestrun ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(kestrun_python PROPERTIES
    INSTALL_RPATH "$ORIGIN/${kestrun_libdir_from_python}")
endif()
# The Debian package python3-kestrun (cmake/Debian.cmake): the module, for
# the one Python version it was built for. Debian compiles its Python files
# when it is installed and removes what that made when it is removed, as for
# every Python package.
math(EXPR kestrun_python_next_minor "${Python3_VERSION_MINOR} + 1")
set(kestrun_python_this ${Python3_VERSION_MAJOR}.${Python3_VERSION_MINOR})
set(kestrun_python_next ${Python3_VERSION_MAJOR}.${kestrun_python_next_minor})
kestrun_debian_package(python3-kestrun SECTION python
  SUMMARY "read RBD packages from Python"
  DESCRIPTION "The module kestrun reads RBD packages, archives of a tree of files, with
an API shaped like the zipfile and tarfile modules: it lists the entries,
reads them as bytes or as seekable file objects, from many threads at once,
and extracts them by the rules of the kestrun command, which never follows
a link and refuses unsafe names."
  DEPENDS "libkestrun1 (>= @VERSION@), python3 (>= ${kestrun_python_this}~), python3 (<< ${kestrun_python_next})"
  CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/python3-kestrun/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/python3-kestrun/prerm)
install(TARGETS kestrun_python
  LIBRARY DESTINATION ${kestrun_python_site}/kestrun COMPONENT python3-kestrun)
list(TRANSFORM kestrun_python_files PREPEND ${PROJECT_SOURCE_DIR}/python/kestrun/)
install(FILES ${kestrun_python_files}
  DESTINATION ${kestrun_python_site}/kestrun COMPONENT python3-kestrun)

# The tests: pytest from the interpreter the module was built for, on the
# module in the build tree, with the kestrun command to compare against.
if(BUILD_TESTING)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
    RESULT_VARIABLE kestrun_pytest_missing OUTPUT_QUIET ERROR_QUIET)
  if(kestrun_pytest_missing)
    kestrun_left_out("the Python module's tests" python3-pytest)
    return()
  endif()
  set(kestrun_python_environment PYTHONPATH=${PROJECT_BINARY_DIR}/python
    PYTHONDONTWRITEBYTECODE=1 KESTRUN_BIN=$<TARGET_FILE:kestrun>)
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
  add_test(NAME python_module
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
      ${PROJECT_SOURCE_DIR}/python/tests)
  set_tests_properties(python_module PROPERTIES
    ENVIRONMENT "${kestrun_python_environment}" TIMEOUT 300)
endif()
