# vos_add_test(NAME name SOURCES ... LIBS ... [QT] [LABELS ...] [LOCKS ...])
# Builds one GoogleTest executable and registers its cases with CTest.
# QT links the QApplication main, which runs under the offscreen platform.
# Executables whose name ends in _threads_test get the label "threads",
# which selects them for the ThreadSanitizer build; those whose name holds
# _process_ (the built programs run as processes) get the label "process".
# Both are what scripts/test-under-load.sh runs. LOCKS names resources
# that the tests may not use at the same time as other tests naming them.
function(vos_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS;LABELS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests ${PROJECT_SOURCE_DIR}/src)
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vos_qtest_main)
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vos_gtest_main)
  endif()
  set(labels ${T_LABELS})
  if(T_NAME MATCHES "_threads_test$")
    list(APPEND labels threads)
  endif()
  if(T_NAME MATCHES "_process_")
    list(APPEND labels process)
  endif()
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
  if(labels)
    list(APPEND props LABELS "${labels}")
  endif()
  if(T_LOCKS)
    list(APPEND props RESOURCE_LOCK "${T_LOCKS}")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()
