#include "product/package_contents.h"

#include "product/edition_identity.h"
#include "product/server/server_edition.h"
#include "product/workstation/workstation_edition.h"

namespace {

PackageContents Contents(const char* edition, const EditionInfo& table) {
    PackageContents contents{edition, {}};
    for (const EditionEntry& entry : table.package) contents.entries.push_back(entry.name);
    return contents;
}

}  // namespace

const std::vector<PackageContents>& AllPackageContents() {
    static const std::vector<PackageContents> all = {
        Contents(WORKSTATION_IDENTITY.edition, WORKSTATION_TABLE),
        Contents(SERVER_IDENTITY.edition, SERVER_TABLE),
    };
    return all;
}

const PackageContents* FindPackageContents(const std::string& edition) {
    for (const PackageContents& contents : AllPackageContents()) {
        if (edition == contents.edition) return &contents;
    }
    return nullptr;
}
