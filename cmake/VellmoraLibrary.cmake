# Every library is included as "<folder>/<File>.h". A library does not publish the whole source
# root: it publishes an include root of its own, <build>/include/<folder>, holding one forwarding
# header per header of its folder (never of its subfolders). A library therefore sees its own
# headers and those of the libraries it links, and a file that includes a header of a higher layer
# fails to compile, as scripts/check-layers says.

# vl_folder_headers(<target>): gives <target> the calling folder's include root as its public one.
function(vl_folder_headers target)
  file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" root_name ${folder})
  set(root ${CMAKE_BINARY_DIR}/include/${root_name})
  get_property(done GLOBAL PROPERTY VELLMORA_HEADERS_${root_name})
  if(NOT done)
    set_property(GLOBAL PROPERTY VELLMORA_HEADERS_${root_name} TRUE)
    file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    set(wanted "")
    foreach(header ${headers})
      get_filename_component(name ${header} NAME)
      list(APPEND wanted ${root}/${folder}/${name})
      # Written only when it changes, so a new configure rebuilds nothing.
      file(CONFIGURE OUTPUT ${root}/${folder}/${name} CONTENT "#pragma once\n#include \"${header}\"\n")
    endforeach()
    # A header removed from the folder leaves the root too.
    file(GLOB present ${root}/${folder}/*.h)
    foreach(file ${present})
      if(NOT file IN_LIST wanted)
        file(REMOVE ${file})
      endif()
    endforeach()
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# One implementation per platform: a host file's name ends in the service it is built over.
# Windows builds leave out the Linux ones (...Posix, ...Linux, ...Glib, ...OpenSsl, ...X11, ...Env,
# ...Iconv), Linux builds the ...Win32 ones. Files without such an ending serve both.
if(WIN32)
  set(VELLMORA_OTHER_PLATFORM_FILES "(Posix|Linux|Glib|OpenSsl|X11|Env|Iconv)\\.cpp$")
else()
  set(VELLMORA_OTHER_PLATFORM_FILES "Win32\\.cpp$")
endif()

# vl_folder_library(<name> LINKS <libs...> [EXCLUDE <files...>]): the static library of the calling
# source folder, built from that folder's own *.cpp files (never another folder's) of this platform,
# less the EXCLUDE ones (files the build picks between, added by the folder itself).
function(vl_folder_library name)
  cmake_parse_arguments(ARG "" "" "LINKS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "${VELLMORA_OTHER_PLATFORM_FILES}")
  foreach(file ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  add_library(${name} STATIC ${sources})
  vl_folder_headers(${name})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()
