# A fuzzing build instruments every target for libFuzzer's coverage and for ASan+UBSan; only the
# fuzz targets themselves link libFuzzer's main.
if(NOT ZEVA_FUZZ)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ZEVA_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
if(ZEVA_ASAN OR ZEVA_TSAN)
  message(FATAL_ERROR "ZEVA_FUZZ brings its own sanitizers; leave ZEVA_ASAN and ZEVA_TSAN off")
endif()
set(ZEVA_BUILD_TESTS OFF CACHE BOOL "" FORCE)
set(ZEVA_BUILD_BENCH OFF CACHE BOOL "" FORCE)
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                    -fno-sanitize-recover=undefined)
add_link_options(-fsanitize=address,undefined)

# zeva_add_fuzzer(NAME <name> SOURCES <files...> [LIBS <libs...>] [INCLUDES <dirs...>])
# The seeds live in fuzz/corpus/<name>/; scripts/fuzz.sh runs every target over them.
function(zeva_add_fuzzer)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS;INCLUDES" ${ARGN})
  set(target "${ARG_NAME}_fuzz")
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS})
  target_include_directories(${target} PRIVATE ${ARG_INCLUDES})
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${PROJECT_BINARY_DIR}/fuzz/bin")
endfunction()
