// What names each edition outside the installation: Windows' list of programs, package
// managers and deployment tools go by these. The editions' tables and the release's
// package-manager manifests both take them from here.
#pragma once

struct EditionIdentity {
    const char* edition;           // "workstation" or "server", as the packing tool names it
    const char* displayName;       // also the message caption and the default folder names
    const char* webAddress;        // the product's page
    const char* uninstallKeyName;  // the uninstall entry's key under ...\CurrentVersion\Uninstall
    const char* description;       // one line on what it does; also the service's description
};

inline constexpr EditionIdentity WORKSTATION_IDENTITY = {
    "workstation",
    "Tessaport RDP Edition - Workstation",
    "http://www.velotrinex.com/tessaport-rdp/",
    "{5A0CBB1D-4644-48cb-BE32-8289B5E92EC4}",
    "Tessaport RDP Edition Workstation - helps to share USB devices over IP",
};

inline constexpr EditionIdentity SERVER_IDENTITY = {
    "server",
    "Tessaport RDP Edition - Server",
    "http://www.velotrinex.com/tessaport-rdp/",
    "{961AE5EE-E9BB-427e-BF8B-0C83AB73959F}",
    "Tessaport RDP Edition Server - helps to share USB devices over IP",
};
