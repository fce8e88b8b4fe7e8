target_link_libraries(${target} PRIVATE vt_map vt_report)
# An independent inflater checks the PNG writer's compressed data where one
# is at hand.
find_package(ZLIB QUIET)
if(ZLIB_FOUND)
  target_link_libraries(${target} PRIVATE ZLIB::ZLIB)
  target_compile_definitions(${target} PRIVATE VT_HAVE_ZLIB=1)
endif()
