# Images made by mkfs.fat and mtools for the agreement tests, built once per
# test run by the Linux side (also for the Windows builds run under Wine).
find_program(VT_MKFS_FAT NAMES mkfs.fat PATHS /usr/sbin /sbin)
find_program(VT_MCOPY NAMES mcopy)
if(VT_MKFS_FAT AND VT_MCOPY)
  add_test(NAME image_fat_images
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tools/make_fat_images.sh
                   ${CMAKE_BINARY_DIR}/fat-images)
  set_tests_properties(image_fat_images PROPERTIES FIXTURES_SETUP vt_fat_images TIMEOUT 600
                       SKIP_RETURN_CODE 77)
  # The image test itself is added after this file is read.
  cmake_language(DEFER CALL set_tests_properties image PROPERTIES
                 FIXTURES_REQUIRED vt_fat_images)
endif()
