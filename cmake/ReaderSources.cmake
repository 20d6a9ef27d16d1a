# The reader of packages: the walk of the index, the rules of names, paths
# and member patterns, and the engine's checks of an entry and its data. The core
# (CMakeLists.txt) and the page's WebAssembly build (cmake/Web.cmake) both
# compile it from this one list.
set(kestrun_reader_sources
  src/lib/system_text.cpp
  src/lib/siphash.cpp
  src/package/walk.cpp
  src/package/group_path.cpp
  src/package/safe_name.cpp
  src/package/root_name.cpp
  src/package/header_text.cpp
  src/package/open_package.cpp
  src/package/package_source.cpp
  src/package/escaped_text.cpp
  src/package/utf8.cpp
  src/package/text_store.cpp
  src/package/entry_paths.cpp
  src/package/member_pattern.cpp
  src/extract/engine.cpp
  src/extract/outcome_text.cpp
  src/extract/piece_copy.cpp
  src/extract/entry_data.cpp
  src/extract/output_budget.cpp)
