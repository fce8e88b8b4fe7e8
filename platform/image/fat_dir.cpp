#include "platform/image/fat_dir.h"

#include <cstdio>
#include <cstring>

#include "base/codepage.h"
#include "base/le.h"
#include "ondisk/fat_dir_layout.h"

namespace vt {

namespace {

using namespace fatdir;

bool IsPathUnsafe(uint32_t c) {
  return c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' ||
         c == '<' || c == '>' || c == '|';
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool IsLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Long-name characters collected so far for the entry that follows them.
class CLongNameCollector {
 public:
  // Entries dropped since the last reset belong to no entry.
  void Reset() {
    if (m_bActive) m_bOrphans = true;
    m_bActive = false;
  }
  // Whether long-name entries were dropped (orphaned, out of sequence or
  // with the wrong checksum) since the last call.
  bool TakeOrphans() {
    bool orphans = m_bOrphans;
    m_bOrphans = false;
    return orphans;
  }
  void Add(const uint8_t* e) {
    uint8_t order = e[kLfnOrder];
    int seq = order & 0x1F;
    if (e[kLfnType] != 0 || Le16(e + kLfnClusterLow) != 0 || seq == 0 || seq > kLfnMaxEntries) {
      Reset();
      m_bOrphans = true;
      return;
    }
    if (order & kLfnLast) {
      m_bActive = true;
      m_nExpected = seq;
      m_nChecksum = e[kLfnChecksum];
      m_text.assign(static_cast<size_t>(seq) * kLfnCharsPerEntry, 0xFFFF);
    } else if (!m_bActive || seq != m_nExpected || e[kLfnChecksum] != m_nChecksum) {
      Reset();
      m_bOrphans = true;
      return;
    }
    size_t base = static_cast<size_t>(seq - 1) * kLfnCharsPerEntry;
    for (int i = 0; i < kLfnCharsPerEntry; ++i) {
      m_text[base + i] = Le16(e + kLfnCharOffsets[i]);
    }
    m_nExpected = seq - 1;
  }
  // The long name that belongs to a short entry, if the sequence is whole
  // and its checksum matches; empty otherwise.
  std::u16string Take(const uint8_t* shortEntry) {
    std::u16string name;
    if (m_bActive && m_nExpected == 0 && FatShortNameChecksum(shortEntry) == m_nChecksum) {
      for (char16_t c : m_text) {
        if (c == 0) break;
        name.push_back(c);
      }
      m_bActive = false;
    }
    Reset();
    return name;
  }

 private:
  bool m_bActive = false;
  bool m_bOrphans = false;
  int m_nExpected = 0;
  uint8_t m_nChecksum = 0;
  std::u16string m_text;
};

std::string ShortPart(const uint8_t* bytes, size_t len, bool lower) {
  size_t end = len;
  while (end > 0 && bytes[end - 1] == ' ') --end;
  std::string out;
  for (size_t i = 0; i < end; ++i) {
    uint8_t b = bytes[i];
    if (i == 0 && b == kEntryE5Escape) b = kEntryFree;
    char16_t u = Cp437ToUnicode(b);
    // A byte that would split or escape a path still gets a name it can be
    // opened by.
    char32_t c = IsPathUnsafe(u) ? U'_' : static_cast<char32_t>(u);
    AppendUtf8(out, lower ? UnicodeLower(c) : c);
  }
  return out;
}

bool IsDotEntry(const uint8_t* e, const char* dots) {
  char name[11];
  std::memset(name, ' ', sizeof(name));
  std::memcpy(name, dots, std::strlen(dots));
  return std::memcmp(e, name, 11) == 0;
}

}  // namespace

uint8_t FatShortNameChecksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) {
    sum = static_cast<uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + name11[i]);
  }
  return sum;
}

FILETIME FatTimeToFileTime(uint16_t date, uint16_t time, uint8_t centiseconds) {
  FILETIME ft = {0, 0};
  unsigned year = 1980 + (date >> 9);
  unsigned month = (date >> 5) & 0x0F;
  unsigned day = date & 0x1F;
  unsigned hour = time >> 11;
  unsigned minute = (time >> 5) & 0x3F;
  unsigned second = (time & 0x1F) * 2;
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59 ||
      centiseconds > 199) {
    return ft;
  }
  unsigned monthDays = kDays[month - 1] + ((month == 2 && IsLeap(year)) ? 1 : 0);
  if (day > monthDays) return ft;
  // Seconds from 1601-01-01 to 1970-01-01.
  const uint64_t kEpochDelta = 11644473600ULL;
  uint64_t seconds = static_cast<uint64_t>(DaysFromCivil(year, month, day)) * 86400 + hour * 3600 +
                     minute * 60 + second + kEpochDelta;
  uint64_t ticks = seconds * 10000000ULL + static_cast<uint64_t>(centiseconds) * 100000ULL;
  ft.dwLowDateTime = static_cast<DWORD>(ticks);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

void DecodeFatFolder(const uint8_t* data, size_t size, const CFatFolderSource& source,
                     EFatType type, std::vector<CFsNode>* nodes, std::string* label,
                     std::string* problem) {
  CLongNameCollector lfn;
  bool labelSeen = false;
  auto report = [&](size_t pos, const std::string& text) {
    if (!problem || !problem->empty()) return;
    *problem = "entry " + std::to_string(pos / kFatDirEntrySize) + " " + text;
  };
  for (size_t pos = 0; pos + kFatDirEntrySize <= size; pos += kFatDirEntrySize) {
    const uint8_t* e = data + pos;
    if (lfn.TakeOrphans()) report(pos, "follows long-name entries that belong to no entry");
    if (e[kName] == kEntryEnd) break;
    if (e[kName] == kEntryFree) {
      lfn.Reset();
      continue;
    }
    uint8_t attr = e[kAttr];
    if ((attr & 0x3F) == kFatAttrLongName) {
      lfn.Add(e);
      continue;
    }
    if ((attr & kFatAttrVolume) && (attr & kFatAttrDirectory)) {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "0x%02X", attr);
      report(pos, std::string("has the attribute byte ") + hex +
                      " (a volume label and a folder at once)");
    } else if ((attr & kFatAttrDirectory) && Le32(e + kSize) != 0) {
      report(pos, "is a folder with a size of " + std::to_string(Le32(e + kSize)) + " bytes");
    }
    if (attr & kFatAttrVolume) {
      lfn.Reset();
      if (source.m_bRoot && !labelSeen) {
        labelSeen = true;
        if (label) *label = ShortPart(e, 11, false);
      }
      continue;
    }
    bool dot = IsDotEntry(e, ".");
    bool dotdot = IsDotEntry(e, "..");
    std::u16string longName = lfn.Take(e);
    if ((dot || dotdot) && source.m_bRoot) continue;

    CFsNode node;
    size_t seg = source.m_nSegmentBytes ? pos / source.m_nSegmentBytes : 0;
    if (seg >= source.m_segmentOffsets.size()) break;
    node.m_nId = source.m_segmentOffsets[seg] + pos % source.m_nSegmentBytes;
    uint32_t cluster = Le16(e + kClusterLow);
    if (type == EFatType::kFat32) cluster |= static_cast<uint32_t>(Le16(e + kClusterHigh)) << 16;
    node.m_nRef = cluster;
    node.m_bDirectory = (attr & kFatAttrDirectory) != 0;
    node.m_dwAttributes =
        attr & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE);
    if (node.m_dwAttributes == 0) node.m_dwAttributes = FILE_ATTRIBUTE_NORMAL;
    node.m_nSize = node.m_bDirectory ? 0 : Le32(e + kSize);
    node.m_ftCreation =
        FatTimeToFileTime(Le16(e + kCreateDate), Le16(e + kCreateTime), e[kCreateCentis]);
    node.m_ftAccess = FatTimeToFileTime(Le16(e + kAccessDate), 0, 0);
    node.m_ftWrite = FatTimeToFileTime(Le16(e + kWriteDate), Le16(e + kWriteTime), 0);

    if (dot || dotdot) {
      node.m_strName = dot ? "." : "..";
      node.m_strShortName = node.m_strName;
      nodes->push_back(node);
      continue;
    }
    std::string base = ShortPart(e, 8, false);
    std::string ext = ShortPart(e + 8, 3, false);
    if (base.empty()) continue;  // no name to show or open it by
    node.m_strShortName = ext.empty() ? base : base + "." + ext;
    std::string shown = ShortPart(e, 8, (e[kCaseFlags] & kCaseLowerBase) != 0);
    std::string shownExt = ShortPart(e + 8, 3, (e[kCaseFlags] & kCaseLowerExt) != 0);
    node.m_strName = shownExt.empty() ? shown : shown + "." + shownExt;

    bool longOk = !longName.empty();
    for (char16_t c : longName) {
      if (IsPathUnsafe(c)) longOk = false;
    }
    std::string longAnsi = longOk ? Utf16ToUtf8(longName) : std::string();
    if (longAnsi == "." || longAnsi == "..") longOk = false;
    if (longOk) {
      node.m_strName = longAnsi;
      if (longAnsi != node.m_strShortName) node.m_strAltName = node.m_strShortName;
    }
    nodes->push_back(node);
  }
  lfn.Reset();
  if (lfn.TakeOrphans()) report(size, "is missing after long-name entries");
}

}  // namespace vt
