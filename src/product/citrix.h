// Citrix support registration: runs the Citrix support installer from the target folder
// with the register or unregister keyword, at most 25 seconds, and takes the restart
// request it signals through a global event.
#pragma once

#include <string>

#include "platform/types.h"

class CInstaller;

constexpr const char* CITRIX_INSTALLER_NAME = "tsport_rde_installer.exe";
// Each keyword keeps its leading space: it follows the program path directly.
constexpr const char* CITRIX_REGISTER_KEYWORD = " RegisterCitrixDllEx";
constexpr const char* CITRIX_UNREGISTER_KEYWORD = " UnregisterCitrixDllEx";
constexpr const char* CITRIX_RESTART_EVENT = "Global\\{3448EDF9-E4FA-4C0F-8137-13EE6B9D972E}";
constexpr os::DWORD CITRIX_TIME_LIMIT = 25000;
constexpr os::DWORD CITRIX_FORCED_EXIT_CODE = 0xFFFFFFFFu;

inline const char* CitrixKeyword(int registerSupport) {
    return registerSupport ? CITRIX_REGISTER_KEYWORD : CITRIX_UNREGISTER_KEYWORD;
}

// "<targetFolder>\tsport_rde_installer.exe" in double quotes, then the keyword. The quotes
// keep Windows from starting "C:\Program.exe" when the folder holds blanks.
std::string CitrixCommandLine(const char* targetFolder, const char* keyword);

// The body of CInstallProcess::RegisterCitrixSupport. Does nothing for an empty target
// folder; never throws and never fails: a missing program, a failed start, a time-out and
// the program's exit code are all absorbed. A signalled restart event sets the restart
// flag through the installer's flag pointer.
void RunCitrixSupportInstaller(CInstaller& installer, const char* targetFolder, const char* keyword);
