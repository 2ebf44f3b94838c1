# ovi_add_test(NAME name SOURCES ... LIBS ... [LOCKS lock...] [LABELS ...])
#
# One GoogleTest executable, registered with CTest as a single test so that
# resource locks (tests that register well-known RPC programs with rpcbind)
# apply to the whole executable.
function(ovi_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LOCKS;LABELS" ${ARGN})
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
