# The library's logic for the stand-in service, and the built DLL for the
# tests under Wine. These tests run in a Wine prefix apart from the others,
# one such program at a time, since they change its task store.
target_sources(${target} PRIVATE ${dir}/ts2_double.h ${dir}/ts2_stubs.h)
target_link_libraries(${target} PRIVATE vt_tasklib)
add_dependencies(${target} Brakwater)
target_compile_definitions(${target} PRIVATE VT_BRAKWATER_DLL="$<TARGET_FILE:Brakwater>")
set(wine_prefix wine-standalone)
