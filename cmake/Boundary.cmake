# The panel side reaches the device only through media/, and the layer never reaches back
# into the panel. The build holds both: a target includes from a folder of links to the
# source folders it may use, never from the top of the tree, so an include of a folder it
# may not use is not found.

# kurimo_sees(TARGET PUBLIC|PRIVATE FOLDER...): TARGET (and, when PUBLIC, whatever links it)
# includes "FOLDER/..." headers.
function(kurimo_sees target scope)
  foreach(folder ${ARGN})
    string(MAKE_C_IDENTIFIER ${folder} name)
    set(view ${CMAKE_BINARY_DIR}/include-views/${name})
    if(NOT EXISTS ${view}/${folder})
      get_filename_component(parent ${view}/${folder} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${view})
  endforeach()
endfunction()

# kurimo_boundary_probe(NAME SIDE ALLOWED FORBIDDEN): a test that compiles a source of SIDE
# which includes ALLOWED, then FORBIDDEN. It passes only when the compiler stops at
# FORBIDDEN because the file is not found there.
function(kurimo_boundary_probe name side allowed forbidden)
  add_library(${name} OBJECT EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/cmake/BoundaryProbe.cpp)
  set_target_properties(${name} PROPERTIES AUTOMOC OFF)
  target_link_libraries(${name} PRIVATE ${side})
  target_compile_definitions(${name} PRIVATE
    KURIMO_PROBE_ALLOWED="${allowed}" KURIMO_PROBE_FORBIDDEN="${forbidden}")
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${name})
  string(REGEX REPLACE "[.]" "[.]" pattern "${forbidden}: No such file")
  # One build of the tree at a time, also under ctest -j.
  set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "${pattern}"
    RESOURCE_LOCK kurimo_build_tree)
endfunction()

# kurimo_sees_files(TARGET PUBLIC|PRIVATE VIEW FILE...): TARGET (and, when PUBLIC, whatever
# links it) includes these files of a folder, and nothing else of it.
function(kurimo_sees_files target scope view_name)
  set(view ${CMAKE_BINARY_DIR}/include-views/${view_name})
  foreach(file ${ARGN})
    if(NOT EXISTS ${view}/${file})
      get_filename_component(parent ${view}/${file} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${file} ${view}/${file} SYMBOLIC)
    endif()
  endforeach()
  target_include_directories(${target} ${scope} ${view})
endfunction()
