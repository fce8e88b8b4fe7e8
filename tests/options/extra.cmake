# The options pages and the scheduled run over hand-built FAT images.
target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/image/fat_builder.cpp)
target_link_libraries(${target} PRIVATE vt_app vt_report)
