// COM and the shell's link object, one call per step so that each step can fail on its
// own, and the request to restart Windows.
//
// The link object's interfaces come out as opaque pointers; every one handed out
// (CreateShellLink, QueryPersistFile) holds one reference that its Release call gives
// back. The object goes when the last reference is released.
#pragma once

#include "platform/types.h"

namespace os {

class IShell {
public:
    virtual ~IShell() = default;

    // Apartment initialisation of the calling thread: S_OK, or S_FALSE when the thread
    // already was initialised. Every successful call is balanced by CoUninitialize.
    virtual HRESULT CoInitialize() = 0;
    virtual void CoUninitialize() = 0;

    // CoCreateInstance(CLSID_ShellLink, in-process server, IID_IShellLinkA).
    virtual HRESULT CreateShellLink(PSHELLLINK* link) = 0;
    // The link object's QueryInterface(IID_IPersistFile).
    virtual HRESULT QueryPersistFile(PSHELLLINK link, PPERSISTFILE* file) = 0;
    // IUnknown::Release of each interface; returns the remaining reference count.
    virtual ULONG ReleaseShellLink(PSHELLLINK link) = 0;
    virtual ULONG ReleasePersistFile(PPERSISTFILE file) = 0;

    // IShellLinkA.
    virtual HRESULT SetPath(PSHELLLINK link, const char* path) = 0;
    virtual HRESULT SetArguments(PSHELLLINK link, const char* arguments) = 0;
    virtual HRESULT SetWorkingDirectory(PSHELLLINK link, const char* directory) = 0;
    virtual HRESULT SetDescription(PSHELLLINK link, const char* description) = 0;
    virtual HRESULT SetIconLocation(PSHELLLINK link, const char* path, int index) = 0;

    // IPersistFile::Save. The path is handed to the object in its wide form (ANSI code
    // page, at most MAX_PATH characters with the terminator); a path that does not fit
    // fails with the conversion's error instead of being cut.
    virtual HRESULT Save(PPERSISTFILE file, const char* path, BOOL remember) = 0;

    // ExitWindowsEx (EWX_* flags, shutdown reason). Restarting needs the shutdown
    // privilege enabled in the process token.
    virtual BOOL ExitWindowsEx(UINT flags, DWORD reason) = 0;

    // SHGetSpecialFolderPathA: the folder of a CSIDL_* value into path (MAX_PATH bytes);
    // with create set a missing folder is created.
    virtual BOOL SHGetSpecialFolderPathA(HWND owner, char* path, int csidl, BOOL create) = 0;
};

}  // namespace os
