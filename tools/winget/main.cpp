// tsport_winget: writes the winget manifests of one edition's released installer.
//
//   tsport_winget --edition workstation|server --installer FILE --url RELEASE_URL --output DIR
//
// DIR/<identifier>/<version>/ receives the version, installer and default-locale files. The
// installer's SHA-256 is taken from FILE, which must be the final (signed) file; its download
// address is RELEASE_URL/<file name>. Without a release URL nothing is written.
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <system_error>

#include "product/edition.h"
#include "product/edition_identity.h"
#include "winget/winget_manifest.h"

namespace {

int Refuse(const std::string& message) {
    std::fprintf(stderr, "tsport_winget: %s\n", message.c_str());
    return 2;
}

// Upper-case hex, as winget's own tools write it; empty when the file cannot be read whole.
std::string FileSha256(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return {};
    char block[65536];
    while (in) {
        in.read(block, sizeof block);
        if (in.bad() || EVP_DigestUpdate(context.get(), block, static_cast<std::size_t>(in.gcount())) != 1) return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        static const char DIGITS[] = "0123456789ABCDEF";
        hex += DIGITS[digest[i] >> 4];
        hex += DIGITS[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace

int main(int argc, char** argv) {
    std::string edition, installer, url, output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Refuse("\"" + arg + "\" needs a value");
        const std::string value = argv[++i];
        if (arg == "--edition") {
            edition = value;
        } else if (arg == "--installer") {
            installer = value;
        } else if (arg == "--url") {
            url = value;
        } else if (arg == "--output") {
            output = value;
        } else {
            return Refuse("unknown option \"" + arg + "\"");
        }
    }
    if (edition.empty() || installer.empty() || output.empty()) {
        std::fprintf(stderr, "usage: tsport_winget --edition workstation|server --installer FILE --url RELEASE_URL "
                             "--output DIR\n");
        return 2;
    }
    const std::string urlProblem = winget::CheckReleaseUrl(url);
    if (!urlProblem.empty()) return Refuse(urlProblem + "; no manifest written");

    winget::Release release{};
    if (edition == WORKSTATION_IDENTITY.edition) {
        release.identity = WORKSTATION_IDENTITY;
    } else if (edition == SERVER_IDENTITY.edition) {
        release.identity = SERVER_IDENTITY;
    } else {
        return Refuse("unknown edition \"" + edition + "\" (workstation or server)");
    }
    release.installerName = std::filesystem::path(installer).filename().string();
    release.installerSha256 = FileSha256(installer);
    if (release.installerSha256.empty()) return Refuse("cannot read the installer \"" + installer + "\"");
    release.releaseUrl = url;

    const std::filesystem::path folder =
        std::filesystem::path(output) / winget::PackageIdentifier(release.identity) / PRODUCT_VERSION_TEXT;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return Refuse("cannot make the folder \"" + folder.string() + "\": " + error.message());
    for (const winget::ManifestFile& file : winget::MakeManifests(release)) {
        const std::filesystem::path path = folder / file.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << file.text;
        out.close();
        if (!out) return Refuse("cannot write \"" + path.string() + "\"");
    }
    std::printf("winget manifests of %s (SHA-256 %s) in %s\n", release.installerName.c_str(),
                release.installerSha256.c_str(), folder.string().c_str());
    return 0;
}
