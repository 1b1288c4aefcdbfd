#include "product/server/server_edition.h"

#include "product/install_process.h"

namespace {

// Every step of the server edition is its table's; its devices and its USB driver library
// take the table code that only rows like theirs need.
class CServerEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return SERVER_TABLE; }
    void BindDevices(CInstallProcess& process) const override { process.BindTableDevices(); }
    void PlaceProvidedFile(CInstallProcess& process, const EditionFile& file, const std::string& folder,
                           const PackedFile& content) const override {
        process.PlaceIfMissing(file, folder, content);
    }
    void RecordProvidedFiles(CInstallProcess& process) const override { process.RecordProvidedFiles(); }
};

// A constant object at namespace scope: the program entries only keep its address. Not a
// function-local static: the setup code has none that need a guard (docs/build.md).
const CServerEdition g_edition{};

}  // namespace

const CEdition& ServerEdition() { return g_edition; }
