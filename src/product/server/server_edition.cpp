#include "product/server/server_edition.h"

namespace {

// Every step of the server edition is its table's.
class CServerEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return SERVER_TABLE; }
};

// A constant object at namespace scope: the program entries only keep its address. Not a
// function-local static: the setup code has none that need a guard (docs/build.md).
const CServerEdition g_edition{};

}  // namespace

const CEdition& ServerEdition() { return g_edition; }
