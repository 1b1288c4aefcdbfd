// What the install process needs from the application that runs it: the install
// options the wizard collected, the progress display, the string table and the message
// box. The setup application implements it; tests record through it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace os {
using HWND = void*;
}

// The options the wizard pages edit and the installation reads.
struct InstallOptions {
    std::string targetFolder;     // destination folder
    std::string startMenuFolder;  // relative to the common Programs folder
    std::int32_t desktopIcon = 1;
    std::int32_t quickLaunchIcon = 1;
    std::int32_t firewallRules = 1;
    std::int32_t licenceAccepted = 0;
    std::int32_t launchProgram = 1;
    std::int32_t openQuickStart = 1;
};

// The failed flag: the installation failed and was rolled back, or it failed and the
// machine could not be brought back all the way (backups of replaced files are kept).
constexpr std::int32_t INSTALL_FAILED = 1;
constexpr std::int32_t INSTALL_FAILED_NOT_RESTORED = 2;

// Progress step codes: each selects the task text shown beside the progress bar.
constexpr std::int32_t PROGRESS_COPYING_FILES = 0;
constexpr std::int32_t PROGRESS_INSTALLING_DRIVERS = 1;
constexpr std::int32_t PROGRESS_INSTALLING_MAIN_MODULE = 2;
constexpr std::int32_t PROGRESS_STARTING_DRIVERS = 3;
constexpr std::int32_t PROGRESS_CREATING_MENU_ITEMS = 4;
constexpr std::int32_t PROGRESS_FINISHING = 5;
constexpr std::int32_t PROGRESS_STOPPING_SERVICES = 6;
constexpr std::int32_t PROGRESS_REMOVING_SERVICES = 7;
constexpr std::int32_t PROGRESS_CLEARING_REGISTRY = 8;
constexpr std::int32_t PROGRESS_DELETING_FILES = 10;
constexpr std::int32_t PROGRESS_RESTORING_FILES = 11;
constexpr std::int32_t PROGRESS_DELETING_DIRECTORY = 12;
constexpr std::int32_t PROGRESS_NO_TEXT = 13;

// String table ids the product code formats.
constexpr std::uint32_t IDS_INSTALL_ERROR =
    44;  // "Error during installation.\nError code = 0x%.8x\nError arg0 = 0x%.8x"
constexpr std::uint32_t IDS_FIREWALL_ERROR = 64;  // "Error occured while creating firewall rules.\n..."

// Message box styles the product code uses (MB_OK | MB_ICONERROR).
constexpr os::UINT HOST_MB_OK_ERROR = 0x00000010u;

class IInstallHost {
public:
    virtual ~IInstallHost() = default;

    // The options as they stand; read when a step needs them.
    virtual const InstallOptions& GetInstallOptions() const = 0;

    // Progress: the target and the task text chosen by code; the shown value (whose rule
    // depends on the direction); the direction, 1 climbing or 0 sinking.
    virtual void SetProgressStep(std::int32_t target, std::int32_t code) = 0;
    virtual void SetProgressPosition(std::int32_t value) = 0;
    virtual void SetProgressDirection(std::int32_t direction) = 0;

    // A string-table text by id; empty when there is none. (Named apart from the Windows
    // LoadString and MessageBox macros, so that the application can include <windows.h>.)
    virtual std::string LoadText(std::uint32_t id) const = 0;
    // MessageBoxA: owner may be null; returns the button pressed.
    virtual int ShowMessageBox(os::HWND owner, const char* text, const char* caption, os::UINT type) = 0;
    // False on a silent run without -im: nobody may be there to press a button.
    virtual bool MessagesShown() const = 0;
};
