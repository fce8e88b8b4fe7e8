# The NTFS tools' view of an image (mounts, ntfsfix, ntfsinfo) from the move tests.
target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/image_ntfs_move/ntfs_move_support.cpp
                                 ${CMAKE_SOURCE_DIR}/tests/image_move/fault_device.cpp)
target_link_libraries(${target} PRIVATE vt_app vt_report)
