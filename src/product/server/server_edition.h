// The server edition: service, WDM bus driver with its two root devices, the USB driver
// library when Windows lacks it, and the user program.
#pragma once

#include "product/edition.h"

const CEdition& ServerEdition();
