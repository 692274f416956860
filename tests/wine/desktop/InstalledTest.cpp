// The installed program as the installer left it: its version block and its Start-menu entry.

#include "tests/wine/desktop/Options.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// The version block of the program the installer put in place.
TEST(Installed, VersionBlock) {
    const std::string& exe = Given().installed;
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(exe.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << exe << " has no version block";
    ASSERT_TRUE(
        GetFileVersionInfoA(exe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    unsigned parts[4] = {};
    ASSERT_EQ(std::sscanf(Given().version.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2],
                          &parts[3]),
              4);
    EXPECT_EQ(fixed->dwFileVersionMS, (parts[0] << 16) | parts[1]);
    EXPECT_EQ(fixed->dwFileVersionLS, (parts[2] << 16) | parts[3]);
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    const std::string text = std::to_string(parts[0]) + ", " + std::to_string(parts[1]) + ", " +
                             std::to_string(parts[2]) + ", " + std::to_string(parts[3]);
    const std::map<std::string, std::string> strings = {
        {"CompanyName", ""},
        {"FileDescription", "Tervix MFC Application"},
        {"FileVersion", text},
        {"InternalName", "Tervix"},
        {"LegalTrademarks", ""},
        {"OriginalFilename", "Tervix.EXE"},
        {"ProductName", "Tervix Application"},
        {"ProductVersion", text},
    };
    for (const auto& [key, value] : strings) {
        char* found = nullptr;
        const std::string path = "\\StringFileInfo\\040904B0\\" + key;
        ASSERT_TRUE(
            VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&found), &length))
            << key;
        EXPECT_EQ(std::string(found), value) << key;
    }
}

// The entry starts the installed program in the Documents folder that every user of the machine
// shares: the installation is for the whole machine, so its entry is the same for everyone, and
// that is where a job started from it writes temp.log.
TEST(Installed, StartMenuEntryStartsInTheSharedDocuments) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IShellLinkA* link = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IShellLinkA, reinterpret_cast<void**>(&link))));
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    const std::wstring entry(Given().entry.begin(), Given().entry.end());
    EXPECT_TRUE(SUCCEEDED(file->Load(entry.c_str(), STGM_READ))) << Given().entry;

    char target[MAX_PATH] = "";
    char folder[MAX_PATH] = "";
    char shared[MAX_PATH] = "";
    link->GetPath(target, MAX_PATH, nullptr, 0);
    link->GetWorkingDirectory(folder, MAX_PATH);
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_DOCUMENTS, nullptr, 0, shared), S_OK);
    EXPECT_STRCASEEQ(target, Given().installed.c_str());
    EXPECT_STRCASEEQ(folder, shared);
    file->Release();
    link->Release();
    CoUninitialize();
}
