# kestrun_web_tests(<page> <kestrun>): the page's tests in a real browser
# (tests/web/), headless chromium driven by selenium, where the
# Debian packages they need are here; else left out, named by the closing test.

# kestrun_web_tests_missing(<var>): the Debian packages the tests need that
# are missing here, in <var>.
function(kestrun_web_tests_missing var)
  set(missing "")
  find_program(KESTRUN_CHROMIUM chromium)
  find_program(KESTRUN_CHROMEDRIVER chromedriver PATHS /usr/bin)
  if(NOT KESTRUN_CHROMIUM)
    list(APPEND missing chromium)
  endif()
  if(NOT KESTRUN_CHROMEDRIVER)
    list(APPEND missing chromium-driver)
  endif()
  foreach(module_package IN ITEMS "selenium=python3-selenium" "pytest=python3-pytest")
    string(REPLACE "=" ";" pair ${module_package})
    list(GET pair 0 module)
    list(GET pair 1 package)
    execute_process(COMMAND ${Python3_EXECUTABLE} -c "import ${module}"
      RESULT_VARIABLE module_missing OUTPUT_QUIET ERROR_QUIET)
    if(module_missing)
      list(APPEND missing ${package})
    endif()
  endforeach()
  set(${var} ${missing} PARENT_SCOPE)
endfunction()

function(kestrun_web_tests page kestrun)
  kestrun_web_tests_missing(missing)
  if(missing)
    kestrun_left_out("the page's tests in a browser" ${missing})
    return()
  endif()
  add_test(NAME web_page_in_browser
    COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider
      ${PROJECT_SOURCE_DIR}/tests/web)
  set_tests_properties(web_page_in_browser PROPERTIES
    ENVIRONMENT "KESTRUN_PAGE=${page};KESTRUN_BIN=${kestrun}"
    TIMEOUT 300)
endfunction()
