# vt_embed_manifest(target): gives a Windows executable the application
# manifest that makes UTF-8 its ANSI code page (GetACP() = 65001, the A-style
# calls take and return UTF-8) and makes it long-path aware. Elsewhere it does
# nothing, so callers need no platform test of their own.
set(VT_MANIFEST_DIR ${CMAKE_CURRENT_LIST_DIR}/manifest)

function(vt_embed_manifest target)
  if(NOT WIN32)
    return()
  endif()
  # The manifest carries the project's version.
  set(VT_MANIFEST_FILE ${CMAKE_BINARY_DIR}/manifest/vantrel.manifest)
  set(rc ${CMAKE_BINARY_DIR}/manifest/vantrel_manifest.rc)
  configure_file(${VT_MANIFEST_DIR}/vantrel.manifest.in ${VT_MANIFEST_FILE} @ONLY)
  configure_file(${VT_MANIFEST_DIR}/manifest.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  # windres does not see the manifest as a dependency of the script.
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${VT_MANIFEST_FILE})
endfunction()
