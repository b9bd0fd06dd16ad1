# Version resource and application manifest for the Windows programs.
#
# The version is the project's (project() in the top CMakeLists.txt), the same
# the host tells the extension, so what Explorer shows never differs from it.

# nm_add_resources(<target> <file description>)
function(nm_add_resources target description)
  set(NM_RC_NAME ${target})
  set(NM_RC_DESCRIPTION ${description})
  set(NM_RC_VERSION ${PROJECT_VERSION})
  set(NM_RC_VERSION_COMMAS ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH})
  set(NM_RC_MANIFEST ${CMAKE_SOURCE_DIR}/res/app.manifest)
  set(rc ${CMAKE_BINARY_DIR}/res/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/res/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres does not see the manifest as a dependency of the .rc file.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${NM_RC_MANIFEST})
endfunction()
