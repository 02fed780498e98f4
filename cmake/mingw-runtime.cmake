# The hub's DLLs, its programs and the tests pass C++ objects and exceptions
# across DLL boundaries, which needs one shared copy of the C++ runtime: a
# statically linked copy in each DLL has its own unwinder, and an exception
# thrown in one DLL would terminate the program where another catches it.
# The runtime DLLs go beside the programs, where Windows looks first. The
# provider, which is plain C to its callers, links its runtime statically.
if(NOT MINGW)
  return()
endif()

set(KQV_MINGW_RUNTIME_DLLS "")
foreach(_dll libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
  execute_process(
      COMMAND "${CMAKE_CXX_COMPILER}" "-print-file-name=${_dll}"
      OUTPUT_VARIABLE _path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_path}" OR NOT EXISTS "${_path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${_dll} is")
  endif()
  file(REAL_PATH "${_path}" _path)
  list(APPEND KQV_MINGW_RUNTIME_DLLS "${_path}")
endforeach()

file(COPY ${KQV_MINGW_RUNTIME_DLLS} DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
install(FILES ${KQV_MINGW_RUNTIME_DLLS} DESTINATION bin)
