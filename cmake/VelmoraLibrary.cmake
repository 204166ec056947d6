# velmora_library(<name> SOURCES <files...> [DEPS <targets...>])
# One static library per folder. Its sources are listed by hand, so that a file dropped into a
# folder never joins a layer without someone deciding it should.
function(velmora_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
