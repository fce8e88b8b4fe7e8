target_link_libraries(${target} PRIVATE vt_app)
