#include "kivds/camera/dshow/KIVSVCClient.h"

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include "kivds/platform/win32/ComPtr.h"
#include "kivds/camera/dshow/KIVSVCAccess.h"

namespace kiv {
namespace dshow {
namespace {

constexpr DWORD kApartmentNoOle1 = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE;  // 6
constexpr DWORD kServiceContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                  CLSCTX_REMOTE_SERVER;  // 23
static_assert(kApartmentNoOle1 == 6 && kServiceContext == 23, "published values");

class CKIVSVCClient final : public IKIVSVCClient {
public:
    CKIVSVCClient() {
        const HRESULT init = CoInitializeEx(nullptr, kApartmentNoOle1);
        if (SUCCEEDED(init)) m_comInitialised = true;
        if (FAILED(init) && init != RPC_E_CHANGED_MODE) return;
        CLSID clsid;
        if (FAILED(CLSIDFromProgID(L"KIVSVC.KIVSVCAccess.1", &clsid))) return;
        if (FAILED(CoCreateInstance(clsid, nullptr, kServiceContext, kIID_IKIVSVCAccess, m_access.PutVoid())))
            m_access.Reset();
    }
    ~CKIVSVCClient() override {
        m_access.Reset();  // before the apartment may go
        if (m_comInitialised) CoUninitialize();
    }
    CKIVSVCClient(const CKIVSVCClient&) = delete;
    CKIVSVCClient& operator=(const CKIVSVCClient&) = delete;

    bool HasInstance() const override { return static_cast<bool>(m_access); }
    void RegistryDeleteNodeInterfacesKey() override {
        long result = 0;
        if (m_access) m_access->RegistryDeleteNodeInterfacesKey(&result);
    }
    void CreateNodeInterfacesKeyForKIVVIEW() override {
        long result = 0;
        if (m_access) m_access->CreateNodeInterfacesKeyForKIVVIEW(&result);
    }

private:
    ComPtr<IKIVSVCAccess> m_access;
    bool m_comInitialised = false;
};

}  // namespace

std::unique_ptr<IKIVSVCClient> MakeComServiceClient() { return std::make_unique<CKIVSVCClient>(); }

}  // namespace dshow
}  // namespace kiv
