# The extension is tested as Explorer meets it: a copy of the built DLL with
# a recorder program beside it as "Vantrel.exe". These tests get a Wine
# prefix of their own, since they change its registry.
target_link_libraries(${target} PRIVATE ole32 uuid shell32 user32 advapi32)
add_executable(vt_shell_recorder ${dir}/recorder/recorder.cpp)
add_dependencies(${target} VantrelShell vt_shell_recorder)
target_compile_definitions(${target} PRIVATE
  VT_SHELL_DLL="$<TARGET_FILE:VantrelShell>"
  VT_RECORDER_EXE="$<TARGET_FILE:vt_shell_recorder>")
set_property(TARGET ${target} PROPERTY CROSSCOMPILING_EMULATOR
  /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-standalone ${CMAKE_CROSSCOMPILING_EMULATOR})
