#include "app/command_line.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

bool EqualNoCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return *a == *b;
}

}  // namespace

bool SplitCommandLine(const char* text, ArgumentBlock* block) {
    block->argv = nullptr;
    block->argc = 0;
    if (text == nullptr) return false;
    const std::size_t length = std::strlen(text);
    // No argument is shorter than one character plus its separator, so length / 2 + 2
    // pointers always suffice, the closing null included.
    const std::size_t slots = length / 2 + 2;
    const std::size_t tableBytes = slots * sizeof(char*);
    void* memory = std::malloc(tableBytes + length + 1);
    if (memory == nullptr) return false;
    char** table = static_cast<char**>(memory);
    char* out = static_cast<char*>(memory) + tableBytes;

    bool inQuotes = false;
    bool atStart = true;
    bool inArgument = false;
    int count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        if (inQuotes) {
            if (c == '"') {
                inQuotes = false;
            } else {
                *out++ = c;
            }
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (inArgument) *out++ = '\0';
            inArgument = false;
            atStart = true;
        } else if (c == '"') {
            inQuotes = true;
            if (atStart) {
                table[count++] = out;
                atStart = false;
                inArgument = true;
            }
        } else {
            if (atStart) {
                table[count++] = out;
                atStart = false;
                inArgument = true;
            }
            *out++ = c;
        }
    }
    *out = '\0';
    table[count] = nullptr;
    block->argv = table;
    block->argc = count;
    return true;
}

void FreeArguments(ArgumentBlock* block) {
    std::free(block->argv);
    block->argv = nullptr;
    block->argc = 0;
}

namespace {

template <typename Flags>
struct SwitchEntry {
    const char* name;
    std::int32_t Flags::*flag;
};

// Every argument, the first included, against the table; the first match sets its flag.
template <typename Flags, std::size_t N>
Flags ReadTable(const char* commandLine, const SwitchEntry<Flags> (&table)[N]) {
    Flags flags;
    ArgumentBlock block;
    if (!SplitCommandLine(commandLine, &block)) return flags;
    for (int i = 0; i < block.argc; ++i) {
        for (const auto& entry : table) {
            if (EqualNoCase(block.argv[i], entry.name)) {
                flags.*entry.flag = 1;
                break;
            }
        }
    }
    FreeArguments(&block);
    return flags;
}

}  // namespace

UninstallFlags ReadUninstallSwitches(const char* commandLine) {
    static const SwitchEntry<UninstallFlags> table[] = {
        {"-silent", &UninstallFlags::silent},
        {"-norestart", &UninstallFlags::noRestart},
        {"-copy", &UninstallFlags::copy},
    };
    return ReadTable(commandLine, table);
}

CommandLineFlags ReadSwitches(const char* commandLine) {
    static const SwitchEntry<CommandLineFlags> table[] = {
        {"-log", &CommandLineFlags::logCopy},
        {"-advlog", &CommandLineFlags::advancedLog},
        {"-unpack", &CommandLineFlags::unpackOnly},
        {"-silent", &CommandLineFlags::silent},
        {"-im", &CommandLineFlags::messages},
        {"-norestart", &CommandLineFlags::noRestart},
        {"-licenseaccept", &CommandLineFlags::licenceAccepted},
        {"-resume", &CommandLineFlags::resume},
    };
    return ReadTable(commandLine, table);
}
