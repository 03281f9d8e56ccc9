# Refuses objects with global constructors: the images have no C runtime to
# run them, so such an object would start with its globals unconstructed.
# Usage: cmake -DOBJDUMP=<llvm-objdump> -P CheckNoConstructors.cmake -- <objects>
# Fails when any object has a non-empty section named .CRT$XC* (COFF
# initialiser tables), .init_array* or .ctors*.

set(objects "")
set(take FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(i RANGE ${last})
  if(take)
    list(APPEND objects "${CMAKE_ARGV${i}}")
  elseif(CMAKE_ARGV${i} STREQUAL "--")
    set(take TRUE)
  endif()
endforeach()
if(NOT OBJDUMP OR NOT objects)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=<llvm-objdump> -P CheckNoConstructors.cmake -- <objects>")
endif()

execute_process(COMMAND ${OBJDUMP} --section-headers ${objects}
  OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed: ${errors}")
endif()

# llvm-objdump prints "<file>:\tfile format ..." before each object's table
# and one "<idx> <name> <size> <vma> <type>" line per section.
set(offenders "")
set(current "")
string(REPLACE "\n" ";" lines "${headers}")
foreach(line IN LISTS lines)
  if(line MATCHES "^(.*):[ \t]+file format ")
    set(current "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^ *[0-9]+ +([^ ]+) +([0-9a-fA-F]+) ")
    set(section "${CMAKE_MATCH_1}")
    set(size "${CMAKE_MATCH_2}")
    if(section MATCHES "^(\\.CRT\\$XC|\\.init_array|\\.ctors)" AND NOT size MATCHES "^0+$")
      list(APPEND offenders "${current}: ${section} (0x${size} bytes)")
    endif()
  endif()
endforeach()

if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "global constructors in the EFI image's objects:\n  ${text}")
endif()
