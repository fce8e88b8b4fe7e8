# The extension is tested as Explorer meets it: a copy of the built DLL with
# a recorder program beside it as "Vantrel.exe". These tests run in a Wine
# prefix apart from the others, one such program at a time, since they
# change its registry.
target_link_libraries(${target} PRIVATE ole32 uuid shell32 user32 advapi32)
add_executable(vt_shell_recorder ${dir}/recorder/recorder.cpp)
add_dependencies(${target} VantrelShell vt_shell_recorder)
target_compile_definitions(${target} PRIVATE
  VT_SHELL_DLL="$<TARGET_FILE:VantrelShell>"
  VT_RECORDER_EXE="$<TARGET_FILE:vt_shell_recorder>")
set(wine_prefix wine-standalone)
