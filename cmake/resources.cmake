# Version resource and application manifest for the Windows programs.
#
# The version is the host's own (HOST_VERSION in src/nmhost/reply.hpp), so
# what the host tells the extension and what Explorer shows never differ.

set(NM_VERSION_SOURCE ${CMAKE_SOURCE_DIR}/src/nmhost/reply.hpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${NM_VERSION_SOURCE})
file(STRINGS ${NM_VERSION_SOURCE} NM_VERSION_LINE REGEX "HOST_VERSION = \"")
if(NOT NM_VERSION_LINE MATCHES "\"([0-9]+)\\.([0-9]+)\\.([0-9]+)\"")
  message(FATAL_ERROR "no HOST_VERSION \"X.Y.Z\" in ${NM_VERSION_SOURCE}")
endif()
set(NM_VERSION ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3})
set(NM_VERSION_COMMAS ${CMAKE_MATCH_1},${CMAKE_MATCH_2},${CMAKE_MATCH_3})

# nm_add_resources(<target> <file description>)
function(nm_add_resources target description)
  set(NM_RC_NAME ${target})
  set(NM_RC_DESCRIPTION ${description})
  set(NM_RC_VERSION ${NM_VERSION})
  set(NM_RC_VERSION_COMMAS ${NM_VERSION_COMMAS})
  set(NM_RC_MANIFEST ${CMAKE_SOURCE_DIR}/res/app.manifest)
  set(rc ${CMAKE_BINARY_DIR}/res/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres does not see the manifest as a dependency of the .rc file.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${NM_RC_MANIFEST})
endfunction()
