#include "wine/camera/TestPropertyPage.h"

#include <ocidl.h>
#include <olectl.h>

#include <atomic>
#include <cstring>

#include "wine/camera/TestCameraCom.h"

namespace testcam {
namespace {

std::atomic<LONG> g_activated{0};

class PropertyPage final : public IPropertyPage, Counted {
public:
    KIV_REFCOUNT
    ~PropertyPage() {
        if (m_site) m_site->Release();
        if (m_window) DestroyWindow(m_window);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPage)) {
            *out = static_cast<IPropertyPage*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override {
        if (site) site->AddRef();
        if (m_site) m_site->Release();
        m_site = site;
        return S_OK;
    }
    STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL) override {
        if (m_window || !rect) return E_UNEXPECTED;
        m_window = CreateWindowExW(0, L"STATIC", L"KIV test camera", WS_CHILD, rect->left, rect->top,
                                   rect->right - rect->left, rect->bottom - rect->top, parent, nullptr, nullptr,
                                   nullptr);
        if (!m_window) return E_FAIL;
        ++g_activated;
        return S_OK;
    }
    STDMETHODIMP Deactivate() override {
        if (m_window) DestroyWindow(m_window);
        m_window = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override {
        if (!info) return E_POINTER;
        static const wchar_t kTitle[] = L"Camera";
        auto* title = static_cast<wchar_t*>(CoTaskMemAlloc(sizeof kTitle));
        if (!title) return E_OUTOFMEMORY;
        std::memcpy(title, kTitle, sizeof kTitle);
        info->cb = sizeof *info;
        info->pszTitle = title;
        info->size.cx = 240;
        info->size.cy = 120;
        info->pszDocString = nullptr;
        info->pszHelpFile = nullptr;
        info->dwHelpContext = 0;
        return S_OK;
    }
    STDMETHODIMP SetObjects(ULONG, IUnknown**) override { return S_OK; }
    STDMETHODIMP Show(UINT show) override {
        if (m_window) ShowWindow(m_window, static_cast<int>(show));
        return S_OK;
    }
    STDMETHODIMP Move(LPCRECT rect) override {
        if (m_window && rect)
            MoveWindow(m_window, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP IsPageDirty() override { return S_FALSE; }
    STDMETHODIMP Apply() override { return S_OK; }
    STDMETHODIMP Help(LPCOLESTR) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }

private:
    IPropertyPageSite* m_site = nullptr;
    HWND m_window = nullptr;
};

}  // namespace

IUnknown* NewTestPropertyPage() { return static_cast<IPropertyPage*>(new PropertyPage()); }

LONG TestPagesActivated() { return g_activated.load(); }

}  // namespace testcam
