// The workstation edition: service and client DLLs, the stub and PnP kernel drivers, the
// user program and the Citrix support installer.
#pragma once

#include "product/edition.h"

// Its table (constant data; the packing tool reads it too).
extern const EditionInfo WORKSTATION_TABLE;

// The stub driver, which from Vista on its INF installs, and its devices' hardware id.
constexpr const char* WORKSTATION_STUB_DRIVER = "tspvd";
constexpr const char* WORKSTATION_STUB_HARDWARE_ID = "VELOTRINEX\\TSPRDPSTUB";

const CEdition& WorkstationEdition();
