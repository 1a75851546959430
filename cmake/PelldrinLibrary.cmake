# pelldrin_headers(TARGET PREFIX): TARGET's headers are included as "PREFIX/Name.h" by its
# own sources and by what links it, and by nothing else. Its include folder holds one link,
# named PREFIX, to the folder of the CMakeLists.txt that calls this, so a library that
# does not link TARGET cannot reach its headers: an include against the layering fails
# to compile.
include_guard(GLOBAL)

function(pelldrin_headers target prefix)
  set(dir ${CMAKE_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${dir}/${prefix} SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${dir})
  else()
    target_include_directories(${target} PUBLIC ${dir})
  endif()
endfunction()
