#include "product/citrix.h"

#include <vector>

#include "engine/installer.h"
#include "engine/trust.h"
#include "platform/constants.h"
#include "platform/platform.h"

std::string CitrixCommandLine(const char* targetFolder, const char* keyword) {
    std::string line = "\"";
    line += targetFolder;
    line += "\\";
    line += CITRIX_INSTALLER_NAME;
    line += "\"";
    line += keyword;
    return line;
}

void RunCitrixSupportInstaller(CInstaller& installer, const char* targetFolder, const char* keyword) {
    if (targetFolder == nullptr || *targetFolder == '\0') return;
    const std::string commandLine = CitrixCommandLine(targetFolder, keyword);

    // An elevated run of a program that others could have replaced would run theirs.
    const std::string program = std::string(targetFolder) + "\\" + CITRIX_INSTALLER_NAME;
    // Only what is there can be judged; where nothing is, nothing runs.
    auto there = [](const char* path) { return os::Files().GetFileAttributesA(path) != os::INVALID_FILE_ATTRIBUTES; };
    if ((there(targetFolder) && OthersCanChange(targetFolder)) ||
        (there(program.c_str()) && OthersCanChange(program))) {
        installer.Log("Warning: Others can change it, not started: ", program.c_str());
        return;
    }

    // The program asks for a restart by signalling this event; without it the step still
    // runs the program. Only an event of this run is believed: one that was there before may
    // belong to anyone and be signalled already.
    os::KernelHandle restartEvent(os::Processes().CreateEventA(1, 0, CITRIX_RESTART_EVENT, SDDL_ADMIN_OBJECT));
    if (restartEvent.IsValid() && os::Kernel().GetLastError() == os::ERROR_ALREADY_EXISTS) {
        installer.Log("Warning: The restart event was there before, its signal is ignored: ", CITRIX_RESTART_EVENT);
        restartEvent.Reset();
    }

    installer.Log("Start Citrix installation process: ", commandLine.c_str());

    // CreateProcessA may write into the command line.
    std::vector<char> writable(commandLine.begin(), commandLine.end());
    writable.push_back('\0');
    os::ProcessInformation started;
    if (!os::Processes().CreateProcessA(nullptr, writable.data(), 0, 0, nullptr, &started)) return;
    os::KernelHandle process(started.process);
    os::KernelHandle thread(started.thread);

    // A program that does not finish in time (or cannot be waited for) is ended, so that
    // it cannot go on working on the files the next steps touch.
    if (os::Processes().WaitForSingleObject(process.Get(), CITRIX_TIME_LIMIT) != os::WAIT_OBJECT_0) {
        os::Processes().TerminateProcess(process.Get(), CITRIX_FORCED_EXIT_CODE);
    }

    if (restartEvent.IsValid() && os::Processes().WaitForSingleObject(restartEvent.Get(), 1) == os::WAIT_OBJECT_0) {
        installer.RequireReboot();
    }

    installer.Log("Finish Citrix installation process");
    thread.Reset();
    process.Reset();
}
