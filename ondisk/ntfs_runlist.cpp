#include "ondisk/ntfs_runlist.h"

namespace vt {
namespace ntfs {

namespace {

constexpr int64_t kMaxLcn = INT64_MAX;

// Reads an n-byte little-endian number, sign-extended from its top byte.
int64_t ReadSigned(const uint8_t* p, unsigned n) {
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (n < 8 && (p[n - 1] & 0x80)) v |= ~static_cast<uint64_t>(0) << (8 * n);
  return static_cast<int64_t>(v);
}

// Bytes a signed number needs so that its top byte carries its sign.
unsigned SignedBytes(int64_t v) {
  unsigned n = 1;
  while (n < 8) {
    int64_t limit = static_cast<int64_t>(1) << (8 * n - 1);
    if (v >= -limit && v < limit) break;
    ++n;
  }
  return n;
}

void PutSigned(std::vector<uint8_t>* out, int64_t v, unsigned n) {
  auto u = static_cast<uint64_t>(v);
  for (unsigned i = 0; i < n; ++i) out->push_back(static_cast<uint8_t>(u >> (8 * i)));
}

}  // namespace

DWORD DecodeRunList(const uint8_t* data, size_t size, uint64_t firstVcn, std::vector<CRun>* runs,
                    size_t* used) {
  // Runs go straight to the caller's list (its storage is reused from one
  // attribute to the next) and are taken back when the list turns out
  // damaged.
  const size_t kept = runs->size();
  const auto corrupt = [&] {
    runs->resize(kept);
    return static_cast<DWORD>(ERROR_FILE_CORRUPT);
  };
  size_t pos = 0;
  uint64_t vcn = firstVcn;
  int64_t lcn = 0;
  while (true) {
    if (pos >= size) return corrupt();  // no terminator
    const uint8_t header = data[pos++];
    if (header == 0) break;
    const unsigned lengthBytes = header & 0x0F;
    const unsigned offsetBytes = header >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return corrupt();
    if (size - pos < static_cast<size_t>(lengthBytes) + offsetBytes) return corrupt();
    const int64_t length = ReadSigned(data + pos, lengthBytes);
    pos += lengthBytes;
    if (length <= 0) return corrupt();
    CRun run;
    run.m_nVcn = vcn;
    run.m_nCount = static_cast<uint64_t>(length);
    if (offsetBytes == 0) {
      run.m_nLcn = kFsSparseLcn;
    } else {
      const int64_t delta = ReadSigned(data + pos, offsetBytes);
      pos += offsetBytes;
      if (__builtin_add_overflow(lcn, delta, &lcn) || lcn < 0) return corrupt();
      // The whole run must be addressable.
      if (static_cast<uint64_t>(lcn) > static_cast<uint64_t>(kMaxLcn) - run.m_nCount) {
        return corrupt();
      }
      run.m_nLcn = static_cast<uint64_t>(lcn);
    }
    if (__builtin_add_overflow(vcn, run.m_nCount, &vcn) || vcn > static_cast<uint64_t>(kMaxLcn)) {
      return corrupt();
    }
    runs->push_back(run);
  }
  if (used) *used = pos;
  return ERROR_SUCCESS;
}

DWORD EncodeRunList(const std::vector<CRun>& runs, std::vector<uint8_t>* out) {
  std::vector<uint8_t> bytes;
  int64_t previous = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    const CRun& run = runs[i];
    if (run.m_nCount == 0 || run.m_nCount > static_cast<uint64_t>(kMaxLcn)) {
      return ERROR_INVALID_PARAMETER;
    }
    if (i > 0 && run.m_nVcn != runs[i - 1].EndVcn()) return ERROR_INVALID_PARAMETER;
    const auto length = static_cast<int64_t>(run.m_nCount);
    const unsigned lengthBytes = SignedBytes(length);
    unsigned offsetBytes = 0;
    int64_t delta = 0;
    if (!run.IsSparse()) {
      if (run.m_nLcn > static_cast<uint64_t>(kMaxLcn)) return ERROR_INVALID_PARAMETER;
      delta = static_cast<int64_t>(run.m_nLcn) - previous;
      offsetBytes = SignedBytes(delta);
      previous = static_cast<int64_t>(run.m_nLcn);
    }
    bytes.push_back(static_cast<uint8_t>(lengthBytes | (offsetBytes << 4)));
    PutSigned(&bytes, length, lengthBytes);
    if (offsetBytes) PutSigned(&bytes, delta, offsetBytes);
  }
  bytes.push_back(0);
  *out = std::move(bytes);
  return ERROR_SUCCESS;
}

const CRun* FindRun(const std::vector<CRun>& runs, uint64_t vcn) {
  for (const CRun& run : runs) {
    if (vcn >= run.m_nVcn && vcn - run.m_nVcn < run.m_nCount) return &run;
  }
  return nullptr;
}

void MergeRuns(std::vector<CRun>* runs) {
  std::vector<CRun> merged;
  for (const CRun& run : *runs) {
    if (!merged.empty()) {
      CRun& last = merged.back();
      const bool follows =
          last.EndVcn() == run.m_nVcn &&
          (last.IsSparse() ? run.IsSparse()
                           : (!run.IsSparse() && last.m_nLcn + last.m_nCount == run.m_nLcn));
      if (follows) {
        last.m_nCount += run.m_nCount;
        continue;
      }
    }
    merged.push_back(run);
  }
  *runs = std::move(merged);
}

}  // namespace ntfs
}  // namespace vt
