# The Windows zip: the console program, the tools that make sense there and a README.
#   cmake --build DIR --target windows-zip   writes DIR/platora-VERSION-windows.zip
set(package platora-${PROJECT_VERSION}-windows)
set(staging ${CMAKE_BINARY_DIR}/${package})
add_custom_target(windows-zip
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${staging}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${staging}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:platora> $<TARGET_FILE:platora-decode>
    $<TARGET_FILE:platora-table> $<TARGET_FILE:platora-gen> ${staging}
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/scripts/windows/README-windows.txt ${staging}/README.txt
  COMMAND ${CMAKE_COMMAND} -E tar cf ${package}.zip --format=zip ${package}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  DEPENDS platora platora-decode platora-table platora-gen
  COMMENT "Writing ${package}.zip")
