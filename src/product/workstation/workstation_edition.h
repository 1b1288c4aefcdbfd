// The workstation edition: service and client DLLs, the stub and PnP kernel drivers, the
// user program and the Citrix support installer.
#pragma once

#include "product/edition.h"

const CEdition& WorkstationEdition();
