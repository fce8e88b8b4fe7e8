# The scheduled task over Wine's Task Scheduler 1.0, and its library path
# with Brakwater.dll absent, with stand-in libraries and with the real one.
# These tests run in a Wine prefix apart from the others, one such program
# at a time, since they change its task store.
target_link_libraries(${target} PRIVATE vt_schedule vt_tasklib)
foreach(helper recording_library other_library)
  add_library(vt_${helper} SHARED ${dir}/helpers/${helper}.cpp ${dir}/helpers/${helper}.def)
  set_target_properties(vt_${helper} PROPERTIES PREFIX "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(vt_${helper} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
  add_dependencies(${target} vt_${helper})
endforeach()
add_dependencies(${target} Brakwater)
target_compile_definitions(${target} PRIVATE
  VT_BRAKWATER_DLL="$<TARGET_FILE:Brakwater>"
  VT_RECORDING_LIBRARY="$<TARGET_FILE:vt_recording_library>"
  VT_OTHER_LIBRARY="$<TARGET_FILE:vt_other_library>")
set(wine_prefix wine-standalone)
