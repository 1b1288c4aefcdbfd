#include "app/user_launch.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

// The interface pointers a call hands out, released together on every path.
class CComRefs {
public:
    CComRefs() = default;
    ~CComRefs() {
        for (IUnknown* object : m_objects) {
            if (object != nullptr) object->Release();
        }
    }
    CComRefs(const CComRefs&) = delete;
    CComRefs& operator=(const CComRefs&) = delete;
    // The place for the next pointer.
    template <typename T>
    T** Next() {
        return reinterpret_cast<T**>(&m_objects[m_count++]);
    }

private:
    IUnknown* m_objects[8] = {};
    int m_count = 0;
};

// A BSTR of text; null for null text or when it cannot be made.
BSTR WideText(const char* text) {
    if (text == nullptr) return nullptr;
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    BSTR value = length > 0 ? ::SysAllocStringLen(nullptr, static_cast<UINT>(length - 1)) : nullptr;
    if (value != nullptr) ::MultiByteToWideChar(CP_ACP, 0, text, -1, value, length);
    return value;
}

// A VARIANT holding a string (VT_EMPTY for null text), cleared on every path.
struct CTextVariant {
    explicit CTextVariant(const char* text) {
        ::VariantInit(&value);
        value.bstrVal = WideText(text);
        if (value.bstrVal != nullptr) value.vt = VT_BSTR;
    }
    ~CTextVariant() { ::VariantClear(&value); }
    CTextVariant(const CTextVariant&) = delete;
    CTextVariant& operator=(const CTextVariant&) = delete;
    VARIANT value;
};

// Balances a successful CoInitializeEx on every path.
class CApartment {
public:
    CApartment() : m_ok(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~CApartment() {
        if (m_ok) ::CoUninitialize();
    }
    CApartment(const CApartment&) = delete;
    CApartment& operator=(const CApartment&) = delete;

private:
    bool m_ok;
};

}  // namespace

bool ShellOpenAsUser(const char* file, const char* parameters, const char* directory, int showCommand) {
    CApartment apartment;
    CComRefs refs;
    // The desktop window of the running shell, its view, and the shell's dispatch object
    // behind that view.
    IShellWindows** windows = refs.Next<IShellWindows>();
    if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  reinterpret_cast<void**>(windows)))) {
        return false;
    }
    VARIANT none;
    ::VariantInit(&none);
    long window = 0;
    IDispatch** desktop = refs.Next<IDispatch>();
    if ((*windows)->FindWindowSW(&none, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop) != S_OK ||
        *desktop == nullptr) {
        return false;
    }
    IServiceProvider** services = refs.Next<IServiceProvider>();
    IShellBrowser** browser = refs.Next<IShellBrowser>();
    IShellView** view = refs.Next<IShellView>();
    IDispatch** background = refs.Next<IDispatch>();
    IShellFolderViewDual** folderView = refs.Next<IShellFolderViewDual>();
    IDispatch** application = refs.Next<IDispatch>();
    IShellDispatch2** shell = refs.Next<IShellDispatch2>();
    if (FAILED((*desktop)->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(services))) ||
        FAILED((*services)->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(browser))) ||
        FAILED((*browser)->QueryActiveShellView(view)) ||
        FAILED((*view)->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background))) ||
        FAILED((*background)->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(folderView))) ||
        FAILED((*folderView)->get_Application(application)) ||
        FAILED((*application)->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(shell)))) {
        return false;
    }
    CTextVariant name(file), arguments(parameters), folder(directory), operation("open");
    VARIANT show;
    ::VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = showCommand;
    return name.value.vt == VT_BSTR &&
           SUCCEEDED((*shell)->ShellExecute(name.value.bstrVal, arguments.value, folder.value, operation.value, show));
}
