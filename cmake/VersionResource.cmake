# tarven_version_resource(TARGET DESCRIPTION): gives a Windows program the version resource
# that Explorer shows (product name, version, description). Elsewhere it does nothing.
if(WIN32)
  enable_language(RC)
endif()

function(tarven_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(TARVEN_RC_NAME ${target})
  set(TARVEN_RC_DESCRIPTION ${description})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
