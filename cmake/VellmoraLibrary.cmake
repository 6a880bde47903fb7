# vl_folder_library(<name> <sources...> LINKS <libs...>): a static library of a source folder;
# an interface library while the folder has no sources yet, so the tree always configures.
function(vl_folder_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_LINKS})
  endif()
endfunction()
