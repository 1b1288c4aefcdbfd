// The winget manifests of a release (schema 1.28.0): for each edition the version file, the
// installer file and the default-locale file, as YAML.
#pragma once

#include <string>
#include <vector>

#include "product/edition_identity.h"

namespace winget {

constexpr const char* MANIFEST_VERSION = "1.28.0";
constexpr const char* DEFAULT_LOCALE = "en-US";

// What winget tells the user about one exit code of the installer.
struct ReturnCode {
    int code;
    const char* response;     // one of the schema's ReturnResponse values
    bool pointsToProductPage;  // ReturnResponseUrl: the product's page, where the user is told what to do
};
// Every non-zero exit code the setup programs end with.
const std::vector<ReturnCode>& InstallerReturnCodes();

struct Release {
    EditionIdentity identity;
    std::string installerName;    // the file name under the release URL
    std::string installerSha256;  // of the final (signed) installer, 64 hex digits
    std::string releaseUrl;       // where the release's installers are published
};

// "Velotrinex.TessaportRDPEdition.Workstation" and the like.
std::string PackageIdentifier(const EditionIdentity& identity);

// Empty when url can be the address of a release, else why it cannot.
std::string CheckReleaseUrl(const std::string& url);

struct ManifestFile {
    std::string name;  // as winget expects it: <identifier>[.installer|.locale.<locale>].yaml
    std::string text;
};
// The version, installer and default-locale manifests, in that order.
std::vector<ManifestFile> MakeManifests(const Release& release);

}  // namespace winget
