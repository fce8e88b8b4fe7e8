# The fault-injecting block device of the FAT move tests.
target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/image_move/fault_device.cpp)
