# vos_add_test(NAME name SOURCES ... LIBS ... [QT])
# Builds one GoogleTest executable and registers its cases with CTest.
# QT links the QApplication main, which runs under the offscreen platform.
function(vos_add_test)
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vos_qtest_main)
  else()
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} vos_gtest_main)
  endif()
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8" TIMEOUT 300)
endfunction()
