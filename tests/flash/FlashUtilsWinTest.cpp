#include <windows.h>

#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "SWFBuilder.h"
#include "TestSupport.h"
#include "flash/uFlashIds.h"
#include "flash/uFlashUtils.h"
#include "forms/ComObj.h"
#include "player/PlayerRegistration.h"

namespace {

// What HKEY_CLASSES_ROOT\CLSID\{...} reads on Wine.
const std::string kClassKey = std::string("Software\\Classes\\CLSID\\") + FlashClassIdText;

bool ControlRegistered() {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + FlashClassIdText).c_str(), 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

class FlashInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        if (ControlRegistered()) GTEST_SKIP() << "a Flash control is registered in this prefix";
        FOwnsKey = true;
    }
    void TearDown() override {
        if (FOwnsKey) RegDeleteTreeA(HKEY_LOCAL_MACHINE, kClassKey.c_str());
    }

    void RegisterServer(const std::string& file) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kClassKey + "\\InprocServer32").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                                 static_cast<DWORD>(file.size() + 1)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    TComApartment FApartment;
    bool FOwnsKey = false;
};

TEST_F(FlashInstallation, NothingRegistered) {
    EXPECT_FALSE(IsFlashControlAvailable());
    EXPECT_EQ(GetInstalledFlashVersion(), "0.0.0.0");
}

TEST_F(FlashInstallation, VersionOfTheRegisteredServerFile) {
    RegisterServer(ExeDirectory() + "support_versioned.dll");
    EXPECT_EQ(GetInstalledFlashVersion(), "10.0.12.36");
    // The file is no COM server: a registered version that would pass does not make the control available.
    EXPECT_FALSE(IsFlashVersionAtLeast("8.0"));

    RegisterServer(ExeDirectory() + "no-such-server.dll");
    EXPECT_EQ(GetInstalledFlashVersion(), "0.0.0.0");
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    RegisterServer(self);
    EXPECT_EQ(GetInstalledFlashVersion(), "");
}

// The stand-in player is a creatable control with a version of its own: the gate's passing side.
TEST_F(FlashInstallation, CreatableControlOfVersion10) {
    ASSERT_TRUE(RegisterStandInPlayer(ExeDirectory() + "versioncheck_player10.dll"));
    EXPECT_TRUE(IsFlashControlAvailable());
    EXPECT_EQ(GetInstalledFlashVersion(), "10.0.12.36");
    EXPECT_TRUE(IsFlashVersionAtLeast("8.0"));
    EXPECT_TRUE(IsFlashVersionAtLeast("10.0.12.36"));
    EXPECT_FALSE(IsFlashVersionAtLeast("10.0.12.37"));
}

TEST_F(FlashInstallation, CreatableControlOfVersion7) {
    ASSERT_TRUE(RegisterStandInPlayer(ExeDirectory() + "versioncheck_player7.dll"));
    EXPECT_TRUE(IsFlashVersionAtLeast("0.0.0.0"));
    EXPECT_FALSE(IsFlashVersionAtLeast("8.0"));
}

TEST(SWFReaderWin, OpensTheFileExclusively) {
    TTempDir dir;
    const std::string path = dir.File("held.swf");
    WriteFileBytes(path, BuildSWF(SimpleMovie(100, 50, 0, false)));
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_THROW(TSWF{path}, EFOpenError);
    CloseHandle(held);
    EXPECT_EQ(TSWF(path).Width(), 100);
}

} // namespace
