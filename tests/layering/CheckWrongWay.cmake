# Builds each NAME=HEADER target of TARGETS in BUILD_DIR; each must fail because HEADER
# cannot be found.
foreach(entry IN LISTS TARGETS)
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 target)
  list(GET parts 1 header)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(status EQUAL 0)
    message(FATAL_ERROR "${target} compiled: it includes ${header}, which it must not reach")
  endif()
  string(FIND "${output}" "${header}: No such file" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${target} failed for another reason than ${header}:\n${output}")
  endif()
  message(STATUS "${target}: ${header} is out of its reach")
endforeach()
