# What a porter does with the -dev package alone: install it into a scratch prefix, build a
# library against the installed headers with the system compiler (no project paths or flags),
# and run the conformance check on it, which must pass every check. The library lists its
# device only for the IDs of the installed values header, and keeps a SIGALRM timer of its own.
# Arguments: BUILD_DIR, SCRATCH, SOURCE (the library's source), COMPILER, CHECK (the program).
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component dev --prefix "${SCRATCH}/usr"
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
foreach(file include/scribolante-fw-updater/vendor_interfaces.h
             include/scribolante-fw-updater/vendor_call_values.h
             share/doc/scribolante-fw-updater-dev/VENDOR-LIBRARY.md)
  if(NOT EXISTS "${SCRATCH}/usr/${file}")
    message(FATAL_ERROR "the dev component did not install ${file}")
  endif()
endforeach()
execute_process(
  COMMAND "${COMPILER}" -std=c++17 -Wall -Wextra -Werror -shared -fPIC -fvisibility=hidden
          -I "${SCRATCH}/usr/include" "${SOURCE}" -o "${SCRATCH}/GPlusUSBLibEx.so"
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND "${CHECK}" "${SCRATCH}/GPlusUSBLibEx.so"
                OUTPUT_VARIABLE output RESULTS_VARIABLE status)
message("${output}")
if(NOT status EQUAL 0 OR NOT output MATCHES "# 14 checks: 14 passed, 0 skipped, 0 failed")
  message(FATAL_ERROR "the conformance check did not pass the library (exit status ${status})")
endif()
