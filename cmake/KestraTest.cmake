# kestra_add_test(NAME SOURCES... LIBS ...)
# One QtTest executable per unit, run by CTest on the offscreen platform with its
# own data, config and runtime directories so that no test touches the user's files.
function(kestra_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set(home "${CMAKE_BINARY_DIR}/testhome/${name}")
  set_tests_properties(${name} PROPERTIES
    TIMEOUT 300
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_DATA_HOME=${home}/data;XDG_CONFIG_HOME=${home}/config;XDG_RUNTIME_DIR=${home}/run;QT_LOGGING_RULES=qt.multimedia*=false")
endfunction()
