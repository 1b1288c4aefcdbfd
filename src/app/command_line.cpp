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

CommandLineFlags ReadSwitches(const char* commandLine) {
    CommandLineFlags flags;
    ArgumentBlock block;
    if (!SplitCommandLine(commandLine, &block)) return flags;
    const struct {
        const char* name;
        std::int32_t CommandLineFlags::*flag;
    } table[] = {
        {"-log", &CommandLineFlags::logCopy},
        {"-advlog", &CommandLineFlags::advancedLog},
        {"-unpack", &CommandLineFlags::unpackOnly},
        {"-silent", &CommandLineFlags::silent},
        {"-im", &CommandLineFlags::messages},
        {"-norestart", &CommandLineFlags::noRestart},
        {"-licenseaccept", &CommandLineFlags::licenceAccepted},
        {"-resume", &CommandLineFlags::resume},
    };
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
