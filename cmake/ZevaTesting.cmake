find_package(GTest REQUIRED)
include(GoogleTest)

# zeva_add_tests(LABEL <label> LIBS <libs...> [INCLUDES <dirs...>] SOURCES <files...>)
# Every <name>_test.cpp becomes its own test program, registered with CTest under the label.
function(zeva_add_tests)
  cmake_parse_arguments(ARG "" "LABEL" "LIBS;INCLUDES;SOURCES" ${ARGN})
  foreach(src IN LISTS ARG_SOURCES)
    get_filename_component(name "${src}" NAME_WE)
    set(target "${ARG_LABEL}_${name}")
    add_executable(${target} "${src}")
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gmock GTest::gtest_main)
    # tests/ at the root holds helpers every test may use (netns/netns_lab.h).
    target_include_directories(${target} PRIVATE ${ARG_INCLUDES} "${PROJECT_SOURCE_DIR}/tests")
    gtest_discover_tests(${target}
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "${ARG_LABEL}")
  endforeach()
endfunction()
