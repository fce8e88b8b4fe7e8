# The hand-built images of the image tests, and the images made by mkfs.fat
# and mtools (the fixture of tests/image) for the crash tests against the
# tools.
target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/image/fat_builder.cpp)
if(VT_MKFS_FAT AND VT_MCOPY)
  cmake_language(DEFER CALL set_tests_properties image_move PROPERTIES
                 FIXTURES_REQUIRED vt_fat_images)
endif()
