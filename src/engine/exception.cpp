#include "engine/exception.h"

#include "platform/platform.h"

void ThrowException(std::uint16_t module, std::uint16_t location, std::uint32_t code) {
    throw new CExceptionEx(module, location, code);
}

void ThrowException(std::uint16_t module, std::uint16_t location) {
    ThrowException(module, location, os::Kernel().GetLastError());
}

void ThrowEngineError(std::uint16_t location, std::uint32_t code) { ThrowException(ENGINE_MODULE, location, code); }

void ThrowEngineError(std::uint16_t location) { ThrowException(ENGINE_MODULE, location); }
