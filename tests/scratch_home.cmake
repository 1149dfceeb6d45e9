# The home folder the test cases run with. STEP=prepare makes it an empty folder before the
# first case; STEP=check, after the last, fails if anything was written into it and names what.
# Usage: cmake -DHOME=<folder> -DSTEP=prepare|check -P scratch_home.cmake
if(STEP STREQUAL "prepare")
  file(REMOVE_RECURSE "${HOME}")
  file(MAKE_DIRECTORY "${HOME}")
elseif(STEP STREQUAL "check")
  if(NOT IS_DIRECTORY "${HOME}")
    message(FATAL_ERROR "The test home ${HOME} is gone")
  endif()
  file(GLOB_RECURSE written LIST_DIRECTORIES true "${HOME}/*")
  if(written)
    list(JOIN written "\n  " listed)
    message(FATAL_ERROR "The test cases wrote into their home folder:\n  ${listed}")
  endif()
  message(STATUS "The home folder is as empty as before the tests")
else()
  message(FATAL_ERROR "STEP must be prepare or check")
endif()
