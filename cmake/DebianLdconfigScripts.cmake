# Run by CPack once it has made the packages (CPACK_POST_BUILD_SCRIPTS). For a
# package with a shared library in the linker's path CPack writes a postinst
# and a postrm that run ldconfig; the package's ldconfig trigger does that job
# instead, and lintian refuses such scripts. They are taken out of every
# package that has the trigger; any other script is left as it is.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND dpkg-deb --info ${deb} triggers
    OUTPUT_VARIABLE triggers RESULT_VARIABLE no_triggers ERROR_QUIET)
  if(no_triggers OR NOT triggers MATCHES "activate-noawait ldconfig")
    continue()
  endif()
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb --raw-extract ${deb} ${tree} COMMAND_ERROR_IS_FATAL ANY)
  set(changed FALSE)
  foreach(script IN ITEMS postinst postrm)
    set(path ${tree}/DEBIAN/${script})
    if(EXISTS ${path})
      file(READ ${path} text)
      string(REGEX REPLACE "\n+" "\n" text "${text}")
      if(text MATCHES "^#!/bin/sh\nset -e\nif \\[ \"\\$1\" = \"[a-z]+\" \\]; then\n\tldconfig\nfi\n$")
        file(REMOVE ${path})
        set(changed TRUE)
      endif()
    endif()
  endforeach()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group --build ${tree} ${deb}
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
