#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>
#include <windows.h>

#include "platform/win32/win32_areas.h"

namespace os {

namespace {
IShellLinkA* Link(PSHELLLINK link) { return reinterpret_cast<IShellLinkA*>(link); }
IPersistFile* File(PPERSISTFILE file) { return reinterpret_cast<IPersistFile*>(file); }
}  // namespace

HRESULT Win32Shell::CoInitialize() { return ::CoInitialize(nullptr); }

void Win32Shell::CoUninitialize() { ::CoUninitialize(); }

HRESULT Win32Shell::CreateShellLink(PSHELLLINK* link) {
    void* object = nullptr;
    const ::HRESULT hr = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA, &object);
    *link = static_cast<PSHELLLINK>(object);
    return hr;
}

HRESULT Win32Shell::QueryPersistFile(PSHELLLINK link, PPERSISTFILE* file) {
    void* object = nullptr;
    const ::HRESULT hr = Link(link)->QueryInterface(IID_IPersistFile, &object);
    *file = static_cast<PPERSISTFILE>(object);
    return hr;
}

ULONG Win32Shell::ReleaseShellLink(PSHELLLINK link) { return Link(link)->Release(); }

ULONG Win32Shell::ReleasePersistFile(PPERSISTFILE file) { return File(file)->Release(); }

HRESULT Win32Shell::SetPath(PSHELLLINK link, const char* path) { return Link(link)->SetPath(path); }

HRESULT Win32Shell::SetArguments(PSHELLLINK link, const char* arguments) { return Link(link)->SetArguments(arguments); }

HRESULT Win32Shell::SetWorkingDirectory(PSHELLLINK link, const char* directory) {
    return Link(link)->SetWorkingDirectory(directory);
}

HRESULT Win32Shell::SetDescription(PSHELLLINK link, const char* description) {
    return Link(link)->SetDescription(description);
}

HRESULT Win32Shell::SetIconLocation(PSHELLLINK link, const char* path, int index) {
    return Link(link)->SetIconLocation(path, index);
}

HRESULT Win32Shell::Save(PPERSISTFILE file, const char* path, BOOL remember) {
    WCHAR wide[MAX_PATH];
    if (::MultiByteToWideChar(CP_ACP, 0, path, -1, wide, MAX_PATH) == 0) {
        return HRESULT_FROM_WIN32(::GetLastError());
    }
    return File(file)->Save(wide, remember);
}

BOOL Win32Shell::ExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }

BOOL Win32Shell::SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) {
    return ::SHGetSpecialFolderPathA(static_cast<::HWND>(owner), path, csidl, create);
}

}  // namespace os
