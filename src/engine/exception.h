// The installer's error object and the engine's helpers for raising it.
//
// A CExceptionEx is thrown by pointer and deleted by whoever catches it:
//     catch (CExceptionEx* e) { std::unique_ptr<CExceptionEx> owner(e); ... }
#pragma once

#include <cstdint>

#include "platform/types.h"

// The engine's module number: the upper half of its errors' "arg0".
constexpr std::uint16_t ENGINE_MODULE = 19;

// Code of an allocation failure (E_OUTOFMEMORY).
constexpr std::uint32_t EXCEPTION_CODE_NO_MEMORY = 0x8007000Eu;

class CExceptionEx {
public:
    CExceptionEx(std::uint16_t module, std::uint16_t location, std::uint32_t code)
        : m_module(module), m_location(location), m_code(code) {}
    virtual ~CExceptionEx() = default;

    std::uint16_t GetModule() const { return m_module; }
    std::uint16_t GetLocation() const { return m_location; }
    std::uint32_t GetCode() const { return m_code; }
    // module * 65536 + location, as messages show it.
    std::uint32_t GetArg0() const { return (static_cast<std::uint32_t>(m_module) << 16) | m_location; }

private:
    std::uint16_t m_module;
    std::uint16_t m_location;
    std::uint32_t m_code;
};

// Throw a new CExceptionEx. The forms without a code take the seam's last error.
[[noreturn]] void ThrowException(std::uint16_t module, std::uint16_t location, std::uint32_t code);
[[noreturn]] void ThrowException(std::uint16_t module, std::uint16_t location);
[[noreturn]] void ThrowEngineError(std::uint16_t location, std::uint32_t code);
[[noreturn]] void ThrowEngineError(std::uint16_t location);
