# Every fuzz target's entry, built with a plain main that replays its corpus
# (fuzz/corpus/<target>) and the inputs that once broke it
# (tests/inputs/malformed/<target>), as ctest tests of every preset.
function(zenta_fuzz_replay target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${target}_replay ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp ${ARG_SOURCES})
  target_include_directories(${target}_replay PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target}_replay PRIVATE ${ARG_LIBRARIES} zenta_warnings)
  add_test(NAME fuzz_replay.${target}
           COMMAND ${target}_replay ${PROJECT_SOURCE_DIR}/fuzz/corpus/${target}
                   ${PROJECT_SOURCE_DIR}/tests/inputs/malformed/${target})
  set_tests_properties(fuzz_replay.${target} PROPERTIES LABELS unit)
endfunction()

zenta_fuzz_replay(h263_decode SOURCES ${PROJECT_SOURCE_DIR}/fuzz/h263_decode_fuzz.cpp LIBRARIES video)
zenta_fuzz_replay(protocol SOURCES ${PROJECT_SOURCE_DIR}/fuzz/protocol_fuzz.cpp LIBRARIES stream_protocol)
zenta_fuzz_replay(registry SOURCES ${PROJECT_SOURCE_DIR}/fuzz/registry_fuzz.cpp LIBRARIES platform_core)
zenta_fuzz_replay(framing SOURCES ${PROJECT_SOURCE_DIR}/fuzz/framing_fuzz.cpp LIBRARIES stream)
if(ZENTA_BUILD_VIEWER)
  zenta_fuzz_replay(skin SOURCES ${PROJECT_SOURCE_DIR}/fuzz/skin_fuzz.cpp LIBRARIES skin_format)
  zenta_fuzz_replay(dialog SOURCES ${PROJECT_SOURCE_DIR}/fuzz/dialog_fuzz.cpp LIBRARIES platform)
endif()
