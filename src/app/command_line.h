// The command line: one pass that splits the raw text into arguments, and the reader that
// turns the known switches into flags. No usage text, no values, unknown words ignored.
#pragma once

#include <cstdint>

// The arguments as one block: a table of pointers ended by a null pointer, then the
// characters of every argument, each ended by a zero byte. Freed with FreeArguments.
struct ArgumentBlock {
    char** argv = nullptr;
    int argc = 0;
};

// Splits text (the program path included). False when there is no text or the block cannot
// be allocated; the block is then empty.
bool SplitCommandLine(const char* text, ArgumentBlock* block);
void FreeArguments(ArgumentBlock* block);

struct CommandLineFlags {
    std::int32_t logCopy = 0;          // -log
    std::int32_t advancedLog = 0;      // -advlog
    std::int32_t unpackOnly = 0;       // -unpack
    std::int32_t silent = 0;           // -silent
    std::int32_t messages = 0;         // -im
    std::int32_t noRestart = 0;        // -norestart
    std::int32_t licenceAccepted = 0;  // -licenseaccept
    std::int32_t resume = 0;           // -resume: the installer's own run after a restart
};

// Reads every argument, the first included, against the switch table; a missing or
// unsplittable text leaves every flag 0.
CommandLineFlags ReadSwitches(const char* commandLine);

// The uninstaller's switches, matched the same way.
struct UninstallFlags {
    std::int32_t silent = 0;     // -silent: no window at all
    std::int32_t noRestart = 0;  // -norestart: with -silent, never restart
    std::int32_t copy = 0;       // -copy: this is the copy in the temporary folder; do the work
};
UninstallFlags ReadUninstallSwitches(const char* commandLine);
