# libkestrun: the reader of the format and the extraction engine behind the C
# API of include/kestrun/kestrun.h. It carries host services of its own (the
# same sources as libhostkit, none of them exported), so that installing it is
# enough to use it. Only kr_* is exported.
add_library(libkestrun SHARED
  ${KESTRUN_READER_SOURCES}
  ${HOSTKIT_SOURCES}
  src/lib/open.cpp
  src/lib/read.cpp
  src/lib/extract.cpp
  src/lib/errors.cpp
  src/lib/package_table.cpp
  src/lib/siphash.cpp)
set_target_properties(libkestrun PROPERTIES
  OUTPUT_NAME kestrun
  EXPORT_NAME kestrun
  VERSION ${PROJECT_VERSION}
  SOVERSION 1)
target_compile_definitions(libkestrun PRIVATE KESTRUN_BUILD_LIBRARY HOSTKIT_INTERNAL)
target_include_directories(libkestrun
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  PRIVATE ${PROJECT_BINARY_DIR}/generated)
if(WIN32)
  target_link_libraries(libkestrun PRIVATE ws2_32)
else()
  # Hidden visibility keeps our own symbols in; the version script also keeps
  # in whatever the C++ library would otherwise export from inline code.
  set(kestrun_map ${PROJECT_SOURCE_DIR}/src/lib/kestrun.map)
  target_link_options(libkestrun PRIVATE "LINKER:--version-script=${kestrun_map}")
  set_property(TARGET libkestrun APPEND PROPERTY LINK_DEPENDS ${kestrun_map})
endif()
add_library(kestrun::kestrun ALIAS libkestrun)
