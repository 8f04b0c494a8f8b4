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

# kestra_add_tests(LIBS ...): one test per tst_*.cpp file of the calling folder.
function(kestra_add_tests)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    kestra_add_test(${folder}_${name} SOURCES ${src} LIBS ${ARG_LIBS})
  endforeach()
endfunction()
