find_package(GTest REQUIRED)
include(GoogleTest)

# zeva_add_tests(LABEL <label> LIBS <libs...> [INCLUDES <dirs...>] [MAIN <target>] SOURCES <files...>)
# Every <name>_test.cpp becomes its own test program, registered with CTest under the label.
# MAIN names a library holding main() in place of GoogleTest's own.
function(zeva_add_tests)
  cmake_parse_arguments(ARG "" "LABEL;MAIN" "LIBS;INCLUDES;SOURCES" ${ARGN})
  if(NOT ARG_MAIN)
    set(ARG_MAIN GTest::gtest_main)
  endif()
  foreach(src IN LISTS ARG_SOURCES)
    get_filename_component(name "${src}" NAME_WE)
    set(target "${ARG_LABEL}_${name}")
    add_executable(${target} "${src}")
    # tests/ at the root holds helpers every test may use (netns/netns_lab.h), and the namespace
    # guard they share with the tools.
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} zeva_netns_guard GTest::gmock GTest::gtest ${ARG_MAIN})
    target_include_directories(${target} PRIVATE ${ARG_INCLUDES} "${PROJECT_SOURCE_DIR}/tests")
    gtest_discover_tests(${target}
      DISCOVERY_TIMEOUT 60
      NO_PRETTY_VALUES
      PROPERTIES LABELS "${ARG_LABEL}")
  endforeach()
endfunction()

# zeva_add_netns_test(NAME <name> [PEERS <n>] [LABEL <label>] COMMAND <command...>)
# Runs the command inside fresh network namespaces (a host and n peers joined by veth pairs, see
# tests/netns/netns-run.sh), which are removed afterwards whatever the outcome.
function(zeva_add_netns_test)
  cmake_parse_arguments(ARG "" "NAME;PEERS;LABEL" "COMMAND" ${ARGN})
  if(NOT ARG_PEERS)
    set(ARG_PEERS 1)
  endif()
  add_test(NAME ${ARG_NAME}
           COMMAND "${PROJECT_SOURCE_DIR}/tests/netns/netns-run.sh" -p ${ARG_PEERS} -- ${ARG_COMMAND})
  set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${ARG_LABEL}" SKIP_RETURN_CODE 77)
endfunction()
