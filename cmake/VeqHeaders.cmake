# The build keeps the layers: a library's headers are reachable, as
# "<folder>/<Name>.h", only by the library itself and by the targets that link
# it. No target gets the repository root as an include folder (test code
# aside), so an engine file that includes "serial/BCPort.h" fails to build,
# as does one that includes a Qt header: the engine links neither.
#
# veq_headers(<target>) gives <target> an include folder of its own that holds
# one entry, a link named after the target's source folder (relative to the
# repository root) that points at that folder.
function(veq_headers target)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  get_filename_component(parent ${root}/${folder} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
  target_include_directories(${target} PUBLIC ${root})
endfunction()
