# old_export_headers(<target> <folder>)
# Makes the target's headers reachable as "<folder>/Name.h" for the target and for what links it,
# and for nothing else: every library gets an include root of its own in the build tree that
# holds one link to its source folder, instead of all of them sharing the source root.
function(old_export_headers target folder)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
