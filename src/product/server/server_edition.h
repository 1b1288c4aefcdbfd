// The server edition: service, the WDM bus driver with its two root devices, Windows' USB
// driver library where it lacks one, and the user program.
#pragma once

#include "product/edition.h"

// Its table (constant data; the packing tool reads it too).
extern const EditionInfo SERVER_TABLE;

const CEdition& ServerEdition();
