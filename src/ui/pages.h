// The nine wizard pages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "ui/page_look.h"

// Dialog resources and control ids of the pages.
constexpr UINT IDD_WELCOME = 102;
constexpr UINT IDD_LICENSE = 129;
constexpr UINT IDD_DESTINATION = 131;
constexpr UINT IDD_START_MENU = 132;
constexpr UINT IDD_TASKS = 133;
constexpr UINT IDD_READY = 134;
constexpr UINT IDD_PROGRESS = 144;
constexpr UINT IDD_FINISH = 145;
constexpr UINT IDD_RESTART = 146;
constexpr int IDC_LICENSE_TEXT = 1007;
constexpr int IDC_ACCEPT = 1008;
constexpr int IDC_DECLINE = 1009;
constexpr int IDC_FOLDER_EDIT = 1015;
constexpr int IDC_BROWSE = 1016;
constexpr int IDC_DESKTOP_ICON = 1022;
constexpr int IDC_QUICK_LAUNCH_ICON = 1023;
constexpr int IDC_SUMMARY = 1026;
constexpr int IDC_TASK_LABEL = 1027;
constexpr int IDC_PROGRESS_BAR = 1029;
constexpr int IDC_LAUNCH = 1030;
constexpr int IDC_QUICK_START = 1033;
constexpr int IDC_FIREWALL_CHECK = 1037;
constexpr int IDC_DESTINATION_IMAGE = 1038;
constexpr int IDC_START_MENU_IMAGE = 1039;
constexpr int IDC_ICON_LABEL = 1040;
constexpr int IDC_FIREWALL_LABEL = 1041;
constexpr int PAGE_BACK = 1000;  // page result of Back

class CWelcomeDlg : public CWizardPage {
public:
    explicit CWelcomeDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnOK() override;
    void OnCancel() override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override { return m_icon; }
    void OnDestroy() override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR* result) override;
    bool IsRed(int id) const override { return id == IDC_BODY && m_failed != 0; }

private:
    static DWORD WINAPI InitThread(void* param);
    void RunInit();
    void EndThread();

    HFONT m_bodyFont = nullptr;
    HANDLE m_thread = nullptr;
    std::int32_t m_failed = 0;
    // Written by the thread before it posts its report.
    std::int32_t m_result = 0;
    std::string m_text;
    bool m_crashed = false;
    DWORD m_crashCode = 0;       // what the thread's guard caught
    std::uint64_t m_crashAddress = 0;
};

class CLicenseDlg : public CWizardPage {
public:
    explicit CLicenseDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;
};

class CSelectFolder : public CWizardPage {
public:
    explicit CSelectFolder(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;
    void OnDestroy() override;

private:
    CAlphaImage m_image;
};

class CProgramMenuFolderDlg : public CWizardPage {
public:
    explicit CProgramMenuFolderDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;
    void OnDestroy() override;

private:
    CAlphaImage m_image;
};

class CAdditionalTaskDlg : public CWizardPage {
public:
    explicit CAdditionalTaskDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;

private:
    void ReadChecks();
};

class CReadyDlg : public CWizardPage {
public:
    explicit CReadyDlg(const PageContext& context);
    std::string m_summary;

protected:
    BOOL OnInitDialog() override;
    void OnCommand(int id, int code) override;
    void OnOK() override;
};

class CProgressDlg : public CWizardPage {
public:
    explicit CProgressDlg(const PageContext& context);

    // The progress state the application points at while this page runs.
    std::int32_t m_target = 1;
    std::int32_t m_value = 1;
    std::int32_t m_direction = 1;

protected:
    BOOL OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
};

class CFinishDlg : public CWizardPage {
public:
    explicit CFinishDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnOK() override { OnCancel(); }  // Enter means Finish: there is no page after this one
    void OnCancel() override;
    bool IsRed(int id) const override { return id == IDC_BODY && m_context.host->Failed() != 0; }
};

class CFinishRestDlg : public CWizardPage {
public:
    explicit CFinishRestDlg(const PageContext& context);

protected:
    BOOL OnInitDialog() override;
    void LayOutPage() override;
    void OnCommand(int id, int code) override;
    void OnOK() override { OnCancel(); }  // Enter means Finish
    void OnCancel() override { End(IDCANCEL); }
    bool IsRed(int id) const override { return id == IDC_TITLE && m_context.host->Failed() != 0; }
};
