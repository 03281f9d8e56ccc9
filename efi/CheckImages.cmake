# Checks the PE headers of the two images: both PE32+ for x86-64, the driver
# a boot-service driver (subsystem 11), the harness an application (10).
# Usage: cmake -DREADOBJ=<llvm-readobj> -DDRIVER=<zelm.efi> -DHARNESS=<harness.efi> -P CheckImages.cmake

set(failures "")

function(check_image path subsystem subsystem_hex subsystem_name)
  if(NOT EXISTS "${path}")
    list(APPEND failures "${path}: missing (build the image first)")
    set(failures "${failures}" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${READOBJ} --file-headers "${path}"
    OUTPUT_VARIABLE headers ERROR_VARIABLE errors RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    list(APPEND failures "${path}: ${READOBJ} failed: ${errors}")
    set(failures "${failures}" PARENT_SCOPE)
    return()
  endif()
  set(expect
    "Format: COFF-x86-64"
    "Machine: IMAGE_FILE_MACHINE_AMD64 \\(0x8664\\)"
    "Magic: 0x20B"
    "Subsystem: ${subsystem_name} \\(${subsystem_hex}\\)"
    "IMAGE_FILE_EXECUTABLE_IMAGE")
  foreach(pattern IN LISTS expect)
    if(NOT headers MATCHES "${pattern}")
      list(APPEND failures "${path}: no \"${pattern}\" in the file headers")
    endif()
  endforeach()
  # The loader places the image anywhere, so base relocations are needed.
  if(NOT headers MATCHES "BaseRelocationTableRVA: 0x[1-9A-F]")
    list(APPEND failures "${path}: no base relocation table")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
  file(SIZE "${path}" size)
  message(STATUS "${path}: ${size} bytes, subsystem ${subsystem}")
endfunction()

check_image("${DRIVER}" 11 0xB IMAGE_SUBSYSTEM_EFI_BOOT_SERVICE_DRIVER)
check_image("${HARNESS}" 10 0xA IMAGE_SUBSYSTEM_EFI_APPLICATION)

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "EFI image checks failed:\n  ${text}")
endif()
