# Build variants shared by every module.
#   <name>        plain host build
#   <name>_san    AddressSanitizer + UndefinedBehaviorSanitizer (leak checks on)
#   <name>_fuzz   as _san, instrumented for libFuzzer
set(ZELM_VARIANTS "" _san _fuzz)
set(ZELM_FLAGS_ "")
set(ZELM_FLAGS__san -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)
set(ZELM_FLAGS__fuzz -fsanitize=fuzzer-no-link,address,undefined
    -fno-sanitize-recover=all -fno-omit-frame-pointer)
set(ZELM_LINK_ "")
set(ZELM_LINK__san -fsanitize=address,undefined)
set(ZELM_LINK__fuzz -fsanitize=fuzzer-no-link,address,undefined)

# Firmware code: no exceptions, no RTTI, no C++ standard library headers.
set(ZELM_FIRMWARE_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics
    -nostdinc++ -Wglobal-constructors -Wexit-time-destructors)

# zelm_library(<name> [FIRMWARE] SOURCES ... [DEPS ...])
# Builds one static library per variant; DEPS name other zelm libraries
# (their matching variant is linked) or plain targets (linked as they are).
function(zelm_library name)
  cmake_parse_arguments(A "FIRMWARE" "" "SOURCES;DEPS;PLAIN_DEPS" ${ARGN})
  foreach(v IN LISTS ZELM_VARIANTS)
    add_library(${name}${v} STATIC ${A_SOURCES})
    target_compile_options(${name}${v} PRIVATE ${ZELM_FLAGS_${v}})
    target_link_options(${name}${v} INTERFACE ${ZELM_LINK_${v}})
    target_include_directories(${name}${v} PUBLIC ${ZELM_ROOT}/include ${ZELM_ROOT})
    if(A_FIRMWARE)
      target_compile_options(${name}${v} PRIVATE ${ZELM_FIRMWARE_FLAGS})
    endif()
    foreach(d IN LISTS A_DEPS)
      target_link_libraries(${name}${v} PUBLIC ${d}${v})
    endforeach()
    target_link_libraries(${name}${v} PUBLIC ${A_PLAIN_DEPS})
  endforeach()
endfunction()

# zelm_test(<name> SOURCES ... DEPS ...)
# One GoogleTest executable for the plain and the sanitizer variant, both
# registered with ctest (the sanitizer one as <name>_san).
function(zelm_test name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS" ${ARGN})
  foreach(v IN ITEMS "" _san)
    add_executable(${name}${v} ${A_SOURCES})
    target_compile_options(${name}${v} PRIVATE ${ZELM_FLAGS_${v}})
    target_link_options(${name}${v} PRIVATE ${ZELM_LINK_${v}})
    target_include_directories(${name}${v} PRIVATE ${ZELM_ROOT}/include ${ZELM_ROOT})
    foreach(d IN LISTS A_DEPS)
      target_link_libraries(${name}${v} PRIVATE ${d}${v})
    endforeach()
    target_link_libraries(${name}${v} PRIVATE GTest::gtest GTest::gtest_main)
    add_test(NAME ${name}${v} COMMAND ${name}${v})
    # A hang fails instead of stalling the run.
    set_tests_properties(${name}${v} PROPERTIES TIMEOUT 120
      ENVIRONMENT "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1")
  endforeach()
endfunction()

# zelm_fuzzer(<name> SOURCES ... DEPS ... CORPUS <dir> [RUNS <n>])
# A libFuzzer target plus a short bounded ctest run over its seed corpus.
function(zelm_fuzzer name)
  cmake_parse_arguments(A "" "CORPUS;RUNS" "SOURCES;DEPS" ${ARGN})
  if(NOT A_RUNS)
    set(A_RUNS 20000)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE ${ZELM_FLAGS__fuzz})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_include_directories(${name} PRIVATE ${ZELM_ROOT}/include ${ZELM_ROOT})
  foreach(d IN LISTS A_DEPS)
    target_link_libraries(${name} PRIVATE ${d}_fuzz)
  endforeach()
  add_test(NAME ${name}_short
           COMMAND ${name} -runs=${A_RUNS} -max_total_time=60 ${A_CORPUS})
  set_tests_properties(${name}_short PROPERTIES TIMEOUT 120)
  set_property(GLOBAL APPEND PROPERTY ZELM_FUZZERS ${name})
endfunction()
