// The volume operations over NTFS images made by mkntfs and ntfs-3g
// (tests/tools/make_ntfs_images.sh), against what the NTFS tools recorded
// in each image's manifest: the folder walk finds every folder and file
// with its size, every file's bytes read through its reported extents (and
// through ReadFile) hash as the mount read them, the extents of sparse,
// compressed and fragmented files are ntfsinfo's runs, the file-record
// control returns the MFT's records, and the bitmap's free count is
// ntfsinfo's.
//
// The images come from the folder named by VT_NTFS_IMAGES (for Windows
// builds under Wine: images made natively beforehand), or are made once
// into the build tree, which needs root and a working ntfs-3g mount; the
// tests are skipped when neither is possible.
#include <gtest/gtest.h>

#include <cctype>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "base/codepage.h"
#include "platform/image/volume_set.h"
#include "tests/image_ntfs/sha256.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vt {
namespace test {
namespace {

struct CRunText {
  int64_t vcn, lcn, count;
  bool operator==(const CRunText& o) const {
    return vcn == o.vcn && lcn == o.lcn && count == o.count;
  }
};

std::ostream& operator<<(std::ostream& out, const CRunText& r) {
  return out << r.vcn << ":" << r.lcn << ":" << r.count;
}

struct CManifestFile {
  std::string path;  // UTF-8, "/"-separated
  uint64_t size = 0;
  std::string sha;
  std::string kind;
};

struct CManifest {
  std::map<std::string, std::string> volume;
  std::vector<CRunText> mft;
  std::vector<std::string> dirs;
  std::vector<CManifestFile> files;
  std::map<std::string, std::vector<CRunText>> runs;
  std::map<std::string, int> attrlist;
  std::map<std::string, std::string> dosnames;
};

std::vector<std::string> Split(const std::string& line, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(line);
  std::string part;
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

bool LoadManifest(const std::string& path, CManifest* m) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.empty()) continue;
    if (f[0] == "volume" && f.size() == 3) m->volume[f[1]] = f[2];
    if (f[0] == "mftrun" && f.size() == 4) {
      m->mft.push_back({std::stoll(f[1]), std::stoll(f[2]), std::stoll(f[3])});
    }
    if (f[0] == "dir" && f.size() == 2) m->dirs.push_back(f[1]);
    if (f[0] == "file" && f.size() == 5) m->files.push_back({f[1], std::stoull(f[2]), f[3], f[4]});
    if (f[0] == "attrlist" && f.size() == 3) m->attrlist[f[1]] = std::stoi(f[2]);
    if (f[0] == "dosname" && f.size() == 3) m->dosnames[f[1]] = f[2];
    if (f[0] == "runs" && f.size() == 3) {
      std::vector<CRunText>& runs = m->runs[f[1]];
      for (const std::string& r : Split(f[2], ' ')) {
        std::vector<std::string> v = Split(r, ':');
        if (v.size() == 3) runs.push_back({std::stoll(v[0]), std::stoll(v[1]), std::stoll(v[2])});
      }
    }
  }
  return !m->files.empty();
}

std::string Sha(const std::string& data) {
  CSha256 h;
  h.Add(data.data(), data.size());
  return h.HexDigest();
}

#ifndef _WIN32
std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
#endif

// Where the images are, making them when needed; empty with a reason when
// there are none.
std::string ImageDir(std::string* why) {
  static std::string dir;
  static std::string reason;
  static bool done = false;
  if (done) {
    *why = reason;
    return dir;
  }
  done = true;
  if (const char* given = std::getenv("VT_NTFS_IMAGES")) {
    dir = given;
#ifdef _WIN32
    if (!dir.empty() && dir[0] == '/') dir = "Z:" + dir;  // a host path under Wine
#endif
    return dir;
  }
#ifdef _WIN32
  reason = "set VT_NTFS_IMAGES to images made by tests/tools/make_ntfs_images.sh";
  *why = reason;
  return std::string();
#else
  const char* source = std::getenv("VT_SOURCE_DIR");
  const char* binary = std::getenv("VT_BINARY_DIR");
  std::string script = std::string(source ? source : ".") + "/tests/tools/make_ntfs_images.sh";
  std::string out = binary ? std::string(binary) + "/ntfs-images"
                           : "/tmp/vantrel-ntfs-images-" + std::to_string(::getuid());
  const std::string body = ReadText(script);
  if (body.empty()) {
    reason = "no " + script;
    *why = reason;
    return std::string();
  }
  std::string stamp = ReadText(out + "/stamp");
  while (!stamp.empty() && (stamp.back() == '\n' || stamp.back() == ' ')) stamp.pop_back();
  if (stamp != Sha(body)) {
    const std::string command = "bash '" + script + "' '" + out + "' >'" + out + ".log' 2>&1";
    std::system(("mkdir -p '" + out + "'").c_str());
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0) {
      reason = (code == 77 ? "cannot make NTFS images here: " : "make_ntfs_images.sh failed: ") +
               ReadText(out + ".log");
      *why = reason;
      return std::string();
    }
  }
  dir = out;
  return dir;
#endif
}

class NtfsImage : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    std::string why;
    const std::string dir = ImageDir(&why);
    if (dir.empty()) GTEST_SKIP() << why;
    m_strImage = dir + "/" + GetParam() + ".img";
    ASSERT_TRUE(LoadManifest(dir + "/" + GetParam() + ".manifest", &m_manifest)) << dir;
    std::string message;
    ASSERT_EQ(ERROR_SUCCESS, m_set.Mount('V', m_strImage, true, &message)) << message;
    m_hVolume = m_set.CreateFileA("\\\\.\\V:", GENERIC_READ, 3, OPEN_EXISTING, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, m_hVolume);
    m_nCluster = std::stoull(m_manifest.volume["cluster_bytes"]);
  }
  void TearDown() override {
    if (m_hVolume != INVALID_HANDLE_VALUE) m_set.CloseHandle(m_hVolume);
  }

  // The path that opens a manifest path: the same UTF-8 names.
  std::string OpenPath(const std::string& utf8) {
    std::string out = "\\\\?\\V:";
    for (const std::string& part : Split(utf8, '/')) out += "\\" + part;
    return out;
  }
  bool ReadVolume(uint64_t offset, void* buffer, DWORD size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    return m_set.SetFilePointerEx(m_hVolume, at, nullptr, FILE_BEGIN) &&
           m_set.ReadFile(m_hVolume, buffer, size, &read) && read == size;
  }
  DWORD Extents(HANDLE h, std::vector<CRunText>* out) {
    out->clear();
    int64_t vcn = 0;
    std::vector<uint8_t> reply(4096);
    while (true) {
      DWORD returned = 0;
      BOOL ok = m_set.DeviceIoControl(h, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, 8, reply.data(),
                                      static_cast<DWORD>(reply.size()), &returned);
      DWORD err = ok ? ERROR_SUCCESS : m_set.GetLastError();
      if (err != ERROR_SUCCESS && err != ERROR_MORE_DATA) return err;
      DWORD count = 0;
      int64_t prev = 0;
      std::memcpy(&count, reply.data(), 4);
      std::memcpy(&prev, reply.data() + 8, 8);
      for (DWORD i = 0; i < count; ++i) {
        int64_t next, lcn;
        std::memcpy(&next, reply.data() + 16 + 16 * i, 8);
        std::memcpy(&lcn, reply.data() + 24 + 16 * i, 8);
        out->push_back({prev, lcn, next - prev});
        prev = next;
      }
      if (err == ERROR_SUCCESS) return ERROR_SUCCESS;
      vcn = prev;
    }
  }
  // The bytes of a file as its extents place them, cut to its size.
  std::string ReadThroughExtents(const std::vector<CRunText>& extents, uint64_t size) {
    CSha256 unused;
    std::string data;
    std::vector<char> buffer;
    for (const CRunText& e : extents) {
      if (data.size() >= size) break;
      const uint64_t bytes = std::min<uint64_t>(e.count * m_nCluster, size - data.size());
      if (e.lcn < 0) {
        data.append(static_cast<size_t>(bytes), '\0');
        continue;
      }
      // Whole clusters: the volume handle reads whole sectors only.
      buffer.resize(static_cast<size_t>(e.count * m_nCluster));
      EXPECT_TRUE(
          ReadVolume(e.lcn * m_nCluster, buffer.data(), static_cast<DWORD>(buffer.size())));
      data.append(buffer.data(), static_cast<size_t>(bytes));
    }
    return data;
  }
  std::string ReadThroughHandle(HANDLE h) {
    std::string data;
    std::vector<char> buffer(65536);
    DWORD read = 0;
    while (m_set.ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &read) && read) {
      data.append(buffer.data(), read);
    }
    return data;
  }
  static std::vector<CRunText> Merged(std::vector<CRunText> runs) {
    std::vector<CRunText> out;
    for (const CRunText& r : runs) {
      if (!out.empty() && out.back().vcn + out.back().count == r.vcn &&
          ((out.back().lcn < 0 && r.lcn < 0) ||
           (out.back().lcn >= 0 && out.back().lcn + out.back().count == r.lcn))) {
        out.back().count += r.count;
      } else {
        out.push_back(r);
      }
    }
    return out;
  }
  void Walk(const std::string& dir, const std::string& rel,
            std::vector<std::pair<std::string, uint64_t>>* files, std::vector<std::string>* dirs) {
    WIN32_FIND_DATAA data;
    HANDLE h = m_set.FindFirstFileA((dir + "\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << dir << " " << m_set.GetLastError();
    std::vector<std::string> subdirs;
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = rel.empty() ? name : rel + "/" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        dirs->push_back(path);
        // A junction is not followed, as careful walkers do on Windows.
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
          subdirs.push_back(name);
        }
      } else {
        files->push_back(
            {path, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
      }
    } while (m_set.FindNextFileA(h, &data));
    m_set.FindClose(h);
    for (const std::string& sub : subdirs) {
      Walk(dir + "\\" + sub, rel.empty() ? sub : rel + "/" + sub, files, dirs);
    }
  }

  CImageVolumeSet m_set;
  HANDLE m_hVolume = INVALID_HANDLE_VALUE;
  std::string m_strImage;
  CManifest m_manifest;
  uint64_t m_nCluster = 0;
};

TEST(NtfsImageSha256, MatchesTheStandardVectors) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Sha("abc"));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", Sha(""));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            Sha(std::string(1000000, 'a')));
}

TEST_P(NtfsImage, VolumeInformationAndFreeClustersAgreeWithNtfsinfo) {
  char label[64], fs[16];
  DWORD flags = 0;
  ASSERT_TRUE(m_set.GetVolumeInformationA("V:\\", label, 64, nullptr, nullptr, &flags, fs, 16));
  EXPECT_STREQ("NTFS", fs);
  EXPECT_EQ(m_manifest.volume["label"], label);
  EXPECT_TRUE(flags & FILE_READ_ONLY_VOLUME);
  DWORD spc = 0, bps = 0, freeClusters = 0, total = 0;
  ASSERT_TRUE(m_set.GetDiskFreeSpaceA("V:\\", &spc, &bps, &freeClusters, &total));
  EXPECT_EQ(m_nCluster, static_cast<uint64_t>(spc) * bps);
  EXPECT_EQ(m_manifest.volume["clusters"], std::to_string(total));
  EXPECT_EQ(m_manifest.volume["free"], std::to_string(freeClusters));
  // The bitmap reply, read in pieces, counts the same free clusters.
  uint64_t freeBits = 0;
  int64_t start = 0;
  std::vector<uint8_t> reply(16 + 1000);
  while (true) {
    DWORD returned = 0;
    BOOL ok = m_set.DeviceIoControl(m_hVolume, FSCTL_GET_VOLUME_BITMAP, &start, 8, reply.data(),
                                    static_cast<DWORD>(reply.size()), &returned);
    DWORD err = ok ? ERROR_SUCCESS : m_set.GetLastError();
    ASSERT_TRUE(err == ERROR_SUCCESS || err == ERROR_MORE_DATA) << err;
    int64_t first = 0, count = 0;
    std::memcpy(&first, reply.data(), 8);
    std::memcpy(&count, reply.data() + 8, 8);
    const int64_t here = std::min<int64_t>(count, (returned - 16) * 8);
    for (int64_t i = 0; i < here; ++i) freeBits += !((reply[16 + i / 8] >> (i % 8)) & 1);
    if (err == ERROR_SUCCESS) break;
    start = first + here;
  }
  EXPECT_EQ(m_manifest.volume["free"], std::to_string(freeBits));
  NTFS_VOLUME_DATA_BUFFER data;
  DWORD returned = 0;
  ASSERT_TRUE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                    sizeof(data), &returned));
  EXPECT_EQ(std::to_string(freeClusters), std::to_string(data.FreeClusters.QuadPart));
  EXPECT_EQ(m_manifest.volume["record_bytes"], std::to_string(data.BytesPerFileRecordSegment));
  EXPECT_EQ(m_manifest.mft.front().lcn, data.MftStartLcn.QuadPart);
}

TEST_P(NtfsImage, FolderWalkFindsEveryFolderAndFileWithItsSize) {
  std::vector<std::pair<std::string, uint64_t>> files;
  std::vector<std::string> dirs;
  Walk("\\\\?\\V:", "", &files, &dirs);
  std::vector<std::pair<std::string, uint64_t>> expectedFiles;
  for (const CManifestFile& f : m_manifest.files) expectedFiles.push_back({f.path, f.size});
  std::vector<std::string> expectedDirs;
  for (const std::string& d : m_manifest.dirs) expectedDirs.push_back(d);
  std::sort(files.begin(), files.end());
  std::sort(expectedFiles.begin(), expectedFiles.end());
  std::sort(dirs.begin(), dirs.end());
  std::sort(expectedDirs.begin(), expectedDirs.end());
  EXPECT_EQ(expectedDirs, dirs);
  ASSERT_EQ(expectedFiles.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) EXPECT_EQ(expectedFiles[i], files[i]);
}

TEST_P(NtfsImage, EveryFileReadsThroughItsExtentsAsTheToolsReadIt) {
  int viaExtents = 0, resident = 0;
  for (const CManifestFile& f : m_manifest.files) {
    const std::string path = OpenPath(f.path);
    HANDLE h =
        m_set.CreateFileA(path.c_str(), GENERIC_READ, 7, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << f.path << " " << m_set.GetLastError();
    LARGE_INTEGER size;
    ASSERT_TRUE(m_set.GetFileSizeEx(h, &size));
    EXPECT_EQ(f.size, static_cast<uint64_t>(size.QuadPart)) << f.path;
    std::vector<CRunText> extents;
    const DWORD err = Extents(h, &extents);
    auto runs = m_manifest.runs.find(f.path);
    if (runs != m_manifest.runs.end()) {
      const std::vector<CRunText> expected = Merged(runs->second);
      EXPECT_EQ(expected.size(), extents.size()) << f.path;
      for (size_t i = 0; i < std::min(expected.size(), extents.size()); ++i) {
        if (!(expected[i] == extents[i])) {
          ADD_FAILURE() << f.path << ": extent " << i << " is " << extents[i] << ", ntfsinfo has "
                        << expected[i];
          break;
        }
      }
    }
    if (f.kind == "compressed") {
      // Compressed clusters hold LZNT1 chunks, not the bytes: only the
      // extents are compared above.
      EXPECT_TRUE(err == ERROR_SUCCESS || (err == ERROR_HANDLE_EOF && f.size < 1024)) << f.path;
    } else if (err == ERROR_HANDLE_EOF) {
      ++resident;
      EXPECT_LT(f.size, m_nCluster * 2) << f.path;  // kept inside its record
    } else {
      ASSERT_EQ(ERROR_SUCCESS, err) << f.path;
      ++viaExtents;
      EXPECT_EQ(f.sha, Sha(ReadThroughExtents(extents, f.size))) << f.path;
    }
    EXPECT_EQ(f.sha, Sha(ReadThroughHandle(h))) << f.path;
    m_set.CloseHandle(h);
  }
  EXPECT_GT(viaExtents, 0);
  for (const auto& a : m_manifest.attrlist) {
    EXPECT_GT(a.second, 1) << a.first;  // the data really is spread over records
  }
}

TEST_P(NtfsImage, FileRecordControlReturnsTheMftRecordsWithFixupsUndone) {
  NTFS_VOLUME_DATA_BUFFER data;
  DWORD returned = 0;
  ASSERT_TRUE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data,
                                    sizeof(data), &returned));
  const uint32_t size = data.BytesPerFileRecordSegment;
  const uint64_t records = static_cast<uint64_t>(data.MftValidDataLength.QuadPart) / size;
  ASSERT_GT(records, 16u);
  std::vector<uint8_t> raw(size), reply(8208);
  uint64_t lastInUse = 0;
  int inUse = 0;
  for (uint64_t n = 0; n < records; ++n) {
    // The record read raw through $MFT's runs as ntfsinfo lists them.
    for (uint32_t done = 0; done < size;) {
      const uint64_t at = n * size + done;
      const int64_t vcn = static_cast<int64_t>(at / m_nCluster);
      auto run = std::find_if(m_manifest.mft.begin(), m_manifest.mft.end(), [&](const CRunText& r) {
        return vcn >= r.vcn && vcn < r.vcn + r.count;
      });
      ASSERT_NE(m_manifest.mft.end(), run) << n;
      const uint32_t take =
          static_cast<uint32_t>(std::min<uint64_t>(size - done, m_nCluster - at % m_nCluster));
      ASSERT_TRUE(ReadVolume((run->lcn + (vcn - run->vcn)) * m_nCluster + at % m_nCluster,
                             raw.data() + done, take));
      done += take;
    }
    const uint16_t usaOffset = static_cast<uint16_t>(raw[4] | (raw[5] << 8));
    const uint16_t usaCount = static_cast<uint16_t>(raw[6] | (raw[7] << 8));
    const bool record = std::memcmp(raw.data(), "FILE", 4) == 0 && usaCount == size / 512 + 1;
    if (record) {
      for (uint16_t i = 1; i < usaCount; ++i) {
        raw[512 * i - 2] = raw[usaOffset + 2 * i];
        raw[512 * i - 1] = raw[usaOffset + 2 * i + 1];
      }
    }
    const bool used = record && (raw[0x16] & 1);
    uint64_t reference = n;
    ASSERT_TRUE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &reference, 8,
                                      reply.data(), 8208, &returned))
        << n << " " << m_set.GetLastError();
    uint64_t number = 0;
    std::memcpy(&number, reply.data(), 8);
    if (used) {
      ++inUse;
      lastInUse = n;
      ASSERT_EQ(n, number);
      ASSERT_EQ(0, std::memcmp(raw.data(), reply.data() + 12, size)) << n;
    } else {
      ASSERT_EQ(lastInUse, number) << n;
    }
  }
  EXPECT_GT(inUse, 16);
  uint64_t past = records;
  EXPECT_FALSE(m_set.DeviceIoControl(m_hVolume, FSCTL_GET_NTFS_FILE_RECORD, &past, 8, reply.data(),
                                     8208, &returned));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_set.GetLastError());
}

#ifndef _WIN32
// ntfscat reads the fragmented, sparse and linked files through libntfs-3g
// without a mount; the file handle reads must agree with it too.
TEST_P(NtfsImage, SpecialFilesReadAsNtfscatReadsThem) {
  if (std::system("command -v ntfscat >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ntfscat";
  int checked = 0;
  for (const CManifestFile& f : m_manifest.files) {
    if (f.kind != "fragmented" && f.kind != "sparse" && f.kind != "hardlink" &&
        f.kind != "compressed" && f.kind != "reparse") {
      continue;
    }
    const std::string command = "ntfscat '" + m_strImage + "' '/" + f.path + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(nullptr, pipe);
    std::string bytes;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) bytes.append(buffer, n);
    ASSERT_EQ(0, ::pclose(pipe)) << f.path;
    HANDLE h = m_set.CreateFileA(OpenPath(f.path).c_str(), GENERIC_READ, 7, OPEN_EXISTING, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << f.path;
    EXPECT_EQ(Sha(bytes), Sha(ReadThroughHandle(h))) << f.path;
    m_set.CloseHandle(h);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}
#endif

// 4 KB sectors and clusters over 64 KB among them.
INSTANTIATE_TEST_SUITE_P(Images, NtfsImage,
                         ::testing::Values("ntfs-main", "ntfs-frag", "ntfs-4k-sectors", "ntfs-128k",
                                           "ntfs-2m"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* p = info.param + 5; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) name += *p;
                           return name;
                         });

}  // namespace
}  // namespace test
}  // namespace vt
