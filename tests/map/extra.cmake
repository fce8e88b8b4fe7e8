target_link_libraries(${target} PRIVATE vt_map vt_report)
