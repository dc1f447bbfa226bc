#include "uNsisScript.h"

namespace {

// Where Windows keeps the entries of Add/Remove Programs; ours is named after the upgrade code, so that every
// version of one screensaver writes the one entry.
std::string EntryKey(const TPackageInfo& info) {
    return NsisString("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + info.UpgradeCode);
}

std::string DoubledAmpersands(std::string_view text) {
    std::string doubled;
    for (char c : text)
        doubled += c == '&' ? std::string("&&") : std::string(1, c);
    return doubled;
}

} // namespace

std::string NsisString(std::string_view text) {
    std::string quoted(1, '"');
    for (char c : text) {
        switch (c) {
        case '$':
            quoted += "$$";
            break;
        case '"':
            quoted += "$\\\"";
            break;
        case '\n':
            quoted += "$\\n";
            break;
        case '\r':
            quoted += "$\\r";
            break;
        case '\t':
            quoted += "$\\t";
            break;
        default:
            quoted += c;
        }
    }
    return quoted += '"';
}

std::string NsisScript(const TPackageInfo& info) {
    const std::string key = EntryKey(info);
    const std::string name = NsisString(info.Name);
    const std::string file = info.FileName;
    const auto systemFile = [&](const char* folder) {
        // The folder is a constant of the script, the file name a text of the manifest: only the latter is escaped.
        return "\"$WINDIR\\" + std::string(folder) + "\\" + NsisString(file).substr(1);
    };
    std::string s = "\xEF\xBB\xBF";
    s += "Unicode true\n"
         "ManifestSupportedOS all\n"
         "SetCompressor /SOLID lzma\n"
         // The files' times would otherwise go into the setup program, and with them a different file per build.
         "SetDateSave off\n"
         "RequestExecutionLevel admin\n"
         "ShowInstDetails nevershow\n"
         "ShowUninstDetails nevershow\n";
    s += "Name " + name + " " + NsisString(DoubledAmpersands(info.Name)) + "\n";
    s += "OutFile " + NsisString(info.Output) + "\n";
    s += std::string("InstallDir ") + (info.X64 ? "\"$PROGRAMFILES64\\" : "\"$PROGRAMFILES\\") +
         NsisString(info.FileName.substr(0, info.FileName.size() - 4)).substr(1) + "\n";
    s += "VIProductVersion " + NsisString(info.Version) + "\n";
    s += "VIAddVersionKey /LANG=1033 ProductName " + name + "\n";
    s += "VIAddVersionKey /LANG=1033 ProductVersion " + NsisString(info.Version) + "\n";
    s += "VIAddVersionKey /LANG=1033 FileVersion " + NsisString(info.Version) + "\n";
    s += "VIAddVersionKey /LANG=1033 FileDescription " + NsisString(info.Name + " setup") + "\n";
    if (!info.Company.empty()) s += "VIAddVersionKey /LANG=1033 CompanyName " + NsisString(info.Company) + "\n";
    s += "!include LogicLib.nsh\n"
         "!include x64.nsh\n"
         "!include FileFunc.nsh\n"
         "Page instfiles\n"
         "UninstPage uninstConfirm\n"
         "UninstPage instfiles\n"
         "Var Target\n"
         "Var Activate\n";

    // Where the file goes, decided alike by the setup program and the uninstaller. The path written to the
    // registry names the folder the file really is in: 64-bit programs (Windows starting the screensaver
    // among them) see no redirection.
    s += "!macro PlaceTarget\n";
    if (info.X64) {
        s += "  ${IfNot} ${RunningX64}\n"
             "    MessageBox MB_ICONSTOP|MB_OK " +
             NsisString(info.Name + " needs 64-bit Windows.") +
             " /SD IDOK\n"
             "    Abort\n"
             "  ${EndIf}\n"
             "  ${DisableX64FSRedirection}\n"
             "  SetRegView 64\n"
             "  StrCpy $Target " +
             systemFile("System32") + "\n";
    } else {
        s += "  ${If} ${RunningX64}\n"
             "    StrCpy $Target " +
             systemFile("SysWOW64") +
             "\n"
             "  ${Else}\n"
             "    StrCpy $Target " +
             systemFile("System32") +
             "\n"
             "  ${EndIf}\n";
    }
    s += "!macroend\n"
         "Function .onInit\n"
         "  !insertmacro PlaceTarget\n"
         "FunctionEnd\n"
         "Function un.onInit\n"
         "  !insertmacro PlaceTarget\n"
         "FunctionEnd\n";

    // What the user had before is kept in our entry, to be put back when the screensaver goes; a value that was
    // not there is not written, so that its absence comes back as well.
    const auto keepPrevious = [&](const char* value, const char* kept) {
        return std::string("    ClearErrors\n    ReadRegStr $1 HKCU \"Control Panel\\Desktop\" \"") + value +
               "\"\n    ${IfNot} ${Errors}\n      WriteRegStr HKLM " + key + " \"" + kept + "\" $1\n    ${EndIf}\n";
    };
    const auto restorePrevious = [&](const char* value, const char* kept) {
        return std::string("    ClearErrors\n    ReadRegStr $1 HKLM ") + key + " \"" + kept +
               "\"\n    ${If} ${Errors}\n      DeleteRegValue HKCU \"Control Panel\\Desktop\" \"" + value +
               "\"\n    ${Else}\n      WriteRegStr HKCU \"Control Panel\\Desktop\" \"" + value +
               "\" $1\n    ${EndIf}\n";
    };

    s += "Section\n"
         "  SetOverwrite on\n"
         // An earlier version installed under another file name goes; the user's choice of it follows the new one.
         "  ReadRegStr $0 HKLM " +
         key +
         " \"ScreenSaverFile\"\n"
         "  ${If} $0 != \"\"\n"
         "  ${AndIf} $0 != $Target\n"
         "    Delete /REBOOTOK $0\n"
         "    ReadRegStr $1 HKCU \"Control Panel\\Desktop\" \"SCRNSAVE.EXE\"\n"
         "    ${If} $1 == $0\n"
         "      WriteRegStr HKCU \"Control Panel\\Desktop\" \"SCRNSAVE.EXE\" $Target\n"
         "    ${EndIf}\n"
         "  ${EndIf}\n"
         "  File \"/oname=$Target\" " +
         NsisString(info.Source) +
         "\n"
         "  SetOutPath $INSTDIR\n"
         "  WriteUninstaller \"$INSTDIR\\Uninstall.exe\"\n"
         "  WriteRegStr HKLM " +
         key + " \"DisplayName\" " + name +
         "\n"
         "  WriteRegStr HKLM " +
         key + " \"DisplayVersion\" " + NsisString(info.Version) + "\n";
    if (!info.Company.empty()) s += "  WriteRegStr HKLM " + key + " \"Publisher\" " + NsisString(info.Company) + "\n";
    s += "  WriteRegStr HKLM " + key +
         " \"DisplayIcon\" $Target\n"
         "  WriteRegStr HKLM " +
         key +
         " \"UninstallString\" '\"$INSTDIR\\Uninstall.exe\"'\n"
         "  WriteRegStr HKLM " +
         key +
         " \"QuietUninstallString\" '\"$INSTDIR\\Uninstall.exe\" /S'\n"
         "  WriteRegStr HKLM " +
         key +
         " \"InstallLocation\" $INSTDIR\n"
         "  WriteRegStr HKLM " +
         key +
         " \"ScreenSaverFile\" $Target\n"
         "  WriteRegDWORD HKLM " +
         key +
         " \"NoModify\" 1\n"
         "  WriteRegDWORD HKLM " +
         key +
         " \"NoRepair\" 1\n"
         // /NOACTIVATE leaves the user's current screensaver as it is.
         "  ${GetParameters} $0\n"
         "  ClearErrors\n"
         "  ${GetOptions} $0 \"/NOACTIVATE\" $1\n"
         "  ${If} ${Errors}\n"
         "    ReadRegStr $0 HKCU \"Control Panel\\Desktop\" \"SCRNSAVE.EXE\"\n"
         "    ${If} $0 != $Target\n" +
         keepPrevious("SCRNSAVE.EXE", "PreviousScreenSaver") +
         keepPrevious("ScreenSaveActive", "PreviousScreenSaveActive") +
         "    ${EndIf}\n"
         "    WriteRegStr HKCU \"Control Panel\\Desktop\" \"SCRNSAVE.EXE\" $Target\n"
         "    WriteRegStr HKCU \"Control Panel\\Desktop\" \"ScreenSaveActive\" \"1\"\n"
         "    StrCpy $Activate 1\n"
         "  ${EndIf}\n"
         // Windows's own Install command of a .scr: the Screen Saver settings, with it selected.
         "  ${If} $Activate == 1\n"
         "  ${AndIfNot} ${Silent}\n"
         "    ExecWait '\"$SYSDIR\\rundll32.exe\" desk.cpl,InstallScreenSaver $Target'\n"
         "  ${EndIf}\n"
         "SectionEnd\n";

    s += "Section \"Uninstall\"\n"
         // Only a choice that still names our file is undone; another screensaver chosen since stays.
         "  ReadRegStr $0 HKCU \"Control Panel\\Desktop\" \"SCRNSAVE.EXE\"\n"
         "  ${If} $0 == $Target\n" +
         restorePrevious("SCRNSAVE.EXE", "PreviousScreenSaver") +
         restorePrevious("ScreenSaveActive", "PreviousScreenSaveActive") +
         "  ${EndIf}\n"
         "  Delete /REBOOTOK $Target\n"
         "  Delete \"$INSTDIR\\Uninstall.exe\"\n"
         "  RMDir $INSTDIR\n"
         "  DeleteRegKey HKLM " +
         key +
         "\n"
         "SectionEnd\n";
    return s;
}
