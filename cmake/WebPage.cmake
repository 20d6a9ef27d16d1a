# The page that reads packages in a browser, for the native builds: built
# beside the program by the `web` preset's rules (cmake/Web.cmake) with
# Emscripten, in <build>/web; installed as the kestrun-web Debian package
# under /usr/share/kestrun-web/, and tested in a browser with the program.
# Not in the sanitized builds (their tests are the native code's), nor where
# Emscripten is missing (then left out, named by the closing test).
option(KESTRUN_WEB_PAGE "Build the page that reads packages in a browser (needs Emscripten)" ON)
if(NOT KESTRUN_WEB_PAGE OR WIN32 OR KESTRUN_SANITIZE OR KESTRUN_SANITIZE_THREAD OR KESTRUN_FUZZ)
  return()
endif()
find_program(KESTRUN_EMCC emcc)
find_file(KESTRUN_EMSCRIPTEN_TOOLCHAIN Emscripten.cmake
  PATHS /usr/share/emscripten/cmake/Modules/Platform NO_DEFAULT_PATH)
set(kestrun_web_missing "")
if(NOT KESTRUN_EMCC OR NOT KESTRUN_EMSCRIPTEN_TOOLCHAIN)
  list(APPEND kestrun_web_missing emscripten)
endif()
# The page's JavaScript libraries are installed from npm, at the versions
# web/package-lock.json pins, by `npm ci` in web/ (as .ci/install-packages
# does): never at build time.
if(NOT EXISTS ${PROJECT_SOURCE_DIR}/web/node_modules/client-zip/package.json)
  list(APPEND kestrun_web_missing npm)
  set(kestrun_web_npm ", and the libraries that `npm ci` in web/ installs")
endif()
if(kestrun_web_missing)
  if(BUILD_TESTING)
    include(cmake/WebTests.cmake)
    kestrun_web_tests_missing(kestrun_web_tests_missing)
    list(APPEND kestrun_web_missing ${kestrun_web_tests_missing})
  endif()
  kestrun_left_out("the page that reads packages in a browser, and its tests${kestrun_web_npm}"
    ${kestrun_web_missing})
  return()
endif()

include(ExternalProject)
set(kestrun_web_build ${PROJECT_BINARY_DIR}/web)
# Debian's emcc finds its node modules (node-acorn) only by NODE_PATH.
set(kestrun_emscripten_env ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
ExternalProject_Add(kestrun_web_page
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${kestrun_web_build}
  CONFIGURE_COMMAND ${kestrun_emscripten_env} ${CMAKE_COMMAND} -G Ninja -S <SOURCE_DIR>
    -B <BINARY_DIR> -DCMAKE_TOOLCHAIN_FILE=${KESTRUN_EMSCRIPTEN_TOOLCHAIN}
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKESTRUN_WERROR=${KESTRUN_WERROR}
    -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
  BUILD_COMMAND ${kestrun_emscripten_env} ${CMAKE_COMMAND} --build <BINARY_DIR>
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)
set(kestrun_web_dir ${kestrun_web_build}/kestrun-web)

install(DIRECTORY ${kestrun_web_dir}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrun-web
  COMPONENT kestrun-web)
kestrun_debian_package(kestrun-web SECTION web
  SUMMARY "look inside RBD packages in a web browser, offline"
  DESCRIPTION "A page that opens an RBD package in the browser, with nothing installed
and nothing sent anywhere: it shows the tree that extraction would write,
with unsafe and damaged entries marked, previews text, images and sound,
works out SHA-256 checksums, and saves entries to a folder or a .zip file.
It runs libkestrun's own reader, compiled to WebAssembly.

Open /usr/share/kestrun-web/index.html in a browser, or put the folder on
any static web host as it is.")
# The same page on every architecture.
set(CPACK_DEBIAN_KESTRUN-WEB_PACKAGE_ARCHITECTURE all)

if(BUILD_TESTING)
  include(cmake/WebTests.cmake)
  kestrun_web_tests(${kestrun_web_dir}/index.html $<TARGET_FILE:kestrun>)
endif()
