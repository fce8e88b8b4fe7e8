// The filter of the drive pass as one value: its kind (the engine's
// DefragFilter) and the parameters CDefrag::DefragDrive takes, with the rule
// by which a file passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/defrag.h"

namespace vt {

// Why a file is or is not taken. The pass records a line for a size or a
// degree, none for a type.
enum FilterVerdict {
  FILTER_TAKE,
  FILTER_SKIP_SIZE,     // "File ignored. Size equals (%s) %s "
  FILTER_SKIP_PERCENT,  // "File ignored. Percent fragmented equals (%.02f%%) %s "
  FILTER_SKIP_TYPE,
};

class CDefragFilter {
 public:
  static CDefragFilter All() { return CDefragFilter(); }
  static CDefragFilter Size(uint32_t maxBytes) {
    CDefragFilter f;
    f.m_kind = BySize;
    f.m_nSizeThreshold = maxBytes;
    return f;
  }
  static CDefragFilter Percent(double minDegree) {
    CDefragFilter f;
    f.m_kind = ByPercent;
    f.m_dPercentThreshold = minDegree;
    return f;
  }
  static CDefragFilter Types(DefragFilter kind, std::vector<std::string> extensions) {
    CDefragFilter f;
    f.m_kind = kind == ExcludeTypes ? ExcludeTypes : OnlyTypes;
    f.m_types = std::move(extensions);
    return f;
  }

  // name: the file's name (a path is cut to its last part); size in bytes;
  // degree: the fragmentation degree in percent.
  FilterVerdict Check(const std::string& name, uint64_t size, double degree) const {
    switch (m_kind) {
      case BySize:
        // A threshold is below 4 GiB, so any larger size is over it.
        return size > m_nSizeThreshold ? FILTER_SKIP_SIZE : FILTER_TAKE;
      case ByPercent:
        return degree < m_dPercentThreshold ? FILTER_SKIP_PERCENT : FILTER_TAKE;
      case ExcludeTypes:
      case OnlyTypes: {
        std::string extension;
        if (!Extension(name, &extension)) return FILTER_TAKE;
        bool listed = false;
        for (const auto& entry : m_types) {
          if (SameText(entry, extension)) {
            listed = true;
            break;
          }
        }
        if (m_kind == ExcludeTypes) return listed ? FILTER_SKIP_TYPE : FILTER_TAKE;
        return listed ? FILTER_TAKE : FILTER_SKIP_TYPE;
      }
      case AllFiles:
      default:
        return FILTER_TAKE;
    }
  }
  bool Passes(const std::string& name, uint64_t size, double degree) const {
    return Check(name, size, degree) == FILTER_TAKE;
  }

  // The text from the last '.' of the name on, dot included; false when the
  // name has no dot.
  static bool Extension(const std::string& name, std::string* extension) {
    const size_t slash = name.find_last_of("\\/");
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start) return false;
    *extension = name.substr(dot);
    return true;
  }

  static bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      char x = a[i];
      char y = b[i];
      if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
      if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
      if (x != y) return false;
    }
    return true;
  }

  DefragFilter m_kind = AllFiles;
  uint32_t m_nSizeThreshold = 0;     // BySize: largest size taken, in bytes
  double m_dPercentThreshold = 0;    // ByPercent: smallest degree taken
  std::vector<std::string> m_types;  // ExcludeTypes, OnlyTypes: ".ext" entries
  // Files no free run holds get room made for them (CDefrag::MakeRoomFor).
  bool m_bMakeRoom = true;
};

}  // namespace vt
