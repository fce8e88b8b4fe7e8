// Opening files and folders: path forms, the engine's four tries, access on
// read-only volumes and files, sharing, handle lifetime, host paths, threads.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/image/volume_set.h"
#include "tests/image/fat_builder.h"

namespace vt {
namespace test {
namespace {

constexpr DWORD kBackup = FILE_FLAG_BACKUP_SEMANTICS;

struct Try {
  DWORD access, share, flags;
};
// The engine's tries, in its order.
const Try kTries[4] = {
    {0x20, 0, kBackup}, {0x87, 7, kBackup}, {GENERIC_READ, 7, kBackup}, {0x80, 3, 0xAA000000}};

class OpenTest : public ::testing::Test {
 protected:
  void Build(bool readOnly) {
    CFatImageBuilder b(EBuildType::kFat16);
    uint32_t docs = b.AddFolder(0, u"My Documents", "MYDOCU~1   ", {10});
    uint32_t deep = b.AddFolder(docs, u"Deeper Folder", "DEEPER~1   ", {11});
    b.AddFile(deep, u"Letter to Bob.txt", "LETTER~1TXT", {12}, "Dear Bob");
    b.AddFile(0, u"", "LOCKED  TXT", {13}, "ro", 0x21);
    b.AddFile(0, u"", "PLAIN   TXT", {14}, "plain");
    ASSERT_EQ(ERROR_SUCCESS, m_set.MountDevice('V', b.Device(readOnly), "open", readOnly));
  }
  // Runs the tries until one works; returns the try's number (1-4) or 0.
  int OpenForMove(const char* path, HANDLE* h, DWORD* lastError) {
    for (int i = 0; i < 4; ++i) {
      *h = m_set.CreateFileA(path, kTries[i].access, kTries[i].share, OPEN_EXISTING,
                             kTries[i].flags);
      if (*h != INVALID_HANDLE_VALUE) return i + 1;
      *lastError = m_set.GetLastError();
    }
    return 0;
  }
  HANDLE Open(const char* path, DWORD access = GENERIC_READ, DWORD share = 7,
              DWORD flags = kBackup) {
    return m_set.CreateFileA(path, access, share, OPEN_EXISTING, flags);
  }
  DWORD OpenError(const char* path, DWORD access = GENERIC_READ, DWORD share = 7,
                  DWORD flags = kBackup, DWORD creation = OPEN_EXISTING) {
    HANDLE h = m_set.CreateFileA(path, access, share, creation, flags);
    if (h != INVALID_HANDLE_VALUE) {
      m_set.CloseHandle(h);
      return ERROR_SUCCESS;
    }
    return m_set.GetLastError();
  }

  CImageVolumeSet m_set;
};

TEST_F(OpenTest, EveryTryOfTheEngineOpensFilesAndFolders) {
  Build(false);
  for (int i = 0; i < 4; ++i) {
    for (const char* path : {"V:\\My Documents\\Deeper Folder\\Letter to Bob.txt",
                             "V:\\My Documents\\Deeper Folder", "V:\\"}) {
      SCOPED_TRACE(std::to_string(i + 1) + " " + path);
      HANDLE h = Open(path, kTries[i].access, kTries[i].share, kTries[i].flags);
      ASSERT_NE(INVALID_HANDLE_VALUE, h);
      EXPECT_TRUE(m_set.CloseHandle(h));
    }
  }
}

TEST_F(OpenTest, ReadOnlyVolumeAndFilesRefuseWriteAccess) {
  Build(true);
  HANDLE h;
  DWORD err = 0;
  // Try 1 wants no write access and works at once.
  EXPECT_EQ(1, OpenForMove("V:\\PLAIN.TXT", &h, &err));
  m_set.CloseHandle(h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), OpenError("V:\\PLAIN.TXT", 0x87));
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), OpenError("V:\\PLAIN.TXT", GENERIC_WRITE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), OpenError("V:\\My Documents", 0x87));
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_PROTECT), OpenError("\\\\.\\V:", GENERIC_WRITE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError("V:\\PLAIN.TXT", GENERIC_READ));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            OpenError("V:\\PLAIN.TXT", GENERIC_READ, 7, 0, CREATE_ALWAYS));
}

TEST_F(OpenTest, ReadOnlyFileOnAWritableVolume) {
  Build(false);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), OpenError("V:\\LOCKED.TXT", 0x87));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError("V:\\LOCKED.TXT", GENERIC_READ));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError("V:\\PLAIN.TXT", 0x87));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED),
            OpenError("V:\\NEW.TXT", GENERIC_WRITE, 0, 0, CREATE_NEW));
}

TEST_F(OpenTest, PathFormsAndNotFoundErrors) {
  Build(false);
  for (const char* path : {"V:\\my documents\\DEEPER FOLDER\\letter TO bob.TXT",
                           "V:\\MYDOCU~1\\DEEPER~1\\LETTER~1.TXT",
                           "V:/My Documents/Deeper Folder/./../Deeper Folder/Letter to Bob.txt",
                           "\\\\?\\V:\\My Documents\\Deeper Folder\\Letter to Bob.txt",
                           "v:\\My Documents\\Deeper Folder\\Letter to Bob.txt. "}) {
    SCOPED_TRACE(path);
    HANDLE h = Open(path);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    char text[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(m_set.ReadFile(h, text, sizeof(text) - 1, &read));
    EXPECT_STREQ("Dear Bob", text);
    m_set.CloseHandle(h);
  }
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError("V:\\My Documents\\none.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), OpenError("V:\\None\\none.txt"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), OpenError("V:\\PLAIN.TXT\\x"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), OpenError("Q:\\PLAIN.TXT"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), OpenError("\\\\.\\Q:"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), OpenError("V:\\PLAIN.TXT\\"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), OpenError("V:\\PL?IN.TXT"));
  // Folders need backup semantics.
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED),
            OpenError("V:\\My Documents", GENERIC_READ, 7, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), OpenError("V:\\", GENERIC_READ, 7, 0));

  HANDLE folder = Open("V:\\My Documents");
  ASSERT_NE(INVALID_HANDLE_VALUE, folder);
  LARGE_INTEGER size;
  size.QuadPart = 99;
  ASSERT_TRUE(m_set.GetFileSizeEx(folder, &size));
  EXPECT_EQ(0, size.QuadPart);
  char byte;
  DWORD read;
  EXPECT_FALSE(m_set.ReadFile(folder, &byte, 1, &read));
  m_set.CloseHandle(folder);
}

TEST_F(OpenTest, SharingBetweenHandlesOfTheSameFile) {
  Build(false);
  const char* path = "V:\\PLAIN.TXT";
  // Try 1 takes the file exclusively: every other open for data fails.
  HANDLE exclusive = Open(path, 0x20, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, GENERIC_READ, 7));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, 0x20, 0));
  // Reading attributes alone shares with anything, as on Windows.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError(path, 0x80, 0));
  // Other files are not affected.
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError("V:\\LOCKED.TXT", GENERIC_READ, 0));
  EXPECT_TRUE(m_set.CloseHandle(exclusive));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError(path, GENERIC_READ, 7));

  // A reader that shares reading only keeps writers out, and a later open
  // that refuses to share with the reader fails too.
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ);
  ASSERT_NE(INVALID_HANDLE_VALUE, reader);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, 0x87, 7));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), OpenError(path, GENERIC_READ, 0));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
            OpenError(path, GENERIC_READ, FILE_SHARE_WRITE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), OpenError(path, GENERIC_READ, FILE_SHARE_READ));
  // With the reader open, the engine still gets in through try 3.
  HANDLE h;
  DWORD err = 0;
  EXPECT_EQ(3, OpenForMove(path, &h, &err));
  m_set.CloseHandle(h);
  m_set.CloseHandle(reader);

  // Volume handles share among themselves the same way.
  HANDLE vol = Open("\\\\.\\V:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0);
  ASSERT_NE(INVALID_HANDLE_VALUE, vol);
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
            OpenError("\\\\.\\V:", GENERIC_READ, 0, 0));
  m_set.CloseHandle(vol);
}

TEST_F(OpenTest, ClosedAndForeignHandlesAreInvalid) {
  Build(false);
  HANDLE h = Open("V:\\PLAIN.TXT");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_FALSE(m_set.FindClose(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), m_set.GetLastError());
  EXPECT_TRUE(m_set.CloseHandle(h));
  EXPECT_FALSE(m_set.CloseHandle(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), m_set.GetLastError());
  LARGE_INTEGER size;
  EXPECT_FALSE(m_set.GetFileSizeEx(h, &size));
  EXPECT_FALSE(m_set.CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(m_set.CloseHandle(nullptr));
  HANDLE again = Open("V:\\PLAIN.TXT");
  EXPECT_NE(h, again);  // handle values are not reused
  m_set.CloseHandle(again);
}

TEST_F(OpenTest, AttributesAndHostFiles) {
  Build(false);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE),
            m_set.GetFileAttributesA("V:\\locked.txt"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), m_set.GetFileAttributesA("V:\\"));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY),
            m_set.GetFileAttributesA("V:\\My Documents\\Deeper Folder"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, m_set.GetFileAttributesA("V:\\nothing"));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), m_set.GetLastError());
  EXPECT_FALSE(m_set.DeleteFileA("V:\\PLAIN.TXT"));  // images change only through moves
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), m_set.GetFileAttributesA("V:\\PLAIN.TXT"));

  char temp[MAX_PATH];
  DWORD n = m_set.GetTempPathA(sizeof(temp), temp);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof(temp));
  EXPECT_TRUE(temp[n - 1] == '/' || temp[n - 1] == '\\');
  EXPECT_EQ(n + 1, m_set.GetTempPathA(2, temp));  // too small: the size needed
  n = m_set.GetTempPathA(sizeof(temp), temp);
  std::string file = std::string(temp) + "vt_image_host_file.dat";
  FILE* f = std::fopen(file.c_str(), "wb");
  ASSERT_NE(nullptr, f);
  std::fclose(f);
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, m_set.GetFileAttributesA(file.c_str()));
  EXPECT_TRUE(m_set.GetFileAttributesA(temp) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(m_set.DeleteFileA(file.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, m_set.GetFileAttributesA(file.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), m_set.GetLastError());
  EXPECT_FALSE(m_set.DeleteFileA(file.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), m_set.GetLastError());
}

TEST_F(OpenTest, ThreadsWithTheirOwnHandlesDoNotDisturbEachOther) {
  Build(false);
  std::vector<std::thread> threads;
  int failures[2] = {0, 0};
  const char* paths[2] = {"V:\\My Documents\\Deeper Folder\\Letter to Bob.txt", "V:\\PLAIN.TXT"};
  const char* texts[2] = {"Dear Bob", "plain"};
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t]() {
      for (int i = 0; i < 300; ++i) {
        HANDLE h = m_set.CreateFileA(paths[t], GENERIC_READ, 7, OPEN_EXISTING, 0);
        char text[16] = {};
        DWORD read = 0;
        if (h == INVALID_HANDLE_VALUE || !m_set.ReadFile(h, text, 15, &read) ||
            std::string(text) != texts[t] || m_set.GetLastError() != ERROR_SUCCESS) {
          ++failures[t];
        }
        // A failing call on this thread leaves the other's last error alone.
        m_set.CloseHandle(reinterpret_cast<HANDLE>(0x7));
        if (m_set.GetLastError() != ERROR_INVALID_HANDLE) ++failures[t];
        m_set.CloseHandle(h);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, failures[0]);
  EXPECT_EQ(0, failures[1]);
}

}  // namespace
}  // namespace test
}  // namespace vt
