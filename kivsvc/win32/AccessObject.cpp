#include "kivsvc/win32/AccessObject.h"

#include <oleauto.h>

#include <new>

#include "kivsvc_idl.h"
#include "kivsvc/win32/ServiceModule.h"

namespace kiv::svc {
namespace {

// The dual interface IKIVSVCAccess; IDispatch is answered from the type
// library. Aggregation: the object's IUnknown methods go to the outer object
// when there is one, and the class factory hands out the inner IUnknown.
class CKIVSVCAccess final : public IKIVSVCAccess {
public:
    explicit CKIVSVCAccess(IUnknown* outer) : inner_(*this), outer_(outer ? outer : &inner_) { Module().Lock(); }
    ~CKIVSVCAccess() { Module().Unlock(); }
    CKIVSVCAccess(const CKIVSVCAccess&) = delete;
    CKIVSVCAccess& operator=(const CKIVSVCAccess&) = delete;

    IUnknown* Inner() { return &inner_; }

    // IUnknown, delegating
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return outer_->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo* ti = Module().AccessTypeInfo();
        if (!ti) return TYPE_E_CANTLOADLIBRARY;
        ti->AddRef();
        *info = ti;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* ti = Module().AccessTypeInfo();
        if (!ti) return TYPE_E_CANTLOADLIBRARY;
        return DispGetIDsOfNames(ti, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* ti = Module().AccessTypeInfo();
        if (!ti) return TYPE_E_CANTLOADLIBRARY;
        return DispInvoke(static_cast<IKIVSVCAccess*>(this), ti, id, flags, params, result, exception, argError);
    }

    // IKIVSVCAccess
    HRESULT STDMETHODCALLTYPE RegistryDeleteNodeInterfacesKey(LONG* plRetVal) override {
        return Forward(plRetVal, &NodeInterfaceAccess::RegistryDeleteNodeInterfacesKey);
    }
    HRESULT STDMETHODCALLTYPE CreateNodeInterfacesKeyForKIVVIEW(LONG* plRetVal) override {
        return Forward(plRetVal, &NodeInterfaceAccess::CreateNodeInterfacesKeyForKIVVIEW);
    }

private:
    // plRetVal is written only when the method answers S_OK.
    HRESULT Forward(LONG* plRetVal, HResult (NodeInterfaceAccess::*method)(std::int32_t*)) {
        if (!plRetVal) return E_POINTER;
        std::int32_t value = 0;
        const HResult hr = (Module().Access().*method)(&value);
        if (hr == kSOk) *plRetVal = value;
        return hr;
    }

    // The object's own IUnknown, which owns its lifetime.
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CKIVSVCAccess& owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            if (!ppv) return E_POINTER;
            if (riid == IID_IUnknown) {
                *ppv = static_cast<IUnknown*>(this);
            } else if (riid == IID_IDispatch || riid == IID_IKIVSVCAccess) {
                *ppv = static_cast<IKIVSVCAccess*>(&owner_);
            } else {
                *ppv = nullptr;
                return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*ppv)->AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
        ULONG STDMETHODCALLTYPE Release() override {
            const LONG left = InterlockedDecrement(&refs_);
            if (left == 0) delete &owner_;
            return static_cast<ULONG>(left);
        }

    private:
        CKIVSVCAccess& owner_;
        LONG refs_ = 1;
    };

    InnerUnknown inner_;
    IUnknown* outer_;
};

class AccessFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        // An aggregating caller must ask for the inner IUnknown.
        if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        CKIVSVCAccess* object = new (std::nothrow) CKIVSVCAccess(outer);
        if (!object) return E_OUTOFMEMORY;
        IUnknown* inner = object->Inner();
        const HRESULT hr = inner->QueryInterface(riid, ppv);
        inner->Release();  // drops the creation reference; frees the object when the query failed
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            Module().Lock();
        } else {
            Module().Unlock();
        }
        return S_OK;
    }
};

}  // namespace

IClassFactory* AccessClassFactory() {
    static AccessFactory factory;
    return &factory;
}

}  // namespace kiv::svc
