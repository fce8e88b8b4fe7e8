// DllRegisterServer and DllUnregisterServer through the real registry.
#include <gtest/gtest.h>

#include "shell_fixture.h"
#include "shellext/shell_clsid.h"

namespace vt {
namespace test {
namespace {

const char kClsid[] = "{5A1C07E2-94B3-4F6D-A2C8-3E7D19B04F55}";
const std::string kFileHandler = "*\\ShellEx\\ContextMenuHandlers\\Vantrel";
const std::string kFolderHandler = "Directory\\ShellEx\\ContextMenuHandlers\\Vantrel";
const std::string kClassKey = std::string("CLSID\\") + kClsid;
const std::string kServerKey = kClassKey + "\\InprocServer32";

class ShellRegistration : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CShellLibrary::Get().Loaded()); }
  void TearDown() override { CShellLibrary::Get().Unregister(); }
  CShellLibrary& Library() { return CShellLibrary::Get(); }
};

TEST_F(ShellRegistration, WritesTheLayoutAndRemovesItAgain) {
  ASSERT_EQ(Library().Register(), S_OK);

  std::string text;
  ASSERT_TRUE(ReadClassesText(kFileHandler, nullptr, &text));
  EXPECT_EQ(text, kClsid);
  ASSERT_TRUE(ReadClassesText(kFolderHandler, nullptr, &text));
  EXPECT_EQ(text, kClsid);
  EXPECT_TRUE(ClassesKeyExists(kClassKey));
  EXPECT_FALSE(ReadClassesText(kClassKey, nullptr, &text));  // the class key holds no value
  ASSERT_TRUE(ReadClassesText(kServerKey, nullptr, &text));
  EXPECT_EQ(text, Library().Path());
  EXPECT_EQ(text, Library().Folder() + "VantrelShell.dll");
  ASSERT_TRUE(ReadClassesText(kServerKey, "ThreadingModel", &text));
  EXPECT_EQ(text, "Apartment");

  EXPECT_EQ(Library().Unregister(), S_FALSE);
  EXPECT_FALSE(ClassesKeyExists(kFileHandler));
  EXPECT_FALSE(ClassesKeyExists(kFolderHandler));
  EXPECT_FALSE(ClassesKeyExists(kClassKey));
  // The shell's own keys above ours stay.
  EXPECT_TRUE(ClassesKeyExists("*\\ShellEx\\ContextMenuHandlers"));

  // Nothing left to find: still S_FALSE.
  EXPECT_EQ(Library().Unregister(), S_FALSE);
}

TEST_F(ShellRegistration, UnregisteringRemovesSubkeysItDidNotWrite) {
  ASSERT_EQ(Library().Register(), S_OK);
  HKEY deep;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, (kServerKey + "\\Extra\\Deeper").c_str(), 0,
                              nullptr, 0, KEY_WRITE, nullptr, &deep, nullptr),
            ERROR_SUCCESS);
  ::RegSetValueExA(deep, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2);
  ::RegCloseKey(deep);
  HKEY sibling;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, (kFileHandler + "\\Other").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &sibling, nullptr),
            ERROR_SUCCESS);
  ::RegCloseKey(sibling);

  EXPECT_EQ(Library().Unregister(), S_FALSE);
  EXPECT_FALSE(ClassesKeyExists(kClassKey));
  EXPECT_FALSE(ClassesKeyExists(kFileHandler));
}

TEST_F(ShellRegistration, RegisteringAgainKeepsOneConsistentLayout) {
  ASSERT_EQ(Library().Register(), S_OK);
  ASSERT_EQ(Library().Register(), S_OK);
  std::string text;
  ASSERT_TRUE(ReadClassesText(kServerKey, nullptr, &text));
  EXPECT_EQ(text, Library().Path());
  EXPECT_EQ(Library().Unregister(), S_FALSE);
  EXPECT_FALSE(ClassesKeyExists(kClassKey));
}

}  // namespace
}  // namespace test
}  // namespace vt
