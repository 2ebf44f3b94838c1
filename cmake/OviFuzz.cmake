# ovi_add_fuzzer(NAME name SOURCES ... LIBS ... [CORPUS dir])
#
# A libFuzzer target, built only when OVI_FUZZ is on (clang required).  The
# test script runs every fuzzer listed in ${CMAKE_BINARY_DIR}/fuzzers.txt for
# a short bounded time over its corpus directory.  Nothing is built with
# OVI_TESTS off.
function(ovi_add_fuzzer)
  if(NOT OVI_FUZZ OR NOT OVI_TESTS)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME;CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  file(APPEND ${CMAKE_BINARY_DIR}/fuzzers.txt "${F_NAME} ${F_CORPUS}\n")
endfunction()
