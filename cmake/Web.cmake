# The page that reads packages in a browser (the `web` preset, built with
# Emscripten): libkestrun's reader compiled to WebAssembly, with the glue the
# page's Web Worker calls (web/glue/), assembled with the page's scripts and
# styles into one folder, build/web/kestrun-web/, that works from file:// and
# from any static host. Only the reader is built: no writer, no command line.
include(cmake/ReaderSources.cmake)
set(kestrun_web_sources
  ${kestrun_reader_sources}
  src/lib/open.cpp
  src/lib/read.cpp
  src/lib/errors.cpp
  src/lib/package_table.cpp
  src/lib/verdict.cpp
  src/lib/rules.cpp
  src/hostkit/hostkit_posix.cpp
  src/hostkit/hostkit_output_posix.cpp
  src/hostkit/hostkit_target_posix.cpp
  web/glue/sha256.cpp
  web/glue/kestrun_web.cpp)
add_executable(kestrun_wasm ${kestrun_web_sources})
target_include_directories(kestrun_wasm PRIVATE ${PROJECT_SOURCE_DIR}/include
  ${PROJECT_BINARY_DIR}/generated)
# The library catches bad_alloc where a package asks for more memory than
# there is; Emscripten turns exceptions off unless asked.
target_compile_options(kestrun_wasm PRIVATE -fexceptions)
set(kestrun_wasm_exports _malloc _free _kw_open _kw_error_text _kw_close _kw_info
  _kw_damage_text _kw_pack_entries _kw_drop_packed _kw_read_buffer _kw_read _kw_find _kw_match
  _kw_matched _kw_sha_begin _kw_sha_step _kw_sha_hex _kw_version)
list(JOIN kestrun_wasm_exports "," kestrun_wasm_exports)
# One JavaScript file with the WebAssembly inside (SINGLE_FILE), for a
# worker: nothing to fetch, so it runs from file:// too. Its memory starts
# small and grows with the package's index; the reader recurses nowhere, so
# a small stack is enough.
target_link_options(kestrun_wasm PRIVATE -fexceptions -sMODULARIZE=1
  -sEXPORT_NAME=KestrunModule -sENVIRONMENT=worker -sSINGLE_FILE=1 -sALLOW_MEMORY_GROWTH=1
  -sINITIAL_MEMORY=8388608 -sTOTAL_STACK=1048576 -sMAXIMUM_MEMORY=2147483648 -sFILESYSTEM=0
  "-sEXPORTED_FUNCTIONS=[${kestrun_wasm_exports}]"
  "-sEXPORTED_RUNTIME_METHODS=[UTF8ToString,stringToUTF8,lengthBytesUTF8]")
set_target_properties(kestrun_wasm PROPERTIES OUTPUT_NAME kestrun_wasm SUFFIX .js)

# The folder: web/ui's page with its scripts and styles, the client and the
# worker (with the module) put inline, and the npm libraries the page names.
file(GLOB kestrun_web_inputs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/ui/*
  ${PROJECT_SOURCE_DIR}/web/src/*.js ${PROJECT_SOURCE_DIR}/web/vendor.txt)
set(kestrun_web_dir ${PROJECT_BINARY_DIR}/kestrun-web)
add_custom_command(OUTPUT ${kestrun_web_dir}/index.html
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/web/build_page.py
    --source ${PROJECT_SOURCE_DIR}/web --module $<TARGET_FILE:kestrun_wasm>
    --version ${PROJECT_VERSION} --out ${kestrun_web_dir}
  DEPENDS kestrun_wasm ${kestrun_web_inputs} ${PROJECT_SOURCE_DIR}/web/build_page.py
  VERBATIM)
add_custom_target(kestrun_web ALL DEPENDS ${kestrun_web_dir}/index.html)

# The browser tests (tests/web/test_page.py) hold the page against the
# command line, so a native kestrun is built beside the page, with the host's
# compiler, from the same sources.
include(cmake/WebTests.cmake)
if(BUILD_TESTING)
  include(ExternalProject)
  ExternalProject_Add(kestrun_native
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/native
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKESTRUN_WEB_PAGE=OFF
      -DKESTRUN_WERROR=${KESTRUN_WERROR} -DPython3_EXECUTABLE=${Python3_EXECUTABLE}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target kestrun
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  kestrun_web_tests(${kestrun_web_dir}/index.html ${PROJECT_BINARY_DIR}/native/kestrun)
endif()
add_subdirectory(tests/left_out)
