# Helpers shared by the build files.
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
set(FV_LAYERS "")

# fv_add_layer(name) : src/<name>/*.cpp as the object library fv_<name>, linked with the layers the
# graph gives it
function(fv_add_layer name)
  fv_layer_closure(A_DEPS ${name})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_library(fv_${name} OBJECT ${srcs})
  target_include_directories(fv_${name} PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_BINARY_DIR}/generated)
  foreach(d ${A_DEPS})
    if(TARGET fv_${d})
      target_link_libraries(fv_${name} PUBLIC fv_${d})
    endif()
  endforeach()
  set(FV_LAYERS ${FV_LAYERS} ${name} PARENT_SCOPE)
endfunction()

# fv_add_test_suite(name) : tests/<name>/*.cpp as the test program <name>_tests, linked with the
# layer and all it may use. Object libraries only hand their objects to direct consumers, so every
# layer is linked by name.
function(fv_add_test_suite name)
  fv_layer_closure(A_DEPS ${name})
  list(PREPEND A_DEPS ${name})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${name}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name}_tests ${srcs} ${CMAKE_SOURCE_DIR}/tests/test_main.cpp)
  target_include_directories(${name}_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  foreach(d ${A_DEPS})
    target_link_libraries(${name}_tests PRIVATE fv_${d})
  endforeach()
  target_link_libraries(${name}_tests PRIVATE GTest::gtest GTest::gmock)
  target_compile_definitions(${name}_tests PRIVATE
    FV_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
    FV_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    FV_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()

# fv_add_fuzz_target(name LAYER layer) : fuzz/fuzz_<name>.cpp as the libFuzzer program fuzz_<name>,
# linked against the layer's object libraries as the graph gives them, so the targets never drift
# from the code.
function(fv_add_fuzz_target name)
  cmake_parse_arguments(A "" "LAYER" "" ${ARGN})
  fv_layer_closure(A_DEPS ${A_LAYER})
  list(PREPEND A_DEPS ${A_LAYER})
  add_executable(fuzz_${name} ${CMAKE_SOURCE_DIR}/fuzz/fuzz_${name}.cpp)
  target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  foreach(d ${A_DEPS})
    target_link_libraries(fuzz_${name} PRIVATE fv_${d})
  endforeach()
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(fuzz_${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  set_property(GLOBAL APPEND PROPERTY FV_FUZZ_TARGETS ${name})
endfunction()
