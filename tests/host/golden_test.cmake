# Runs kqvhost and compares its standard output byte for byte with a golden
# file; the exit status must be 0.
#
#   cmake -DHOST=<kqvhost> -DGOLDEN=<file> -DACTUAL=<file> "-DARGS=<arg>|<arg>..."
#         [-DUPDATE=ON] -P golden_test.cmake
#
# Arguments are separated by "|" so that they pass through add_test intact.
# UPDATE=ON rewrites the golden file from the output instead of comparing.
foreach(_required HOST GOLDEN ACTUAL)
  if(NOT DEFINED ${_required})
    message(FATAL_ERROR "golden_test.cmake: ${_required} is not set")
  endif()
endforeach()
string(REPLACE "|" ";" _arguments "${ARGS}")
string(REPLACE "|" " " _shown "${ARGS}")

execute_process(
  COMMAND "${HOST}" ${_arguments}
  OUTPUT_FILE "${ACTUAL}"
  ERROR_VARIABLE _stderr
  RESULT_VARIABLE _status)
if(NOT _status STREQUAL "0")
  message(FATAL_ERROR "kqvhost ${_shown} ended with status ${_status}; its standard error:\n${_stderr}")
endif()

if(UPDATE)
  file(COPY_FILE "${ACTUAL}" "${GOLDEN}")
  message(STATUS "rewrote ${GOLDEN}")
  return()
endif()

execute_process(
  COMMAND "${CMAKE_COMMAND}" -E compare_files "${GOLDEN}" "${ACTUAL}"
  RESULT_VARIABLE _differs)
if(_differs)
  file(READ "${GOLDEN}" _expected)
  file(READ "${ACTUAL}" _received)
  message(FATAL_ERROR "kqvhost ${_shown}: standard output differs from ${GOLDEN}\n"
                      "--- expected\n${_expected}--- received (${ACTUAL})\n${_received}")
endif()
