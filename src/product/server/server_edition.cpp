#include "product/server/server_edition.h"

namespace {

// Every step of the server edition is its table's.
class CServerEdition final : public CEdition {
public:
    const EditionInfo& Info() const override { return SERVER_TABLE; }
};

const CServerEdition SERVER_EDITION{};

}  // namespace

const CEdition& ServerEdition() { return SERVER_EDITION; }
