# Adds every subdirectory of the current one that has a CMakeLists.txt, in name order,
# so each part of the tree keeps its build to itself.
function(platora_add_parts)
  file(GLOB parts LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT parts)
  foreach(part IN LISTS parts)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${part} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${part}/CMakeLists.txt)
      add_subdirectory(${part})
    endif()
  endforeach()
endfunction()
