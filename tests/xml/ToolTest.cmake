# Runs zelm-xml on sample files: cmake -DTOOL=<zelm-xml> -DDATA=<dir> -P ToolTest.cmake
# Checks the exact bytes on stdout and the exit codes 0 (written), 1 (parse
# failure, empty tree) and 2 (unreadable file).

function(run_tool file expected_code)
  execute_process(COMMAND ${TOOL} ${file}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL expected_code)
    message(FATAL_ERROR "zelm-xml ${file}: exit ${code}, expected ${expected_code}; stderr: ${err}")
  endif()
  set(tool_out "${out}" PARENT_SCOPE)
  set(tool_err "${err}" PARENT_SCOPE)
endfunction()

run_tool(${DATA}/settings.xml 0)
file(READ ${DATA}/settings.expected expected)
if(NOT tool_out STREQUAL expected)
  message(FATAL_ERROR "zelm-xml settings.xml wrote:\n${tool_out}\nexpected:\n${expected}")
endif()
if(NOT tool_err STREQUAL "")
  message(FATAL_ERROR "zelm-xml settings.xml wrote to stderr: ${tool_err}")
endif()

run_tool(${DATA}/mismatch.xml 1)
if(NOT tool_err MATCHES "EFI_INVALID_PARAMETER" OR NOT tool_out STREQUAL "")
  message(FATAL_ERROR "zelm-xml mismatch.xml: stdout '${tool_out}', stderr '${tool_err}'")
endif()

run_tool(${DATA}/empty-tree.xml 1)
if(NOT tool_err MATCHES "empty tree")
  message(FATAL_ERROR "zelm-xml empty-tree.xml: stderr '${tool_err}'")
endif()

run_tool(${DATA}/does-not-exist.xml 2)
run_tool(${DATA} 2)
