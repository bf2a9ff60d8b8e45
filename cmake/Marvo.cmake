# Shared build rules: third-party packages, warning flags, sanitizers and the
# small helpers that every folder uses to declare its library and tests.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(ALLEGRO REQUIRED IMPORTED_TARGET allegro)
pkg_check_modules(LOADPNG REQUIRED IMPORTED_TARGET loadpng)
pkg_check_modules(LIBPNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)

set(MARVO_WARNINGS -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # g++ 12 reports std::string concatenation inlined at -O2 as overlapping
  # memcpy (a known false positive of that release); keep it a warning.
  list(APPEND MARVO_WARNINGS -Wno-error=restrict)
endif()

if(MARVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
  # The sanitizer runtime takes a thread-local block that a library loaded
  # later gets from malloc, when it starts 16 bytes into a page, for one with
  # an old glibc's header in front; the leak checker then scans the bounds it
  # reads there and crashes at exit. ALSA, which Allegro's sound modules load,
  # is our one such library: loaded with the program, its block is static.
  find_library(MARVO_ASOUND NAMES libasound.so.2 asound REQUIRED)
  add_link_options(LINKER:--push-state,--no-as-needed ${MARVO_ASOUND} LINKER:--pop-state)
endif()
if(MARVO_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
# Release keeps assertions on: they guard invariants we want to hear about.
string(REPLACE "-DNDEBUG" "" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
string(REPLACE "-DNDEBUG" "" CMAKE_C_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE}")

# marvo_library(NAME [EXCLUDE file...] [DEPS target...])
# One static library from every .cpp file of the calling folder.
function(marvo_library name)
  cmake_parse_arguments(ML "" "" "EXCLUDE;DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  foreach(ex IN LISTS ML_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${ex})
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${MARVO_WARNINGS})
    target_link_libraries(${name} PUBLIC ${ML_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ML_DEPS})
  endif()
endfunction()

# marvo_test_suite(NAME [SOURCES file...] [LIBS target...] [SERIAL])
# One GoogleTest executable; every test case becomes its own ctest test so
# that each runs in a fresh process (the engine is a per-process singleton).
# Without SOURCES every test_*.cpp of the calling folder is taken.
function(marvo_test_suite name)
  cmake_parse_arguments(MT "SERIAL" "" "SOURCES;LIBS" ${ARGN})
  if(NOT MT_SOURCES)
    file(GLOB MT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.cpp)
  endif()
  # A suite whose files are still being written is left out until they exist.
  list(FILTER MT_SOURCES EXCLUDE REGEX "^$")
  set(present)
  foreach(src IN LISTS MT_SOURCES)
    if(EXISTS ${src})
      list(APPEND present ${src})
    endif()
  endforeach()
  set(MT_SOURCES ${present})
  if(NOT MT_SOURCES)
    return()
  endif()
  add_executable(${name} ${MT_SOURCES})
  target_compile_options(${name} PRIVATE ${MARVO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${MT_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    MARVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MARVO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # The directories reach the tests as compile definitions: a list-valued
  # ENVIRONMENT would be split apart by test discovery and garble every
  # property after it.
  set(props TIMEOUT 300)
  if(MT_SERIAL)
    # ctest does not keep discovered RUN_SERIAL tests apart reliably, so
    # scripts/test also runs the "serial" label in a pass of its own.
    list(APPEND props RUN_SERIAL TRUE LABELS serial)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# marvo_bench(NAME SOURCES file... [LIBS target...])
function(marvo_bench name)
  cmake_parse_arguments(MB "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${MB_SOURCES})
  target_compile_options(${name} PRIVATE ${MARVO_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${MB_LIBS} Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    MARVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" MARVO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  set_property(GLOBAL APPEND PROPERTY MARVO_BENCHES ${name})
endfunction()

# marvo_fuzzer(NAME SOURCES file... [LIBS target...] [SECONDS n])
# The committed corpus lives in fuzz/corpus/NAME; CI runs the target SECONDS
# seconds (default 20).
function(marvo_fuzzer name)
  cmake_parse_arguments(MF "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT MF_SECONDS)
    set(MF_SECONDS 20)
  endif()
  add_executable(${name} ${MF_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${MF_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY MARVO_FUZZERS "${name} ${MF_SECONDS}")
endfunction()
