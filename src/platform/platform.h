// The seam between the portable installer code and the operating system.
//
// Each area is a small interface shaped like the Windows calls it stands for. The
// program installs the Win32 implementation at start; tests install the in-memory
// machine. Calls report failure the Windows way: a failing result, then the reason
// from Kernel().GetLastError().
#pragma once

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/firewall.h"
#include "platform/kernel.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/security.h"
#include "platform/services.h"
#include "platform/shell.h"

namespace os {

struct Platform {
    IKernel* kernel = nullptr;
    IFiles* files = nullptr;
    IRegistry* registry = nullptr;
    ISecurity* security = nullptr;
    IServices* services = nullptr;
    IDevices* devices = nullptr;
    IShell* shell = nullptr;
    IProcesses* processes = nullptr;
    IFirewall* firewall = nullptr;
};

// The machine the portable code talks to. Set once, before any portable code runs.
const Platform& Current();
void Install(const Platform& platform);

inline IKernel& Kernel() { return *Current().kernel; }
inline IFiles& Files() { return *Current().files; }
inline IRegistry& Registry() { return *Current().registry; }
inline ISecurity& Security() { return *Current().security; }
inline IServices& Services() { return *Current().services; }
inline IDevices& Devices() { return *Current().devices; }
inline IShell& Shell() { return *Current().shell; }
inline IProcesses& Processes() { return *Current().processes; }
inline IFirewall& Firewall() { return *Current().firewall; }

// Owns one handle and closes it on every path. Traits give the empty value and the
// closing call.
template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle h) : m_h(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return m_h; }
    bool IsValid() const { return Traits::IsValid(m_h); }
    // For calls that return the handle through a pointer; closes what was held.
    Handle* Receive() {
        Reset();
        return &m_h;
    }
    Handle Release() {
        Handle h = m_h;
        m_h = Traits::Empty();
        return h;
    }
    void Reset(Handle h = Traits::Empty()) {
        if (Traits::IsValid(m_h)) Traits::Close(m_h);
        m_h = h;
    }

private:
    Handle m_h = Traits::Empty();
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return InvalidHandle(); }
    static bool IsValid(Handle h) { return IsValidHandle(h); }
    static void Close(Handle h) { Kernel().CloseHandle(h); }
};
struct FindHandleTraits : KernelHandleTraits {
    static void Close(Handle h) { Files().FindClose(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { Registry().RegCloseKey(h); }
};
struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { Services().CloseServiceHandle(h); }
};
struct ServiceLockTraits {
    using Handle = SC_LOCK;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { Services().UnlockServiceDatabase(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;    // files, tokens, processes, events
using FindHandle = UniqueHandle<FindHandleTraits>;        // FindFirstFileA
using RegKey = UniqueHandle<RegKeyTraits>;                // opened or created keys
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;  // manager and service handles
using ServiceLock = UniqueHandle<ServiceLockTraits>;      // LockServiceDatabase

struct DeviceInfoSetTraits {
    using Handle = HDEVINFO;
    static Handle Empty() { return InvalidHandle(); }
    static bool IsValid(Handle h) { return IsValidHandle(h); }
    static void Close(Handle h) { Devices().SetupDiDestroyDeviceInfoList(h); }
};
using DeviceInfoSet = UniqueHandle<DeviceInfoSetTraits>;  // SetupAPI device information sets

struct ShellLinkTraits {
    using Handle = PSHELLLINK;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { Shell().ReleaseShellLink(h); }
};
struct PersistFileTraits {
    using Handle = PPERSISTFILE;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { Shell().ReleasePersistFile(h); }
};
using ShellLinkPtr = UniqueHandle<ShellLinkTraits>;      // one reference to IShellLinkA
using PersistFilePtr = UniqueHandle<PersistFileTraits>;  // one reference to IPersistFile

// One reference to a firewall interface, given back with the area's Release call for it.
template <typename H, ULONG (IFirewall::*ReleaseCall)(H)>
struct FirewallRefTraits {
    using Handle = H;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle h) { return h != nullptr; }
    static void Close(Handle h) { (Firewall().*ReleaseCall)(h); }
};
using NetFwMgrPtr = UniqueHandle<FirewallRefTraits<PNETFWMGR, &IFirewall::ReleaseNetFwMgr>>;
using NetFwPolicyPtr = UniqueHandle<FirewallRefTraits<PNETFWPOLICY, &IFirewall::ReleasePolicy>>;
using NetFwProfilePtr = UniqueHandle<FirewallRefTraits<PNETFWPROFILE, &IFirewall::ReleaseProfile>>;
using NetFwAuthAppsPtr = UniqueHandle<FirewallRefTraits<PNETFWAUTHAPPS, &IFirewall::ReleaseAuthorizedApplications>>;
using NetFwAuthAppPtr = UniqueHandle<FirewallRefTraits<PNETFWAUTHAPP, &IFirewall::ReleaseAuthorizedApplication>>;
using NetFwPolicy2Ptr = UniqueHandle<FirewallRefTraits<PNETFWPOLICY2, &IFirewall::ReleasePolicy2>>;
using NetFwRulesPtr = UniqueHandle<FirewallRefTraits<PNETFWRULES, &IFirewall::ReleaseRules>>;
using NetFwRulePtr = UniqueHandle<FirewallRefTraits<PNETFWRULE, &IFirewall::ReleaseRule>>;
using UnknownPtr = UniqueHandle<FirewallRefTraits<PUNKNOWN, &IFirewall::ReleaseUnknown>>;
using EnumVariantPtr = UniqueHandle<FirewallRefTraits<PENUMVARIANT, &IFirewall::ReleaseEnumVariant>>;
using DispatchPtr = UniqueHandle<FirewallRefTraits<PDISPATCH, &IFirewall::ReleaseDispatch>>;

// Balances a successful CoInitialize with CoUninitialize on every path. Declare it before
// the interface pointers of the apartment, so that they are released first.
class ComApartment {
public:
    ComApartment() = default;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (m_initialized) Shell().CoUninitialize();
    }
    HRESULT Initialize() {
        const HRESULT hr = Shell().CoInitialize();
        m_initialized = Succeeded(hr);
        return hr;
    }

private:
    bool m_initialized = false;
};

}  // namespace os
