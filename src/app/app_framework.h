// The smallest dialog-application frame the setup program needs: one application object,
// created statically, whose instance-initialisation routine runs the whole program and whose
// exit routine gives the process exit code. WinMain lives in app_framework.cpp.
#pragma once

#include <windows.h>

class CFrameApp {
public:
    CFrameApp();
    virtual ~CFrameApp();
    CFrameApp(const CFrameApp&) = delete;
    CFrameApp& operator=(const CFrameApp&) = delete;

    // True would ask for a message loop; the setup program never wants one.
    virtual BOOL InitInstance() = 0;
    // The process exit code.
    virtual int ExitInstance() { return 0; }

    HINSTANCE GetInstance() const { return m_hInstance; }
    static CFrameApp* GetApp() { return s_pApp; }

private:
    friend int RunFrameApp(HINSTANCE instance);
    HINSTANCE m_hInstance = nullptr;
    static CFrameApp* s_pApp;
};

// Called by WinMain: runs the one application object.
int RunFrameApp(HINSTANCE instance);
