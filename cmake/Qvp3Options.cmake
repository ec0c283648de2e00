# Shared compile settings for every target of the project.
add_library(qvp3_warnings INTERFACE)
target_compile_options(qvp3_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)

if(QVP3_SANITIZE AND QVP3_SANITIZE_THREAD)
  message(FATAL_ERROR "QVP3_SANITIZE and QVP3_SANITIZE_THREAD exclude each other")
endif()
if(QVP3_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QVP3_SANITIZE_THREAD)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# qvp3_add_test(<name> SOURCES ... LIBS ... [LABEL <label>])
# One test program per library; each GoogleTest case becomes a CTest test
# named "<name>.<Suite>.<Case>". LABEL "sanitize" marks programs that also run
# in the sanitizer build (file readers and their mutation tests).
function(qvp3_add_test name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} qvp3_warnings GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    QVP3_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/tests/data"
    QVP3_SHARED_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/../shared/testdata")
  set(properties TIMEOUT 300)
  if(T_LABEL)
    list(APPEND properties LABELS ${T_LABEL})
  endif()
  gtest_discover_tests(${name}
    TEST_PREFIX "${name}."
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

# Builds a text file of the repository into a target as a raw string constant
# `NAMESPACE::NAME` in the generated header HEADER, made again whenever the file
# changes; DELIMITER closes the raw string and must not occur in the text.
function(qvp3_embed_text target)
  cmake_parse_arguments(EMBED "" "FILE;HEADER;NAMESPACE;NAME;DELIMITER" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${EMBED_FILE})
  file(READ ${EMBED_FILE} EMBED_TEXT)
  string(FIND "${EMBED_TEXT}" ")${EMBED_DELIMITER}\"" EMBED_CLASH)
  if(NOT EMBED_CLASH EQUAL -1)
    message(FATAL_ERROR "${EMBED_FILE} contains )${EMBED_DELIMITER}\", the end of its raw string")
  endif()
  file(RELATIVE_PATH EMBED_SOURCE ${PROJECT_SOURCE_DIR} ${EMBED_FILE})
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/generated/${EMBED_HEADER} @ONLY
    CONTENT "// Made by CMake from @EMBED_SOURCE@: do not edit.\n#pragma once\n\n#include <string_view>\n\n\
namespace @EMBED_NAMESPACE@ {\n\ninline constexpr std::string_view @EMBED_NAME@ = R\"@EMBED_DELIMITER@(@EMBED_TEXT@)@EMBED_DELIMITER@\";\n\n\
}  // namespace @EMBED_NAMESPACE@\n")
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
endfunction()
