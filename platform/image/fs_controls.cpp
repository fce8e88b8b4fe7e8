#include "platform/image/fs_controls.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace vt {

namespace {

int64_t ReadI64(const void* p) {
  int64_t v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}

void WriteI64(void* base, size_t offset, int64_t v) {
  std::memcpy(static_cast<uint8_t*>(base) + offset, &v, sizeof(v));
}

constexpr size_t kBitmapHeader = offsetof(VOLUME_BITMAP_BUFFER, Buffer);
constexpr size_t kPointersHeader = offsetof(RETRIEVAL_POINTERS_BUFFER, Extents);
constexpr size_t kExtentSize = sizeof(LARGE_INTEGER) * 2;

}  // namespace

DWORD AnswerVolumeBitmap(CFsVolume& fs, const void* in, DWORD inSize, void* out, DWORD outSize,
                         DWORD* returned) {
  *returned = 0;
  // Windows wants room for the header and one byte of bits (the whole
  // published structure), and a full request.
  if (!in || inSize < sizeof(STARTING_LCN_INPUT_BUFFER) || !out ||
      outSize < sizeof(VOLUME_BITMAP_BUFFER)) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  int64_t requested = ReadI64(in);
  const uint64_t total = fs.TotalClusters();
  if (requested < 0 || static_cast<uint64_t>(requested) >= total) return ERROR_INVALID_PARAMETER;
  // The reply starts on a byte of the bitmap.
  const uint64_t start = static_cast<uint64_t>(requested) & ~static_cast<uint64_t>(7);
  const uint64_t clusters = total - start;
  const uint64_t needed = (clusters + 7) / 8;
  const uint64_t room = outSize - kBitmapHeader;
  const uint64_t bytes = std::min(needed, room);
  auto* bits = static_cast<uint8_t*>(out) + kBitmapHeader;
  std::memset(bits, 0, static_cast<size_t>(bytes));
  DWORD err = fs.GetBitmap(start, std::min(clusters, bytes * 8), bits);
  if (err != ERROR_SUCCESS) return err;
  WriteI64(out, offsetof(VOLUME_BITMAP_BUFFER, StartingLcn), static_cast<int64_t>(start));
  WriteI64(out, offsetof(VOLUME_BITMAP_BUFFER, BitmapSize), static_cast<int64_t>(clusters));
  *returned = static_cast<DWORD>(kBitmapHeader + bytes);
  return bytes < needed ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

DWORD AnswerRetrievalPointers(CFsVolume& fs, const CFsNode& node, const void* in, DWORD inSize,
                              void* out, DWORD outSize, DWORD* returned) {
  *returned = 0;
  if (!in || inSize < sizeof(STARTING_VCN_INPUT_BUFFER) || !out ||
      outSize < sizeof(RETRIEVAL_POINTERS_BUFFER)) {
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::vector<CFsRun> runs;
  DWORD err = fs.GetRuns(node, &runs);
  if (err != ERROR_SUCCESS) return err;
  const int64_t requested = ReadI64(in);
  uint64_t allocated = runs.empty() ? 0 : runs.back().m_nVcn + runs.back().m_nCount;
  if (requested < 0 || static_cast<uint64_t>(requested) >= allocated) return ERROR_HANDLE_EOF;
  const uint64_t vcn = static_cast<uint64_t>(requested);
  // The first extent starts at the requested cluster, inside its run.
  auto first = std::upper_bound(runs.begin(), runs.end(), vcn,
                                [](uint64_t v, const CFsRun& r) { return v < r.m_nVcn; }) -
               1;
  const size_t capacity = (outSize - kPointersHeader) / kExtentSize;
  const size_t remaining = static_cast<size_t>(runs.end() - first);
  const size_t count = std::min(capacity, remaining);
  uint64_t startLcnShift = vcn - first->m_nVcn;
  std::memset(out, 0, kPointersHeader);
  for (size_t i = 0; i < count; ++i) {
    const CFsRun& run = first[static_cast<ptrdiff_t>(i)];
    size_t at = kPointersHeader + i * kExtentSize;
    WriteI64(out, at, static_cast<int64_t>(run.m_nVcn + run.m_nCount));
    // A sparse run stays sparse wherever inside it the reply starts.
    const uint64_t lcn =
        run.m_nLcn == kFsSparseLcn ? run.m_nLcn : run.m_nLcn + (i == 0 ? startLcnShift : 0);
    WriteI64(out, at + sizeof(LARGE_INTEGER), static_cast<int64_t>(lcn));
  }
  DWORD extentCount = static_cast<DWORD>(count);
  std::memcpy(static_cast<uint8_t*>(out) + offsetof(RETRIEVAL_POINTERS_BUFFER, ExtentCount),
              &extentCount, sizeof(extentCount));
  WriteI64(out, offsetof(RETRIEVAL_POINTERS_BUFFER, StartingVcn), static_cast<int64_t>(vcn));
  *returned = static_cast<DWORD>(kPointersHeader + count * kExtentSize);
  return count < remaining ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

}  // namespace vt
