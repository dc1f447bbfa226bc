#include "uWixDocument.h"

#include "uContentId.h"

TWixDocument WixDocument(const TPackageInfo& info) {
    const std::string arch = info.X64 ? "x64" : "x86";
    const std::string fileComponent = NameBasedUuid(info.UpgradeCode, "component|file|" + arch + "|" + info.FileName);
    const std::string currentComponent = NameBasedUuid(info.UpgradeCode, "component|current|" + arch);
    // wixl does not mark components 64-bit for -a x64 by itself.
    const std::string win64 = info.X64 ? " Win64=\"yes\"" : "";
    TWixDocument doc;
    doc.Defines = {"ProductName=" + info.Name, "Manufacturer=" + (info.Company.empty() ? info.Name : info.Company),
                   "FileName=" + info.FileName};
    const std::string name = "$(var.ProductName)";
    std::string d = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                    "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
    d += "  <Product Id=\"" + info.ProductCode + "\" UpgradeCode=\"" + info.UpgradeCode + "\" Name=\"" + name +
         "\" Version=\"" + info.Version + "\" Manufacturer=\"" + "$(var.Manufacturer)" + "\" Language=\"1033\">\n";
    d += "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"perMachine\" Description=\"" + name +
         "\"/>\n"
         "    <Media Id=\"1\" Cabinet=\"screensaver.cab\" EmbedCab=\"yes\"/>\n"
         "    <MajorUpgrade DowngradeErrorMessage=\"" +
         "A later version of " + name + " is already installed.\"/>\n";
    d += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
    d += std::string("      <Directory Id=\"") + (info.X64 ? "System64Folder" : "SystemFolder") + "\">\n";
    d += "        <Component Id=\"ScreenSaverFile\" Guid=\"" + fileComponent + "\"" + win64 + ">\n";
    // wixl finds sources relative to its working folder only.
    d += "          <File Id=\"ScreenSaver\" Name=\"$(var.FileName)\" Source=\"" + info.Source +
         "\" KeyPath=\"yes\"/>\n";
    // Windows Installer writes the entry itself; the icon it would take from a copy of the file, so the entry
    // points at the installed one instead.
    d += "          <RegistryValue Root=\"HKLM\" Key=\"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
         "[ProductCode]\" Name=\"DisplayIcon\" Type=\"string\" Value=\"[#ScreenSaver]\"/>\n"
         "        </Component>\n";
    d += "        <Component Id=\"CurrentScreenSaver\" Guid=\"" + currentComponent + "\"" + win64 + ">\n";
    d += "          <RegistryValue Root=\"HKCU\" Key=\"Control Panel\\Desktop\" Name=\"SCRNSAVE.EXE\" Type=\"string\" "
         "Value=\"[#ScreenSaver]\" KeyPath=\"yes\"/>\n"
         "          <RegistryValue Root=\"HKCU\" Key=\"Control Panel\\Desktop\" Name=\"ScreenSaveActive\" "
         "Type=\"string\" Value=\"1\"/>\n"
         "        </Component>\n"
         "      </Directory>\n"
         "    </Directory>\n";
    d += std::string("    <Feature Id=\"") + WixMainFeature + "\" Title=\"" + name +
         "\" Level=\"1\" Absent=\"disallow\">\n"
         "      <ComponentRef Id=\"ScreenSaverFile\"/>\n"
         "    </Feature>\n";
    d += std::string("    <Feature Id=\"") + WixCurrentFeature +
         "\" Title=\"Make it the current screensaver\" Level=\"1\">\n"
         "      <ComponentRef Id=\"CurrentScreenSaver\"/>\n"
         "    </Feature>\n"
         "  </Product>\n"
         "</Wix>\n";
    doc.Text = std::move(d);
    return doc;
}
