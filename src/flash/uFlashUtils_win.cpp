#include <ole2.h>
#include <windows.h>

#include "forms/ComObj.h"
#include "forms/FileStream.h"
#include "support/uSysUtils.h"
#include "uFlashIds.h"
#include "uFlashUtils.h"

bool IsFlashControlAvailable() {
    try {
        ComPtr<IOleObject> instance;
        // In-process or local server.
        const HRESULT result =
            CoCreateInstance(CLASS_ShockwaveFlash, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                             IID_FlashOleObject, instance.put_void());
        // Only S_OK counts: a server that answers with another success code has not given a usable instance.
        return result == S_OK;
    } catch (...) {
        return false;
    }
}

std::string GetInstalledFlashVersion() {
    const std::string server = RegReadDefaultString(HKEY_CLASSES_ROOT, FlashInprocServerKey);
    if (server.empty() || !FileExists(server)) return "0.0.0.0";
    return GetVersionString(server);
}

TFlashInstallation AskFlashInstallation() {
    TFlashInstallation installation;
    installation.Available = IsFlashControlAvailable();
    if (installation.Available) installation.Version = GetInstalledFlashVersion();
    return installation;
}

bool IsFlashVersionAtLeast(const std::string& required) {
    return AskFlashInstallation().VersionAtLeast(required);
}
