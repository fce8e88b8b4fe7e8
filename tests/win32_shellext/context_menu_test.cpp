// The extension through real COM: creation, interfaces, the menu it adds,
// its help texts and the object count.
#include <gtest/gtest.h>

#include <cstring>

#include "shell_fixture.h"
#include "shellext/shell_clsid.h"

namespace vt {
namespace test {
namespace {

class ShellCom : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CShellLibrary::Get().Loaded());
    ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
    m_comUp = true;
    ASSERT_EQ(CShellLibrary::Get().Register(), S_OK);
  }
  void TearDown() override {
    CShellLibrary::Get().Unregister();
    if (m_comUp) ::CoUninitialize();
  }
  IContextMenu* Create() {
    IContextMenu* menu = nullptr;
    HRESULT hr = ::CoCreateInstance(kClsidVantrelShell, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IContextMenu, reinterpret_cast<void**>(&menu));
    EXPECT_EQ(hr, S_OK);
    return menu;
  }
  bool m_comUp = false;
};

struct MenuItem {
  UINT type = 0;
  UINT id = 0;
  HMENU sub = nullptr;
  std::string text;
};

MenuItem ItemAt(HMENU menu, UINT position) {
  MenuItem item;
  char text[128] = "";
  MENUITEMINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
  info.dwTypeData = text;
  info.cch = sizeof(text);
  if (::GetMenuItemInfoA(menu, position, TRUE, &info)) {
    item.type = info.fType;
    item.id = info.wID;
    item.sub = info.hSubMenu;
    item.text = (info.fType & MFT_SEPARATOR) ? "" : text;
  }
  return item;
}

TEST_F(ShellCom, AnswersItsTwoInterfacesAndNothingElse) {
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  // IUnknown is the primary interface, whichever interface is asked.
  EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(menu));
  IContextMenu* again = nullptr;
  ASSERT_EQ(init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&again)), S_OK);
  EXPECT_EQ(again, menu);
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(menu->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
  again->Release();
  unknown->Release();
  init->Release();
  EXPECT_EQ(menu->Release(), 0u);
}

TEST_F(ShellCom, AddsTheVantrelPopupBetweenSeparators) {
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
  CDropData data({L"C:\\Data\\one.txt", L"C:\\Data\\two.txt"});
  EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);

  HMENU shellMenu = ::CreatePopupMenu();
  ASSERT_NE(shellMenu, nullptr);
  ::AppendMenuA(shellMenu, MF_STRING, 1, "Open");
  ::AppendMenuA(shellMenu, MF_STRING, 2, "Properties");

  // Explorer asks for the default item first: nothing is added.
  EXPECT_EQ(menu->QueryContextMenu(shellMenu, 1, 100, 200, CMF_DEFAULTONLY), S_OK);
  EXPECT_EQ(::GetMenuItemCount(shellMenu), 2);

  EXPECT_EQ(menu->QueryContextMenu(shellMenu, 1, 100, 200, CMF_NORMAL),
            MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
  ASSERT_EQ(::GetMenuItemCount(shellMenu), 5);
  EXPECT_EQ(ItemAt(shellMenu, 0).text, "Open");
  EXPECT_TRUE(ItemAt(shellMenu, 1).type & MFT_SEPARATOR);
  MenuItem popup = ItemAt(shellMenu, 2);
  EXPECT_EQ(popup.text, "Vantrel");
  ASSERT_NE(popup.sub, nullptr);
  EXPECT_TRUE(ItemAt(shellMenu, 3).type & MFT_SEPARATOR);
  EXPECT_EQ(ItemAt(shellMenu, 4).text, "Properties");

  ASSERT_EQ(::GetMenuItemCount(popup.sub), 2);
  MenuItem analyze = ItemAt(popup.sub, 0);
  MenuItem defrag = ItemAt(popup.sub, 1);
  EXPECT_EQ(analyze.text, "&Analyze");
  EXPECT_EQ(analyze.id, 100u);
  EXPECT_EQ(defrag.text, "&Defrag");
  EXPECT_EQ(defrag.id, 101u);

  init->Release();
  menu->Release();
  ::DestroyMenu(shellMenu);
}

TEST_F(ShellCom, TakesNoIdentifiersBeyondTheShellsRange) {
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  HMENU shellMenu = ::CreatePopupMenu();
  EXPECT_EQ(menu->QueryContextMenu(shellMenu, 0, 100, 100, CMF_NORMAL), S_OK);
  EXPECT_EQ(::GetMenuItemCount(shellMenu), 0);
  EXPECT_EQ(menu->QueryContextMenu(shellMenu, 0, 100, 101, CMF_NORMAL),
            MAKE_HRESULT(SEVERITY_SUCCESS, 0, 2));
  EXPECT_EQ(::GetMenuItemCount(shellMenu), 3);
  menu->Release();
  ::DestroyMenu(shellMenu);
}

TEST_F(ShellCom, GivesHelpTextsInBothCharacterSets) {
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  char text[128];
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, text, sizeof(text)), S_OK);
  EXPECT_STREQ(text, "Display fragmentation for the selected files or folders");
  EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTA, nullptr, text, sizeof(text)), S_OK);
  EXPECT_STREQ(text, "Defragment the selected files or folders");

  WCHAR wide[64];
  EXPECT_EQ(menu->GetCommandString(1, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 64),
            S_OK);
  EXPECT_STREQ(wide, L"Defragment the selected files or folders");
  // cchMax counts characters, the terminator included.
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 8),
            S_OK);
  EXPECT_STREQ(wide, L"Display");
  EXPECT_EQ(menu->GetCommandString(0, GCS_HELPTEXTA, nullptr, text, 8), S_OK);
  EXPECT_STREQ(text, "Display");

  // Other offsets and other kinds of string: nothing written, still S_OK.
  std::strcpy(text, "untouched");
  EXPECT_EQ(menu->GetCommandString(2, GCS_HELPTEXTA, nullptr, text, sizeof(text)), S_OK);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(menu->GetCommandString(0, GCS_VERBA, nullptr, text, sizeof(text)), S_OK);
  EXPECT_STREQ(text, "untouched");
  menu->Release();
}

TEST_F(ShellCom, InitializeNeedsADropList) {
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  IShellExtInit* init = nullptr;
  ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
  EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
  CDropData refusing({L"C:\\x"});
  refusing.FailGetData();
  EXPECT_EQ(init->Initialize(nullptr, &refusing, nullptr), E_FAIL);
  init->Release();
  menu->Release();
}

TEST_F(ShellCom, CanUnloadFollowsObjectsAndLocks) {
  CShellLibrary& library = CShellLibrary::Get();
  EXPECT_EQ(library.CanUnloadNow(), S_OK);
  IContextMenu* menu = Create();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(library.CanUnloadNow(), S_FALSE);
  menu->AddRef();
  EXPECT_EQ(menu->Release(), 1u);
  EXPECT_EQ(library.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(menu->Release(), 0u);
  EXPECT_EQ(library.CanUnloadNow(), S_OK);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(library.GetClassObject(kClsidVantrelShell, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(library.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(library.CanUnloadNow(), S_OK);

  // Refusals leave nothing alive behind.
  void* out = nullptr;
  EXPECT_EQ(factory->CreateInstance(factory, IID_IContextMenu, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(library.CanUnloadNow(), S_OK);
  EXPECT_EQ(factory->Release(), 0u);
}

TEST_F(ShellCom, ClassObjectOnlyForItsOwnClass) {
  CShellLibrary& library = CShellLibrary::Get();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(library.GetClassObject(IID_IUnknown, IID_IClassFactory, &out),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(library.GetClassObject(kClsidVantrelShell, IID_IContextMenu, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  IUnknown* factory = nullptr;
  ASSERT_EQ(
      library.GetClassObject(kClsidVantrelShell, IID_IUnknown, reinterpret_cast<void**>(&factory)),
      S_OK);
  EXPECT_EQ(factory->Release(), 0u);
}

}  // namespace
}  // namespace test
}  // namespace vt
