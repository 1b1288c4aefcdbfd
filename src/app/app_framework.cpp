#include "app/app_framework.h"

#include "platform/win32/system_library.h"

CFrameApp* CFrameApp::s_pApp = nullptr;

CFrameApp::CFrameApp() { s_pApp = this; }

CFrameApp::~CFrameApp() {
    if (s_pApp == this) s_pApp = nullptr;
}

int RunFrameApp(HINSTANCE instance) {
    CFrameApp* app = CFrameApp::GetApp();
    if (app == nullptr) return -1;
    app->m_hInstance = instance;
    if (app->InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return app->ExitInstance();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything can load a DLL by name.
    os::RestrictDllSearchToSystemFolder();
    return RunFrameApp(instance);
}
