# Drive page and operations over hand-built FAT images in memory.
target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/image/fat_builder.cpp)
target_link_libraries(${target} PRIVATE vt_app vt_report)
