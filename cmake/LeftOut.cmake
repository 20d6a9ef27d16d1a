# The parts of the build that are left out where a Debian package they need is
# missing (the tests of --json, the Python module and its tests, kestrun-mount
# and its tests...), so that a machine with only what the program needs still
# builds it and runs every test it can. The test that closes the suite
# (tests/left_out/) names the packages whose parts were left out.
#
# KESTRUN_REQUIRE_ALL=1 in the environment, as CI sets it, makes every such
# part required: each missing package is a configure error that names it.
# The tests read it too, and fail where they would skip for a missing
# facility (tests/support/required.h).
set(kestrun_require_all OFF)
if("$ENV{KESTRUN_REQUIRE_ALL}" STREQUAL "1")
  set(kestrun_require_all ON)
endif()

# kestrun_left_out(<what> <package>...): <what> is left out for want of the
# Debian <package>s; or, with KESTRUN_REQUIRE_ALL=1, the configuration fails
# (once it has gone on to name every missing package).
function(kestrun_left_out what)
  list(JOIN ARGN " " packages)
  if(kestrun_require_all)
    message(SEND_ERROR "KESTRUN_REQUIRE_ALL=1, but ${what} can't be built here, "
      "for want of the Debian package(s) ${packages}")
    return()
  endif()
  message(STATUS "Left out: ${what}, for want of ${packages}")
  set_property(GLOBAL APPEND PROPERTY KESTRUN_LEFT_OUT_PARTS "${what} (${packages})")
  set_property(GLOBAL APPEND PROPERTY KESTRUN_LEFT_OUT_PACKAGES ${ARGN})
endfunction()
