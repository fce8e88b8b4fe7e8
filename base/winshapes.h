// Windows-shaped names for code that must build on every system.
//
// Under MinGW this is the real <windows.h>; elsewhere it defines the same
// names with the same sizes, values and layouts, so the engine is written
// once against the Windows interfaces and the image backend answers in the
// same shapes. CMake chooses which: base/win32/ or base/posix/ is on the
// include path, each with its winshapes_host.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winshapes_host.h"

// The published layouts, whichever header supplied them.
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER");
static_assert(sizeof(FILETIME) == 8, "FILETIME");
static_assert(sizeof(WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA");
static_assert(sizeof(STARTING_LCN_INPUT_BUFFER) == 8, "STARTING_LCN_INPUT_BUFFER");
static_assert(sizeof(STARTING_VCN_INPUT_BUFFER) == 8, "STARTING_VCN_INPUT_BUFFER");
static_assert(sizeof(VOLUME_BITMAP_BUFFER) == 24, "VOLUME_BITMAP_BUFFER");
static_assert(offsetof(VOLUME_BITMAP_BUFFER, Buffer) == 16, "VOLUME_BITMAP_BUFFER.Buffer");
static_assert(sizeof(RETRIEVAL_POINTERS_BUFFER) == 32, "RETRIEVAL_POINTERS_BUFFER");
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn) == 8,
              "RETRIEVAL_POINTERS_BUFFER.StartingVcn");
static_assert(offsetof(RETRIEVAL_POINTERS_BUFFER, Extents) == 16,
              "RETRIEVAL_POINTERS_BUFFER.Extents");
static_assert(sizeof(NTFS_VOLUME_DATA_BUFFER) == 96, "NTFS_VOLUME_DATA_BUFFER");
static_assert(offsetof(NTFS_VOLUME_DATA_BUFFER, MftValidDataLength) == 56,
              "NTFS_VOLUME_DATA_BUFFER.MftValidDataLength");
static_assert(sizeof(NTFS_FILE_RECORD_INPUT_BUFFER) == 8, "NTFS_FILE_RECORD_INPUT_BUFFER");
static_assert(offsetof(NTFS_FILE_RECORD_OUTPUT_BUFFER, FileRecordBuffer) == 12,
              "NTFS_FILE_RECORD_OUTPUT_BUFFER.FileRecordBuffer");
static_assert(sizeof(MOVE_FILE_DATA) == 32, "MOVE_FILE_DATA");
static_assert(sizeof(DISK_GEOMETRY) == 24, "DISK_GEOMETRY");
