// The NTFS pieces on hand-built bytes: update sequences, run lists,
// attributes and attribute lists, file names, index walks and LZNT1.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "ondisk/ntfs_attr.h"
#include "platform/image/ntfs_compress.h"
#include "platform/image/ntfs_filename.h"
#include "platform/image/ntfs_index.h"
#include "ondisk/ntfs_layout.h"
#include "ondisk/ntfs_record.h"
#include "ondisk/ntfs_runlist.h"
#include "tests/support/ntfs_builder.h"

namespace vt {
namespace test {
namespace {

using ntfs::CRun;

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int v : list) out.push_back(static_cast<uint8_t>(v));
  return out;
}

// Writes a 1, 2 or 4-byte little-endian field.
void Poke(uint8_t* p, uint32_t v, int width) {
  if (width == 1) {
    *p = static_cast<uint8_t>(v);
  } else if (width == 2) {
    PutLe16(p, static_cast<uint16_t>(v));
  } else {
    PutLe32(p, v);
  }
}

// A record whose one resident value straddles the first stride end.
std::vector<uint8_t> RecordWithValue(std::vector<uint8_t>* value) {
  value->resize(700);
  for (size_t i = 0; i < value->size(); ++i) (*value)[i] = static_cast<uint8_t>(i * 7 + 1);
  return BuildRecord(40, 1, 0, {ResidentAttr(0x80, u"", *value)});
}

TEST(NtfsFixups, ApplyRestoresTheStrideEndsAndRejectsTornOrMisplacedArrays) {
  std::vector<uint8_t> value;
  std::vector<uint8_t> record = RecordWithValue(&value);
  ASSERT_EQ(0x01, record[0x1FE]);  // the check value sits at the stride end
  std::vector<uint8_t> fixed = record;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(fixed.data(), fixed.size()));
  ntfs::CRecordHeader header;
  std::vector<ntfs::CAttribute> attrs;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseRecordHeader(fixed.data(), fixed.size(), &header));
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseAttributes(fixed.data(), fixed.size(), header, &attrs));
  ASSERT_EQ(1u, attrs.size());
  EXPECT_EQ(0,
            std::memcmp(value.data(), ntfs::ResidentValue(fixed.data(), attrs[0]), value.size()));

  std::vector<uint8_t> torn = record;
  torn[0x3FE] ^= 0x40;  // the second stride was written with another check value
  std::vector<uint8_t> before = torn;
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ApplyFixups(torn.data(), torn.size()));
  EXPECT_EQ(before, torn);

  auto refused = [&](size_t at, uint16_t v) {
    std::vector<uint8_t> bad = record;
    PutLe16(bad.data() + at, v);
    return ntfs::ApplyFixups(bad.data(), bad.size()) == ERROR_FILE_CORRUPT;
  };
  EXPECT_TRUE(refused(6, 2));       // count does not match 1024 bytes
  EXPECT_TRUE(refused(6, 0));       // no check value at all
  EXPECT_TRUE(refused(4, 0x31));    // odd offset
  EXPECT_TRUE(refused(4, 0x1FA));   // array would reach the protected word
  EXPECT_TRUE(refused(4, 0xFFFE));  // far outside
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ApplyFixups(record.data(), 1000));  // not whole strides
}

TEST(NtfsFixups, PrepareThenApplyRoundTripsAndNeverUsesZeroOrAllOnes) {
  std::mt19937 rng(7);
  for (uint16_t start : {uint16_t{1}, uint16_t{0x1234}, uint16_t{0xFFFE}, uint16_t{0xFFFF}}) {
    std::vector<uint8_t> data(2048);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    PutLe16(data.data() + 4, 0x28);
    PutLe16(data.data() + 6, 5);
    PutLe16(data.data() + 0x28, start);
    const std::vector<uint8_t> original = data;
    ASSERT_EQ(ERROR_SUCCESS, ntfs::PrepareFixups(data.data(), data.size()));
    const uint16_t check = Le16(data.data() + 0x28);
    EXPECT_NE(0, check);
    EXPECT_NE(0xFFFF, check);
    EXPECT_NE(start, check);
    for (size_t i = 1; i <= 4; ++i) EXPECT_EQ(check, Le16(data.data() + 512 * i - 2));
    ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(data.data(), data.size()));
    for (size_t i = 0; i < data.size(); ++i) {
      if (i < 0x28 || i >= 0x28 + 10) {
        ASSERT_EQ(original[i], data[i]) << i;
      }
    }
  }
}

TEST(NtfsRecordHeader, RefusesWhatWouldSendTheAttributeWalkOutside) {
  std::vector<uint8_t> value;
  std::vector<uint8_t> record = RecordWithValue(&value);
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(record.data(), record.size()));
  ntfs::CRecordHeader h;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseRecordHeader(record.data(), record.size(), &h));
  EXPECT_TRUE(h.InUse());
  auto refused = [&](size_t at, uint32_t v, int width) {
    std::vector<uint8_t> bad = record;
    Poke(bad.data() + at, v, width);
    return ntfs::ParseRecordHeader(bad.data(), bad.size(), &h) == ERROR_FILE_CORRUPT;
  };
  EXPECT_TRUE(refused(0, 0x44414142, 4));  // "BAAD"
  EXPECT_TRUE(refused(0x18, 1025, 4));     // bytes in use past the record
  EXPECT_TRUE(refused(0x1C, 2048, 4));     // allocated size is not this record's
  EXPECT_TRUE(refused(0x14, 0x20, 2));     // attributes inside the update sequence array
  EXPECT_TRUE(refused(0x14, 0x3C, 2));     // misaligned
  EXPECT_TRUE(refused(0x14, 0x400, 2));    // past the bytes in use
}

TEST(NtfsRunList, DecodesTheDocumentedExampleSparseRunsAndNegativeOffsets) {
  std::vector<CRun> runs;
  auto example = Bytes({0x21, 0x18, 0x34, 0x56, 0x11, 0x10, 0xF0, 0x00});
  size_t used = 0;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::DecodeRunList(example.data(), example.size(), 0, &runs, &used));
  EXPECT_EQ(8u, used);
  ASSERT_EQ(2u, runs.size());
  EXPECT_EQ((CRun{0, 0x5634, 0x18}), runs[0]);
  EXPECT_EQ((CRun{0x18, 0x5624, 0x10}), runs[1]);

  // A sparse run does not move the LCN base; the next offset counts from
  // the last real run. Decoding starts at the segment's first VCN.
  runs.clear();
  auto sparse = Bytes({0x11, 0x04, 0x64, 0x01, 0x20, 0x11, 0x02, 0x08, 0x00});
  ASSERT_EQ(ERROR_SUCCESS, ntfs::DecodeRunList(sparse.data(), sparse.size(), 100, &runs));
  ASSERT_EQ(3u, runs.size());
  EXPECT_EQ((CRun{100, 100, 4}), runs[0]);
  EXPECT_TRUE(runs[1].IsSparse());
  EXPECT_EQ((CRun{104, kFsSparseLcn, 0x20}), runs[1]);
  EXPECT_EQ((CRun{136, 108, 2}), runs[2]);
}

TEST(NtfsRunList, RefusesDamagedListsAndLeavesTheRunsAlone) {
  const std::vector<std::vector<uint8_t>> damaged = {
      Bytes({0x21, 0x18, 0x34}),                          // offset runs past the end
      Bytes({0x21, 0x18, 0x34, 0x56}),                    // no terminator
      Bytes({0x11, 0x00, 0x05, 0x00}),                    // zero length
      Bytes({0x11, 0x80, 0x05, 0x00}),                    // negative length
      Bytes({0x11, 0x04, 0xFB, 0x00}),                    // first LCN below zero
      Bytes({0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0x00}),  // later LCN below zero
      Bytes({0x19, 0x04, 0x10, 0x00}),                    // nine bytes of offset
  };
  for (size_t i = 0; i < damaged.size(); ++i) {
    std::vector<CRun> runs = {{0, 1, 1}};
    EXPECT_EQ(ERROR_FILE_CORRUPT,
              ntfs::DecodeRunList(damaged[i].data(), damaged[i].size(), 0, &runs))
        << i;
    EXPECT_EQ(1u, runs.size()) << i;
  }
  // VCNs that would wrap around.
  std::vector<CRun> runs;
  auto wrap = Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00});
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::DecodeRunList(wrap.data(), wrap.size(), 5, &runs));
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::DecodeRunList(wrap.data(), 0, 0, &runs));
}

TEST(NtfsRunList, EncodesInTheFewestBytesAndRoundTrips) {
  std::vector<uint8_t> bytes;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::EncodeRunList({{0, 0x5634, 0x18}, {0x18, 0x5624, 0x10}}, &bytes));
  EXPECT_EQ(Bytes({0x21, 0x18, 0x34, 0x56, 0x11, 0x10, 0xF0, 0x00}), bytes);
  // A length of 0x80 needs a second byte to stay positive; so does an
  // offset of +0x80.
  ASSERT_EQ(ERROR_SUCCESS, ntfs::EncodeRunList({{0, 0x80, 0x80}}, &bytes));
  EXPECT_EQ(Bytes({0x22, 0x80, 0x00, 0x80, 0x00, 0x00}), bytes);

  std::mt19937_64 rng(42);
  for (int round = 0; round < 200; ++round) {
    std::vector<CRun> runs;
    uint64_t vcn = rng() % 1000;
    const int n = 1 + static_cast<int>(rng() % 40);
    for (int i = 0; i < n; ++i) {
      CRun r;
      r.m_nVcn = vcn;
      r.m_nCount = 1 + (rng() >> (rng() % 54 + 10));
      r.m_nLcn = rng() % 5 == 0 ? kFsSparseLcn : rng() >> (rng() % 62 + 2);
      runs.push_back(r);
      vcn += r.m_nCount;
    }
    ASSERT_EQ(ERROR_SUCCESS, ntfs::EncodeRunList(runs, &bytes));
    std::vector<CRun> back;
    ASSERT_EQ(ERROR_SUCCESS,
              ntfs::DecodeRunList(bytes.data(), bytes.size(), runs[0].m_nVcn, &back));
    ASSERT_EQ(runs, back) << round;
    // The builder's fixed-width list decodes to the same runs.
    std::vector<CBRun> fixed;
    for (const CRun& r : runs) {
      fixed.push_back({r.IsSparse() ? kBHole : static_cast<int64_t>(r.m_nLcn), r.m_nCount});
    }
    std::vector<uint8_t> wide = BuildRunList(fixed);
    back.clear();
    ASSERT_EQ(ERROR_SUCCESS, ntfs::DecodeRunList(wide.data(), wide.size(), runs[0].m_nVcn, &back));
    ASSERT_EQ(runs, back);
  }
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ntfs::EncodeRunList({{0, 5, 2}, {3, 9, 1}}, &bytes));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ntfs::EncodeRunList({{0, 5, 0}}, &bytes));
}

TEST(NtfsRunList, MergesRunsThatContinueEachOther) {
  std::vector<CRun> runs = {{0, 10, 2},           {2, 12, 3},  {5, kFsSparseLcn, 1},
                            {6, kFsSparseLcn, 4}, {10, 40, 1}, {11, 50, 1}};
  ntfs::MergeRuns(&runs);
  EXPECT_EQ((std::vector<CRun>{{0, 10, 5}, {5, kFsSparseLcn, 5}, {10, 40, 1}, {11, 50, 1}}), runs);
}

class NtfsAttributes : public ::testing::Test {
 protected:
  void SetUp() override {
    auto runList = BuildRunList({{100, 4}, {kBHole, 2}});
    m_record = BuildRecord(41, 1, 0,
                           {ResidentAttr(0x10, u"", StandardInfoValue(0x21)),
                            ResidentAttr(0x30, u"", FileNameValue(5, u"name.txt", 1, false, 9000)),
                            NonResidentAttr(0x80, u"", 0, 5, runList, 6 * 4096, 20000, 16000),
                            ResidentAttr(0x80, u"stream", Bytes({1, 2, 3}))});
    ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(m_record.data(), m_record.size()));
    ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseRecordHeader(m_record.data(), m_record.size(), &m_header));
  }
  DWORD Parse(const std::vector<uint8_t>& record) {
    return ntfs::ParseAttributes(record.data(), record.size(), m_header, &m_attrs);
  }
  // The offset of the n-th attribute.
  size_t At(size_t n) {
    EXPECT_EQ(ERROR_SUCCESS, Parse(m_record));
    return m_attrs[n].m_nOffset;
  }
  std::vector<uint8_t> m_record;
  ntfs::CRecordHeader m_header;
  std::vector<ntfs::CAttribute> m_attrs;
};

TEST_F(NtfsAttributes, WalksHeadersNamesValuesAndRunLists) {
  ASSERT_EQ(ERROR_SUCCESS, Parse(m_record));
  ASSERT_EQ(4u, m_attrs.size());
  EXPECT_EQ(0x10u, m_attrs[0].m_nType);
  const ntfs::CAttribute& data = m_attrs[2];
  EXPECT_TRUE(data.m_bNonResident);
  EXPECT_EQ(5, data.m_nLastVcn);
  EXPECT_EQ(6u, data.VcnCount());
  EXPECT_EQ(20000u, data.m_nDataSize);
  EXPECT_EQ(16000u, data.m_nInitializedSize);
  size_t size = 0;
  const uint8_t* pairs = ntfs::RunListBytes(m_record.data(), data, &size);
  std::vector<CRun> runs;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::DecodeRunList(pairs, size, 0, &runs));
  EXPECT_EQ(2u, runs.size());
  EXPECT_EQ(u"stream", m_attrs[3].m_name);
  EXPECT_EQ(3u, m_attrs[3].m_nValueLength);
  ntfs::CFileName name;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseFileName(ntfs::ResidentValue(m_record.data(), m_attrs[1]),
                                               m_attrs[1].m_nValueLength, &name));
  EXPECT_EQ(u"name.txt", name.m_name);
  EXPECT_EQ(9000u, name.m_nDataSize);
  EXPECT_EQ(5u, ntfs::RecordNumberOf(name.m_nParent));
}

TEST_F(NtfsAttributes, DamagedLengthsNamesAndValuesFailTheRecord) {
  struct Damage {
    size_t attr;
    size_t field;
    uint32_t value;
    int width;
  };
  const Damage cases[] = {
      {0, 0x04, 0, 4},           // zero length would loop forever
      {0, 0x04, 0x4C, 4},        // not a multiple of 8
      {0, 0x04, 0x10, 4},        // shorter than a resident header
      {3, 0x04, 0x400, 4},       // past the bytes in use
      {3, 0x0A, 0x3F0, 2},       // name outside the attribute
      {3, 0x09, 0xFF, 1},        // name longer than the attribute
      {1, 0x10, 0x1000, 4},      // value longer than the attribute
      {1, 0x14, 0x3F0, 2},       // value outside
      {2, 0x20, 0x3F0, 2},       // run list outside
      {2, 0x20, 0x10, 2},        // run list inside the header
      {2, 0x10, 10, 4},          // first VCN after the last
      {2, 0x22, 40, 1},          // compression unit beyond any NTFS
      {2, 0x30, 0x10000000, 4},  // data size above the allocated size
  };
  for (const Damage& d : cases) {
    std::vector<uint8_t> bad = m_record;
    uint8_t* p = bad.data() + At(d.attr) + d.field;
    Poke(p, d.value, d.width);
    EXPECT_EQ(ERROR_FILE_CORRUPT, Parse(bad)) << d.attr << "/" << d.field;
  }
  // No end marker inside the bytes in use.
  std::vector<uint8_t> bad = m_record;
  PutLe32(bad.data() + m_header.m_nBytesInUse - 8, 0x100);
  EXPECT_EQ(ERROR_FILE_CORRUPT, Parse(bad));
}

TEST(NtfsAttributeList, DecodesEntriesAndRefusesEntriesThatDoNotFit) {
  std::vector<uint8_t> list(0x40, 0);
  auto entry = [&](size_t at, uint32_t type, uint64_t vcn, uint64_t ref,
                   const std::u16string& name) {
    PutLe32(list.data() + at, type);
    PutLe16(list.data() + at + 4, 0x20);
    list[at + 6] = static_cast<uint8_t>(name.size());
    list[at + 7] = 0x1A;
    for (int i = 0; i < 8; ++i) list[at + 8 + i] = static_cast<uint8_t>(vcn >> (8 * i));
    for (int i = 0; i < 8; ++i) list[at + 16 + i] = static_cast<uint8_t>(ref >> (8 * i));
    for (size_t i = 0; i < name.size(); ++i) PutLe16(list.data() + at + 0x1A + 2 * i, name[i]);
  };
  entry(0, 0x80, 0, 41, u"");
  entry(0x20, 0x80, 300, 0x0002000000000099ULL, u"ab");
  std::vector<ntfs::CListEntry> entries;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseAttributeList(list.data(), list.size(), &entries));
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(300u, entries[1].m_nFirstVcn);
  EXPECT_EQ(0x99u, ntfs::RecordNumberOf(entries[1].m_nReference));
  EXPECT_EQ(2u, ntfs::SequenceOf(entries[1].m_nReference));
  EXPECT_EQ(u"ab", entries[1].m_name);

  std::vector<uint8_t> bad = list;
  PutLe16(bad.data() + 0x24, 0);  // zero length would never advance
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseAttributeList(bad.data(), bad.size(), &entries));
  bad = list;
  PutLe16(bad.data() + 0x24, 0x28);  // past the end
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseAttributeList(bad.data(), bad.size(), &entries));
  bad = list;
  bad[0x26] = 4;  // name past its entry
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseAttributeList(bad.data(), bad.size(), &entries));
}

TEST(NtfsFileName, RefusesShortValuesAndNamesPastTheValue) {
  std::vector<uint8_t> v = FileNameValue(5, u"abc", 3, true, 0, 0x06);
  ntfs::CFileName name;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ParseFileName(v.data(), v.size(), &name));
  EXPECT_TRUE(name.IsDirectory());
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | 0x06), name.Win32Attributes());
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseFileName(v.data(), v.size() - 1, &name));
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseFileName(v.data(), 0x41, &name));
  v[0x40] = 0;
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::ParseFileName(v.data(), v.size(), &name));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), ntfs::Win32AttributesOf(0, false));
}

// An index over names "n00".."nNN" with chosen blocks.
class NtfsIndexWalk : public ::testing::Test {
 protected:
  std::vector<uint8_t> Entry(int i, int64_t sub = -1) {
    char16_t name[] = {u'n', static_cast<char16_t>(u'0' + i / 10),
                       static_cast<char16_t>(u'0' + i % 10), 0};
    return IndexEntry(100 + i, FileNameValue(5, name, 1, false, i), false, sub);
  }
  DWORD Walk(const std::vector<uint8_t>& root, std::vector<int>* seen, size_t stopAfter = 1000) {
    seen->clear();
    auto reader = [&](uint64_t vcn, std::vector<uint8_t>* block) -> DWORD {
      ++m_nReads;
      auto it = m_blocks.find(vcn);
      if (it == m_blocks.end()) return ERROR_FILE_CORRUPT;
      *block = it->second;
      return ERROR_SUCCESS;
    };
    auto visit = [&](const ntfs::CIndexEntry& e) {
      seen->push_back(static_cast<int>(e.m_nReference - 100));
      return seen->size() < stopAfter;
    };
    return ntfs::WalkIndex(root.data(), root.size(), kBBlockBytes, reader, visit);
  }
  std::map<uint64_t, std::vector<uint8_t>> m_blocks;
  int m_nReads = 0;
};

TEST_F(NtfsIndexWalk, VisitsEntriesInKeyOrderThroughEveryLevel) {
  // root: [n03 -> block 0 (n00..n02)] [n07 -> block 1 (n04, n05 -> block 2 (n06)... )] [end ->
  // block 3]
  m_blocks[0] = IndexBlock(0, {Entry(0), Entry(1), Entry(2), IndexEntry(0, {}, true)}, false);
  m_blocks[2] = IndexBlock(2, {Entry(5), IndexEntry(0, {}, true)}, false);
  m_blocks[1] = IndexBlock(1, {Entry(4), IndexEntry(0, {}, true, 2)}, false);
  m_blocks[6] = IndexBlock(6, {Entry(8), Entry(9), IndexEntry(0, {}, true)}, false);
  auto root =
      IndexRootValue({Entry(3, 0), Entry(6, 1), Entry(7, 6), IndexEntry(0, {}, true)}, true);
  std::vector<int> seen;
  ASSERT_EQ(ERROR_SUCCESS, Walk(root, &seen));
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 8, 9, 7}), seen);
  // A visitor that has what it wants ends the walk.
  ASSERT_EQ(ERROR_SUCCESS, Walk(root, &seen, 2));
  EXPECT_EQ(2u, seen.size());
}

TEST_F(NtfsIndexWalk, LoopsDamagedBlocksAndMissingEndsAreReportedNotFollowed) {
  auto root = IndexRootValue({Entry(1, 0), IndexEntry(0, {}, true)}, true);
  std::vector<int> seen;
  // A block whose end entry points back at itself.
  m_blocks[0] = IndexBlock(0, {Entry(0), IndexEntry(0, {}, true, 0)}, true);
  EXPECT_EQ(ERROR_FILE_CORRUPT, Walk(root, &seen));
  EXPECT_LE(m_nReads, 2);
  // Two blocks pointing at each other.
  m_blocks[0] = IndexBlock(0, {Entry(0), IndexEntry(0, {}, true, 1)}, true);
  m_blocks[1] = IndexBlock(1, {IndexEntry(0, {}, true, 0)}, true);
  EXPECT_EQ(ERROR_FILE_CORRUPT, Walk(root, &seen));
  // A chain deeper than any real index.
  for (uint64_t v = 0; v < 100; ++v) {
    m_blocks[v] = IndexBlock(v, {IndexEntry(0, {}, true, static_cast<int64_t>(v + 1))}, true);
  }
  EXPECT_EQ(ERROR_FILE_CORRUPT, Walk(root, &seen));

  m_blocks.clear();
  auto good = IndexBlock(0, {Entry(0), IndexEntry(0, {}, true)}, false);
  auto broken = [&](size_t at, uint32_t v, int width) {
    std::vector<uint8_t> b = good;
    Poke(b.data() + at, v, width);
    m_blocks[0] = b;
    return Walk(root, &seen) == ERROR_FILE_CORRUPT;
  };
  EXPECT_TRUE(broken(0, 0x44414142, 4));  // not "INDX"
  EXPECT_TRUE(broken(0x10, 7, 4));        // claims another VCN
  EXPECT_TRUE(broken(0x3FE, 0x1234, 2));  // torn stride
  EXPECT_TRUE(broken(0x18, 4, 4));        // entries inside the node header
  EXPECT_TRUE(broken(0x1C, 0x2000, 4));   // entries past the block
  EXPECT_TRUE(broken(0x48, 0x0F00, 2));   // entry longer than the node
  EXPECT_TRUE(broken(0x48, 4, 2));        // entry shorter than its header
  EXPECT_TRUE(broken(0x4A, 0x300, 2));    // key longer than its entry
  // The last entry lost its mark: the walk runs out of node instead.
  const size_t second = 0x40 + Le16(good.data() + 0x48);
  std::vector<uint8_t> fixed = good;
  ASSERT_EQ(ERROR_SUCCESS, ntfs::ApplyFixups(fixed.data(), fixed.size()));
  fixed[second + 0x0C] = 0;
  m_blocks[0] = fixed;
  ProtectStrides(&m_blocks[0], 0x28, 9);
  EXPECT_EQ(ERROR_FILE_CORRUPT, Walk(root, &seen));
  // A sub-node pointer to a block the allocation does not have.
  m_blocks.clear();
  EXPECT_EQ(ERROR_FILE_CORRUPT, Walk(root, &seen));
  // A root too short for its own header.
  EXPECT_EQ(ERROR_FILE_CORRUPT,
            Walk(std::vector<uint8_t>(root.begin(), root.begin() + 0x18), &seen));
}

TEST(NtfsLznt1, ExpandsLiteralsBackReferencesAndStoredChunks) {
  // "abc" then a copy of 6 bytes from 3 back; a stored chunk follows.
  std::vector<uint8_t> in = Bytes({0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x03, 0x20});
  std::vector<uint8_t> stored(4096);
  for (size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<uint8_t>(i % 251);
  in.push_back(0xFF);
  in.push_back(0x3F);
  in.insert(in.end(), stored.begin(), stored.end());
  std::vector<uint8_t> out(16384, 0xEE);
  ASSERT_EQ(ERROR_SUCCESS, ntfs::DecompressLznt1(in.data(), in.size(), out.data(), out.size()));
  EXPECT_EQ(0, std::memcmp(out.data(), "abcabcabc", 9));
  for (size_t i = 9; i < 4096; ++i) ASSERT_EQ(0, out[i]) << i;  // the short chunk's tail
  EXPECT_EQ(0, std::memcmp(out.data() + 4096, stored.data(), stored.size()));
  for (size_t i = 8192; i < out.size(); ++i) ASSERT_EQ(0, out[i]);  // after the last chunk

  std::vector<uint8_t> before = Bytes({0x03, 0xB0, 0x01, 0x00, 0x10});  // copy before the start
  EXPECT_EQ(ERROR_FILE_CORRUPT,
            ntfs::DecompressLznt1(before.data(), before.size(), out.data(), 4096));
  std::vector<uint8_t> past = Bytes({0x20, 0xB0, 0x00, 'a'});  // chunk longer than the input
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::DecompressLznt1(past.data(), past.size(), out.data(), 4096));
  // A copy that would run past the chunk's 4096 bytes.
  std::vector<uint8_t> over = Bytes({0x03, 0xB0, 0x02, 'a', 0xFF, 0x0F});
  EXPECT_EQ(ERROR_FILE_CORRUPT, ntfs::DecompressLznt1(over.data(), over.size(), out.data(), 16));
}

}  // namespace
}  // namespace test
}  // namespace vt
