# Writes the scenario script INPUT into the C++ source OUTPUT.
cmake_minimum_required(VERSION 3.25)
file(READ "${INPUT}" _script)
set(_delimiter "kqvscenario")
string(FIND "${_script}" ")${_delimiter}\"" _clash)
if(NOT _clash EQUAL -1)
  message(FATAL_ERROR "${INPUT} contains the raw string's delimiter")
endif()
file(WRITE "${OUTPUT}.tmp" "// Generated from ${INPUT}. Do not edit.
#include \"hub/ds/scenario.h\"

namespace hub::ds {

std::string_view defaultScenarioScript() {
    static constexpr char kScript[] = R\"${_delimiter}(${_script})${_delimiter}\";
    return {kScript, sizeof kScript - 1};
}

}  // namespace hub::ds
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
