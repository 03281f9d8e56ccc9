# Shows that CheckNoConstructors.cmake refuses an object with a global
# constructor and accepts one without.
# Usage: cmake -DCXX=<clang++> -DOBJDUMP=<llvm-objdump> -DCHECK=<script>
#              -DWORK=<dir> -DFLAGS=<EFI compile flags> -P CheckConstructorCheck.cmake

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/with.cpp"
  "int Next();\nint value = Next();\n")
file(WRITE "${WORK}/without.cpp"
  "int value = 42;\nint Next() { return value; }\n")

# The warning flags would stop the first source from compiling at all.
list(FILTER FLAGS EXCLUDE REGEX "^-W")

foreach(kind with without)
  execute_process(COMMAND ${CXX} ${FLAGS} -c "${WORK}/${kind}.cpp" -o "${WORK}/${kind}.obj"
    RESULT_VARIABLE result ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "compiling ${kind}.cpp failed: ${errors}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -P ${CHECK} -- "${WORK}/${kind}.obj"
    RESULT_VARIABLE check_${kind} OUTPUT_QUIET ERROR_VARIABLE message_${kind})
endforeach()

if(check_with EQUAL 0)
  message(FATAL_ERROR "the check accepted an object with a global constructor")
endif()
if(NOT check_without EQUAL 0)
  message(FATAL_ERROR "the check refused an object without constructors: ${message_without}")
endif()
message(STATUS "refused as expected:\n${message_with}")
