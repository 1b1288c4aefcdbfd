#include "winget/winget_manifest.h"

#include <cctype>

#include "product/edition.h"

namespace winget {

namespace {

const char* const SCHEMA_BASE = "https://aka.ms/winget-manifest.";

// Every text as a single-quoted scalar: YAML reads it back as exactly that string, whatever
// it starts with ('-', '{') or looks like (3.7).
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

class CYaml {
public:
    CYaml(const std::string& manifestType, const std::string& installerName) {
        m_text = "# winget manifest of " + installerName + ", written by the release build\n";
        // The schema's own address spells its type in lower case (defaultlocale).
        std::string schema = manifestType;
        for (char& c : schema) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        m_text += "# yaml-language-server: $schema=" + std::string(SCHEMA_BASE) + schema + "." + MANIFEST_VERSION +
                  ".schema.json\n\n";
    }
    // "key: 'value'" at depth 0 or 1; the first key of a list's item starts it with "- ".
    CYaml& Text(const char* key, const std::string& value, int depth = 0, bool item = false) {
        Key(key, depth, item) += " " + Quoted(value) + "\n";
        return *this;
    }
    CYaml& Number(const char* key, int value, int depth = 0, bool item = false) {
        Key(key, depth, item) += " " + std::to_string(value) + "\n";
        return *this;
    }
    CYaml& Open(const char* key) {
        Key(key, 0, false) += "\n";
        return *this;
    }
    CYaml& Item(const std::string& value) {
        m_text += "- " + Quoted(value) + "\n";
        return *this;
    }
    std::string Finish(const char* manifestType) {
        Text("ManifestType", manifestType);
        Text("ManifestVersion", MANIFEST_VERSION);
        return m_text;
    }

private:
    // Only one level of nesting: a mapping's keys, or the keys of a list's items.
    std::string& Key(const char* key, int depth, bool item) {
        if (depth > 0) m_text += item ? "- " : "  ";
        m_text += key;
        m_text += ':';
        return m_text;
    }
    std::string m_text;
};

void Identity(CYaml& yaml, const Release& release) {
    yaml.Text("PackageIdentifier", PackageIdentifier(release.identity)).Text("PackageVersion", PRODUCT_VERSION_TEXT);
}

}  // namespace

const std::vector<ReturnCode>& InstallerReturnCodes() {
    static const std::vector<ReturnCode> codes = {
        {-1, "systemNotSupported", false},     // the server edition on Windows 2000
        {-3, "blockedByPolicy", false},        // no administrator rights, even after elevation was asked
        {-4, "systemNotSupported", false},     // 32-bit Windows
        {-5, "systemNotSupported", false},     // Windows too old
        {-6, "contactSupport", true},          // set-up could not start
        {-7, "invalidParameter", false},       // -silent without -licenseaccept
        {-8, "contactSupport", true},          // the published file is damaged: a new download from the page
        {-9, "rebootRequiredToFinish", false}, // installed; a restart completes it
        {-10, "contactSupport", true},         // failed and rolled back; the log goes to support
    };
    return codes;
}

std::string PackageIdentifier(const EditionIdentity& identity) {
    std::string edition = identity.edition;
    if (!edition.empty()) edition[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(edition[0])));
    return "Velotrinex.TessaportRDPEdition." + edition;
}

std::string CheckReleaseUrl(const std::string& url) {
    if (url.empty()) return "no release URL (--url): a manifest names the address its installer is published at";
    const std::size_t separator = url.find("://");
    std::string scheme = url.substr(0, separator);
    for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (separator == std::string::npos || (scheme != "http" && scheme != "https") || separator + 3 >= url.size()) {
        return "the release URL \"" + url + "\" is not an http:// or https:// address";
    }
    for (unsigned char c : url) {
        if (c <= ' ' || c == 0x7F) return "the release URL \"" + url + "\" holds a space or a control character";
    }
    return {};
}

std::vector<ManifestFile> MakeManifests(const Release& release) {
    const std::string id = PackageIdentifier(release.identity);
    const std::string page = release.identity.webAddress;
    std::string url = release.releaseUrl;
    if (url.back() != '/') url += '/';
    url += release.installerName;

    CYaml version("version", release.installerName);
    Identity(version, release);
    version.Text("DefaultLocale", DEFAULT_LOCALE);

    CYaml installer("installer", release.installerName);
    Identity(installer, release);
    installer.Open("Platform").Item("Windows.Desktop");
    installer.Text("InstallerType", "exe").Text("Scope", "machine");
    installer.Open("InstallModes").Item("interactive").Item("silent").Item("silentWithProgress");
    // winget adds Log and Custom to whatever it runs. The setup log always goes to its own
    // place, so Log only makes it more detailed; -norestart hands a needed restart to winget
    // as -9 instead of restarting Windows under the user.
    installer.Open("InstallerSwitches")
        .Text("Silent", "-silent -licenseaccept", 1)
        .Text("SilentWithProgress", "-silent -licenseaccept", 1)
        .Text("Log", "-advlog", 1)
        .Text("Custom", "-norestart", 1);
    installer.Text("UpgradeBehavior", "install").Text("ElevationRequirement", "elevationRequired");
    installer.Open("ExpectedReturnCodes");
    for (const ReturnCode& code : InstallerReturnCodes()) {
        installer.Number("InstallerReturnCode", code.code, 1, true).Text("ReturnResponse", code.response, 1);
        if (code.pointsToProductPage) installer.Text("ReturnResponseUrl", page, 1);
    }
    installer.Open("AppsAndFeaturesEntries")
        .Text("DisplayName", release.identity.displayName, 1, true)
        .Text("Publisher", PRODUCT_PUBLISHER, 1)
        .Text("DisplayVersion", PRODUCT_VERSION_TEXT, 1)
        .Text("ProductCode", release.identity.uninstallKeyName, 1);
    installer.Open("Installers")
        .Text("Architecture", "x64", 1, true)
        .Text("InstallerUrl", url, 1)
        .Text("InstallerSha256", release.installerSha256, 1);

    CYaml locale("defaultLocale", release.installerName);
    Identity(locale, release);
    locale.Text("PackageLocale", DEFAULT_LOCALE)
        .Text("Publisher", PRODUCT_PUBLISHER)
        .Text("PackageName", release.identity.displayName)
        .Text("PackageUrl", page)
        .Text("License", "Proprietary")
        .Text("ShortDescription", release.identity.description);

    return {
        {id + ".yaml", version.Finish("version")},
        {id + ".installer.yaml", installer.Finish("installer")},
        {id + ".locale." + DEFAULT_LOCALE + ".yaml", locale.Finish("defaultLocale")},
    };
}

}  // namespace winget
