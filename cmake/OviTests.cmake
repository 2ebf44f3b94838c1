# ovi_add_test(NAME name SOURCES ... LIBS ... [LOCKS lock...] [LABELS ...])
#
# One GoogleTest executable, registered with CTest as a single test so that
# resource locks (tests that register well-known RPC programs with rpcbind)
# apply to the whole executable.
#
# With OVI_TESTS off nothing of the test is built: NAME becomes a stand-in
# library outside the default build, with no source of the test and no link
# to GoogleTest, so that a directory's further settings for the test
# (target_compile_definitions, add_dependencies ...) still apply.
function(ovi_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LOCKS;LABELS" ${ARGN})
  if(NOT OVI_TESTS)
    set(standin ${PROJECT_BINARY_DIR}/ovi_test_standin.cc)
    if(NOT EXISTS ${standin})
      file(WRITE ${standin} "// Stands in for a test that is not built (OVI_TESTS is off).\n")
    endif()
    add_library(${T_NAME} STATIC EXCLUDE_FROM_ALL ${standin})
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 300)
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  set(labels unit ${T_LABELS})
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}")
endfunction()
