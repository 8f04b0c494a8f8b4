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

# kestra_add_tests(LIBS ... [LABELS ...] [PROGRAMS]): one test per tst_*.cpp file of
# the calling folder. PROGRAMS: the tests start the real programs, which are built
# first and found by their paths in the build tree (KESTRA3_PATH, KESTRA2_PATH, KESTRA_PANEL_PATH).
function(kestra_add_tests)
  cmake_parse_arguments(ARG "PROGRAMS" "" "LIBS;LABELS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
  foreach(src ${sources})
    get_filename_component(name ${src} NAME_WE)
    get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
    set(test ${folder}_${name})
    kestra_add_test(${test} SOURCES ${src} LIBS ${ARG_LIBS})
    if(ARG_LABELS)
      set_tests_properties(${test} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
    if(ARG_PROGRAMS)
      target_compile_definitions(${test} PRIVATE
        KESTRA3_PATH="$<TARGET_FILE:kestra3>"
        KESTRA2_PATH="$<TARGET_FILE:kestra2>"
        KESTRA_PANEL_PATH="$<TARGET_FILE:kestra-panel>")
      add_dependencies(${test} kestra3 kestra2 kestra-panel)
    endif()
  endforeach()
endfunction()
