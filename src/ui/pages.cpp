#include "ui/pages.h"

#include <commctrl.h>
#include <richedit.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "app/exception_guard.h"
#include "ui/wizard_logic.h"

namespace {

constexpr UINT WM_INIT_REPORT = WM_APP + 1;
constexpr UINT_PTR PROGRESS_TIMER = 222;
constexpr UINT PROGRESS_PERIOD = 150;
constexpr DWORD THREAD_WAIT = 10000;
const char BROWSE_TITLE[] = "Select folder in the list below, then click OK";

// The failure texts (strings 51, 52, 67 and 68) need more lines than the body's place on the
// closing pages. On failure the finish page's body takes the room of its hidden check
// boxes; the restart page's body grows and its two radio buttons move down below it, still
// above the line at 172. Dialog units.
constexpr int FAILED_FINISH_BODY_HEIGHT = 48;
constexpr int UNRESTORED_FINISH_BODY_HEIGHT = 64;  // string 67: what stayed, and what to do
constexpr int FAILED_RESTART_BODY_HEIGHT = 72;
constexpr int FAILED_RESTART_YES_TOP = 148;
constexpr int FAILED_RESTART_NO_TOP = 160;

// The licence bytes the Rich Edit control reads through the stream callback.
struct LicenseStream {
    const char* data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t position = 0;
};
LicenseStream g_license;

DWORD CALLBACK LicenseCallback(DWORD_PTR, LPBYTE buffer, LONG requested, LONG* copied)
{
    *copied = 0;
    if (!g_license.data)
        return ERROR_INVALID_PARAMETER;
    const std::uint32_t left = g_license.size - g_license.position;
    const std::uint32_t wanted = requested > 0 ? static_cast<std::uint32_t>(requested) : 0;
    const std::uint32_t count = wanted < left ? wanted : left;
    std::memcpy(buffer, g_license.data + g_license.position, count);
    g_license.position += count;
    *copied = static_cast<LONG>(count);
    return 0;
}

// The picked folder's file-system path, or empty.
std::string PathOfItem(LPITEMIDLIST item)
{
    if (!item)
        return std::string();
    char path[MAX_PATH] = "";
    const bool ok = ::SHGetPathFromIDListA(item, path) != FALSE;
    ::CoTaskMemFree(item);
    return ok ? std::string(path) : std::string();
}

}  // namespace

// Welcome

CWelcomeDlg::CWelcomeDlg(const PageContext& context) : CWizardPage(IDD_WELCOME, context, {IDC_TITLE, IDC_BODY}) {}

BOOL CWelcomeDlg::OnInitDialog()
{
    IWizardHost& host = Host();
    SetText(IDC_TITLE, FormatText(63, Product(), host.VersionText()));
    SetText(IDC_BODY, LoadText(36));
    SetText(IDCANCEL, "Cancel");
    Enable(IDC_BACK, false);
    Enable(IDOK, false);
    Enable(IDCANCEL, false);
    ApplyCommonLook(false, true);
    m_failed = 0;
    m_crashed = false;

    DWORD id = 0;
    m_thread = ::CreateThread(nullptr, 0, &CWelcomeDlg::InitThread, this, CREATE_SUSPENDED, &id);
    if (!m_thread) {
        const std::string text = FormatCodes(37, ::GetLastError());
        ::MessageBoxA(Hwnd(), text.c_str(), Product(), MB_OK | MB_ICONERROR);
        Enable(IDCANCEL, true);
        End(IDCANCEL);
        return FALSE;
    }
    ::ResumeThread(m_thread);
    return FALSE;  // no control takes input until the thread reports
}

void CWelcomeDlg::LayOutPage()
{
    MakeTitleFont(IDC_TITLE);
    if (m_bodyFont)
        ::DeleteObject(m_bodyFont);
    m_bodyFont = ::CreateFontA(ScaleForDpi(m_dpi, 16), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, "Verdana");
    if (m_bodyFont)
        ::SendMessageA(Item(IDC_BODY), WM_SETFONT, reinterpret_cast<WPARAM>(m_bodyFont), FALSE);
}

DWORD WINAPI CWelcomeDlg::InitThread(void* param)
{
    // The same guard as the install worker's: a fault while the package is read and
    // inflated is reported with its code and address instead of ending the program.
    auto* self = static_cast<CWelcomeDlg*>(param);
    CallGuarded([](void* page) { static_cast<CWelcomeDlg*>(page)->RunInit(); },
                [](void* page, DWORD code, std::uint64_t address, bool) {
                    auto* dialog = static_cast<CWelcomeDlg*>(page);
                    dialog->m_crashCode = code;
                    dialog->m_crashAddress = address;
                    dialog->m_crashed = true;
                    // A fault that could not unwind ends this thread right after the report.
                    ::PostMessageA(dialog->Hwnd(), WM_INIT_REPORT, 0, 0);
                },
                self);
    if (!self->m_crashed)
        ::PostMessageA(self->Hwnd(), WM_INIT_REPORT, 0, 0);
    return 0;
}

void CWelcomeDlg::RunInit()
{
    ::Sleep(1000);
    IWizardHost& host = Host();
    std::string message;
    m_result = 0;
    if (host.CheckInstalledVersion(&message) == 1) {
        m_result = 1;
        m_text = message;  // finished text, possibly from the pipe: shown as it is
        return;
    }
    const int status = host.InitSetupModules(&message);
    if (status != 0) {
        m_result = status;
        char text[1024];
        std::snprintf(text, sizeof(text), message.c_str(), Product());
        m_text = text;
        return;
    }
    m_text = FormatText(2, Product(), host.VersionText());
}

bool CWelcomeDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result)
{
    if (msg != WM_INIT_REPORT)
        return CWizardPage::OnMessage(msg, wParam, lParam, result);
    *result = 0;
    if (m_crashed) {
        const std::string text = FormatCodes(34, m_crashCode, static_cast<unsigned>(m_crashAddress & 0xFFFFFFFFu));
        ::MessageBoxA(Hwnd(), text.c_str(), Product(), MB_OK | MB_ICONERROR);
        Enable(IDCANCEL, true);
        Enable(IDOK, false);
        FocusFirst();
        return true;
    }
    m_failed = m_result;
    if (m_failed == 0)
        Enable(IDOK, true);
    SetText(IDC_BODY, m_text);
    if (m_failed != 0)
        SetText(IDCANCEL, "Exit");
    Enable(IDCANCEL, true);
    FocusFirst();  // Next, or Exit when installing is refused
    return true;
}

void CWelcomeDlg::EndThread()
{
    if (!m_thread)
        return;
    if (::WaitForSingleObject(m_thread, THREAD_WAIT) != WAIT_OBJECT_0)
        ::TerminateThread(m_thread, static_cast<DWORD>(-1));
    ::CloseHandle(m_thread);
    m_thread = nullptr;
}

void CWelcomeDlg::OnOK()
{
    EndThread();  // it has reported already: Next is enabled only then
    SavePosition();
    End(IDOK);
}

void CWelcomeDlg::OnCancel()
{
    if (m_failed == 0 && !m_crashed && !AskCancel())
        return;
    EndThread();
    End(IDCANCEL);
}

bool CWelcomeDlg::OnPaint()
{
    if (!::IsIconic(Hwnd()))
        return false;
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(Hwnd(), &ps);
    RECT r;
    ::GetClientRect(Hwnd(), &r);
    const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
    ::DrawIcon(dc, (r.right - r.left - cx + 1) / 2, (r.bottom - r.top - cy + 1) / 2, m_icon);
    ::EndPaint(Hwnd(), &ps);
    return true;
}

void CWelcomeDlg::OnDestroy()
{
    EndThread();  // the dialog may end another way (creation failure)
    if (m_bodyFont)
        ::DeleteObject(m_bodyFont);
    m_bodyFont = nullptr;
    CWizardPage::OnDestroy();
}

// Licence

CLicenseDlg::CLicenseDlg(const PageContext& context) : CWizardPage(IDD_LICENSE, context, {1010, 1011}) {}

BOOL CLicenseDlg::OnInitDialog()
{
    SetHeading(1011, LoadText(4), 1010, LoadText(5));
    const bool accepted = Host().WizardOptions().licenceAccepted == 1;
    Check(IDC_ACCEPT, accepted);
    Check(IDC_DECLINE, !accepted);
    Enable(IDOK, accepted);

    const void* data = nullptr;
    std::uint32_t size = 0;
    g_license = LicenseStream();
    if (Host().LoadLicenseText(&data, &size) && data) {
        g_license.data = static_cast<const char*>(data);
        g_license.size = size;
    }
    EDITSTREAM stream = {0, 0, &LicenseCallback};
    ::SendMessageA(Item(IDC_LICENSE_TEXT), EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
    ::SendMessageA(Item(IDC_LICENSE_TEXT), EM_SETTARGETDEVICE, 0, 0);
    g_license = LicenseStream();
    ApplyCommonLook(true, false);  // the focus on the licence text, to be read and scrolled
    return FALSE;
}

void CLicenseDlg::LayOutPage()
{
    // The text's own point sizes, drawn at the system's DPI, follow the page's.
    const int system = ScreenDpi();
    ::SendMessageA(Item(IDC_LICENSE_TEXT), EM_SETZOOM, m_dpi == system ? 0 : m_dpi, m_dpi == system ? 0 : system);
}

void CLicenseDlg::OnCommand(int id, int code)
{
    if (id == IDC_ACCEPT && code == BN_CLICKED) {
        Host().WizardOptions().licenceAccepted = 1;
        Enable(IDOK, true);
    } else if (id == IDC_DECLINE && code == BN_CLICKED) {
        Host().WizardOptions().licenceAccepted = 0;
        Enable(IDOK, false);
    } else if (id == IDC_BACK) {
        End(PAGE_BACK);
    } else {
        CDialog::OnCommand(id, code);
    }
}

void CLicenseDlg::OnOK()
{
    SavePosition();
    End(IDOK);
}

// Destination folder

CSelectFolder::CSelectFolder(const PageContext& context) : CWizardPage(IDD_DESTINATION, context, {1017, 1018}) {}

BOOL CSelectFolder::OnInitDialog()
{
    SetHeading(1017, LoadText(6), 1018, FormatText(7, Product()));
    SetText(IDC_FOLDER_EDIT, Host().WizardOptions().targetFolder);
    ApplyCommonLook(true, false);
    return FALSE;
}

void CSelectFolder::LayOutPage()
{
    m_image.Load(Item(IDC_DESTINATION_IMAGE), 152, m_dpi);
}

void CSelectFolder::OnCommand(int id, int code)
{
    if (id == IDC_BROWSE && code == BN_CLICKED) {
        char name[MAX_PATH] = "";
        BROWSEINFOA bi;
        std::memset(&bi, 0, sizeof(bi));
        bi.hwndOwner = Hwnd();
        bi.pszDisplayName = name;
        bi.lpszTitle = BROWSE_TITLE;
        const std::string picked = PathOfItem(::SHBrowseForFolderA(&bi));
        if (!picked.empty()) {
            std::string& target = Host().WizardOptions().targetFolder;
            target = DestinationFromPicked(picked, Product());
            SetText(IDC_FOLDER_EDIT, target);
        }
    } else if (id == IDC_BACK) {
        End(PAGE_BACK);
    } else {
        CDialog::OnCommand(id, code);
    }
}

void CSelectFolder::OnOK()
{
    Host().WizardOptions().targetFolder = Text(IDC_FOLDER_EDIT);
    SavePosition();
    End(IDOK);
}

void CSelectFolder::OnDestroy()
{
    m_image.Release();
    CWizardPage::OnDestroy();
}

// Start Menu folder

CProgramMenuFolderDlg::CProgramMenuFolderDlg(const PageContext& context)
    : CWizardPage(IDD_START_MENU, context, {1018, 1019})
{
}

BOOL CProgramMenuFolderDlg::OnInitDialog()
{
    SetHeading(1019, LoadText(8), 1018, LoadText(9));
    SetText(IDC_FOLDER_EDIT, Host().WizardOptions().startMenuFolder);
    ApplyCommonLook(true, false);
    return FALSE;
}

void CProgramMenuFolderDlg::LayOutPage()
{
    m_image.Load(Item(IDC_START_MENU_IMAGE), 154, m_dpi);
}

void CProgramMenuFolderDlg::OnCommand(int id, int code)
{
    if (id == IDC_BROWSE && code == BN_CLICKED) {
        IMalloc* allocator = nullptr;
        if (FAILED(::SHGetMalloc(&allocator)) || !allocator)
            return;
        LPITEMIDLIST root = nullptr;
        ::SHGetSpecialFolderLocation(Hwnd(), CSIDL_COMMON_PROGRAMS, &root);
        char name[MAX_PATH] = "Tessaport";
        BROWSEINFOA bi;
        std::memset(&bi, 0, sizeof(bi));
        bi.hwndOwner = Hwnd();
        bi.pidlRoot = root;
        bi.pszDisplayName = name;
        bi.lpszTitle = BROWSE_TITLE;
        const std::string picked = PathOfItem(::SHBrowseForFolderA(&bi));
        if (!picked.empty()) {
            std::string& folder = Host().WizardOptions().startMenuFolder;
            folder = StartMenuFromPicked(picked, Product());
            SetText(IDC_FOLDER_EDIT, folder);
        }
        if (root)
            allocator->Free(root);
        allocator->Release();
    } else if (id == IDC_BACK) {
        End(PAGE_BACK);
    } else {
        CDialog::OnCommand(id, code);
    }
}

void CProgramMenuFolderDlg::OnOK()
{
    Host().WizardOptions().startMenuFolder = Text(IDC_FOLDER_EDIT);
    SavePosition();
    End(IDOK);
}

void CProgramMenuFolderDlg::OnDestroy()
{
    m_image.Release();
    CWizardPage::OnDestroy();
}

// Additional tasks

CAdditionalTaskDlg::CAdditionalTaskDlg(const PageContext& context) : CWizardPage(IDD_TASKS, context, {1020, 1021}) {}

BOOL CAdditionalTaskDlg::OnInitDialog()
{
    SetHeading(1020, LoadText(10), 1021, LoadText(11));
    InstallOptions& options = Host().WizardOptions();
    Check(IDC_DESKTOP_ICON, options.desktopIcon != 0);
    Check(IDC_QUICK_LAUNCH_ICON, options.quickLaunchIcon != 0);
    Check(IDC_FIREWALL_CHECK, options.firewallRules != 0);

    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (::GetVersionExA(&version) && version.dwMajorVersion == 6 && version.dwMinorVersion > 0) {
        Show(IDC_QUICK_LAUNCH_ICON, false);
        Enable(IDC_QUICK_LAUNCH_ICON, false);
        Check(IDC_QUICK_LAUNCH_ICON, false);
    }

    // Firewall rules are not offered here.
    Check(IDC_FIREWALL_CHECK, false);
    Show(IDC_FIREWALL_LABEL, false);
    Show(IDC_FIREWALL_CHECK, false);
    ApplyCommonLook(true, false);
    return FALSE;
}

void CAdditionalTaskDlg::LayOutPage()
{
    // The icon choices move up into the hidden firewall choice's place.
    RECT firewall, icons;
    ::GetWindowRect(Item(IDC_FIREWALL_LABEL), &firewall);
    ::GetWindowRect(Item(IDC_ICON_LABEL), &icons);
    const LONG shift = icons.top - firewall.top;
    for (int id : {IDC_ICON_LABEL, IDC_DESKTOP_ICON, IDC_QUICK_LAUNCH_ICON}) {
        RECT r;
        ::GetWindowRect(Item(id), &r);
        ::MapWindowPoints(nullptr, Hwnd(), reinterpret_cast<POINT*>(&r), 2);
        ::SetWindowPos(Item(id), nullptr, r.left, r.top - shift, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

void CAdditionalTaskDlg::ReadChecks()
{
    InstallOptions& options = Host().WizardOptions();
    options.desktopIcon = Checked(IDC_DESKTOP_ICON) ? 1 : 0;
    options.quickLaunchIcon = Checked(IDC_QUICK_LAUNCH_ICON) ? 1 : 0;
    options.firewallRules = Checked(IDC_FIREWALL_CHECK) ? 1 : 0;
}

void CAdditionalTaskDlg::OnCommand(int id, int code)
{
    if (id == IDC_BACK) {
        ReadChecks();
        End(PAGE_BACK);
    } else {
        CDialog::OnCommand(id, code);
    }
}

void CAdditionalTaskDlg::OnOK()
{
    ReadChecks();
    SavePosition();
    End(IDOK);
}

// Ready

CReadyDlg::CReadyDlg(const PageContext& context) : CWizardPage(IDD_READY, context, {1024, 1025}) {}

BOOL CReadyDlg::OnInitDialog()
{
    SetHeading(1024, LoadText(12), 1025, LoadText(13));
    SetText(IDC_SUMMARY, m_summary);
    ApplyCommonLook(true, false);  // the focus on the summary, unselected; Enter installs
    return FALSE;
}

void CReadyDlg::OnCommand(int id, int code)
{
    if (id == IDC_BACK)
        End(PAGE_BACK);
    else
        CDialog::OnCommand(id, code);
}

void CReadyDlg::OnOK()
{
    SavePosition();
    End(IDOK);
}

// Progress

CProgressDlg::CProgressDlg(const PageContext& context) : CWizardPage(IDD_PROGRESS, context, {1028}) {}

BOOL CProgressDlg::OnInitDialog()
{
    ::SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETRANGE32, 0, 100);
    ::SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, 0, 0);
    m_target = 1;
    m_value = 1;
    m_direction = 1;
    SetHeading(1028, LoadText(33), 0, std::string());
    ::SetTimer(Hwnd(), PROGRESS_TIMER, PROGRESS_PERIOD, nullptr);
    Host().AttachProgress(&m_target, &m_value, &m_direction, Item(IDC_TASK_LABEL));
    if (Host().StartInstallThread(Hwnd()) != 0) {
        End(IDCANCEL);
        return TRUE;
    }
    ApplyCommonLook(true, false);
    return FALSE;
}

void CProgressDlg::OnTimer(UINT_PTR id)
{
    if (id != PROGRESS_TIMER)
        return;
    std::int32_t bar = 0;
    if (ProgressTick(m_target, &m_value, m_direction, &bar))
        End(IDOK);
    else
        ::SendMessageA(Item(IDC_PROGRESS_BAR), PBM_SETPOS, static_cast<WPARAM>(bar), 0);
}

void CProgressDlg::OnDestroy()
{
    ::KillTimer(Hwnd(), PROGRESS_TIMER);
    CWizardPage::OnDestroy();
}

// Finish

CFinishDlg::CFinishDlg(const PageContext& context)
    : CWizardPage(IDD_FINISH, context, {IDC_TITLE, IDC_BODY, IDC_LAUNCH, IDC_QUICK_START})
{
}

BOOL CFinishDlg::OnInitDialog()
{
    SetText(IDC_LAUNCH, FormatText(41, "Tessaport RDP Edition"));
    if (Host().Failed()) {
        SetText(IDC_TITLE, FormatText(53, Product()));
        // Never a claim of a restored machine that was not restored.
        const bool restored = Host().Failed() != INSTALL_FAILED_NOT_RESTORED;
        SetText(IDC_BODY, FormatText(restored ? 51 : 67, Product(), Product()));
        for (int id : {IDC_LAUNCH, IDC_QUICK_START}) {
            Show(id, false);
            Enable(id, false);
        }
    } else {
        SetText(IDC_TITLE, FormatText(38, Product()));
        SetText(IDC_BODY, FormatText(39, Product()));
        SetText(IDC_QUICK_START, LoadText(58));
        Check(IDC_LAUNCH, true);
        Check(IDC_QUICK_START, true);
    }
    ApplyCommonLook(true, true);
    return FALSE;
}

void CFinishDlg::LayOutPage()
{
    MakeTitleFont(IDC_TITLE);
    if (Host().Failed())
        SetItemHeight(IDC_BODY, Host().Failed() != INSTALL_FAILED_NOT_RESTORED ? FAILED_FINISH_BODY_HEIGHT
                                                                              : UNRESTORED_FINISH_BODY_HEIGHT);
}

void CFinishDlg::OnCancel()
{
    InstallOptions& options = Host().WizardOptions();
    options.launchProgram = Checked(IDC_LAUNCH) ? 1 : 0;
    options.openQuickStart = Checked(IDC_QUICK_START) ? 1 : 0;
    End(IDCANCEL);
}

// Finish with restart

CFinishRestDlg::CFinishRestDlg(const PageContext& context)
    : CWizardPage(IDD_RESTART, context, {IDC_TITLE, IDC_BODY, IDC_ACCEPT, IDC_DECLINE})
{
}

BOOL CFinishRestDlg::OnInitDialog()
{
    const bool restart = Host().RestartFlag() == 1;
    Check(IDC_ACCEPT, restart);
    Check(IDC_DECLINE, !restart);
    if (Host().Failed()) {
        SetText(IDC_TITLE, FormatText(53, Product()));
        const UINT body = Host().Failed() == INSTALL_FAILED_NOT_RESTORED ? 68 : 52;
        SetText(IDC_BODY, FormatText(body, Product(), Product()));
    } else {
        SetText(IDC_TITLE, FormatText(38, Product()));
        SetText(IDC_BODY, FormatText(40, Product()));
    }
    ApplyCommonLook(true, true);
    return FALSE;
}

void CFinishRestDlg::LayOutPage()
{
    MakeTitleFont(IDC_TITLE);
    if (Host().Failed()) {
        SetItemHeight(IDC_BODY, FAILED_RESTART_BODY_HEIGHT);
        SetItemTop(IDC_ACCEPT, FAILED_RESTART_YES_TOP);
        SetItemTop(IDC_DECLINE, FAILED_RESTART_NO_TOP);
    }
}

void CFinishRestDlg::OnCommand(int id, int code)
{
    if (id == IDC_ACCEPT && code == BN_CLICKED)
        Host().RestartFlag() = 1;
    else if (id == IDC_DECLINE && code == BN_CLICKED)
        Host().RestartFlag() = 0;
    else
        CDialog::OnCommand(id, code);
}
