# Lets the users of `target` include its headers as "<name>/file.h", and no
# other folder of src/: the target's include folder holds one link, to the
# folder that declares it.
function(pondara_expose_headers target name)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${name} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
