# vl_folder_library(<name> LINKS <libs...> [EXCLUDE <files...>]): the static library of the calling
# source folder, built from that folder's own *.cpp files (never another folder's), less the
# EXCLUDE ones (files the build picks between, added by the folder itself). Every library is
# included as "<folder>/<File>.h" from the source root, which it publishes to its users.
function(vl_folder_library name)
  cmake_parse_arguments(ARG "" "" "LINKS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(file ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()
