// CKIVSVCAccess in-process: class factory, aggregation, lock count and the
// IDispatch side answered from the embedded type library. The running marker
// does not exist here (no server loop), so the methods must leave the
// registry alone and answer S_FALSE.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "kivsvc_idl.h"
#include "kivsvc/win32/AccessObject.h"
#include "kivsvc/win32/ServiceModule.h"

namespace kiv::svc {
namespace {

// An outer object that counts the references it is given.
class CountingOuter : public IUnknown {
public:
    LONG refs = 1;
    int queries = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        ++queries;
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
};

class AccessObjectTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    IKIVSVCAccess* Create() {
        IKIVSVCAccess* access = nullptr;
        EXPECT_EQ(AccessClassFactory()->CreateInstance(nullptr, IID_IKIVSVCAccess, reinterpret_cast<void**>(&access)),
                  S_OK);
        return access;
    }
};

TEST_F(AccessObjectTest, FactoryHandsOutTheInterfacesAndCountsTheModuleLock) {
    const long before = Module().LockCount();
    IKIVSVCAccess* access = Create();
    ASSERT_NE(access, nullptr);
    EXPECT_EQ(Module().LockCount(), before + 1);

    IUnknown* unknown = nullptr;
    IDispatch* dispatch = nullptr;
    IClassFactory* notThere = nullptr;
    ASSERT_EQ(access->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(access->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<void*>(dispatch), static_cast<void*>(access));
    EXPECT_EQ(access->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&notThere)), E_NOINTERFACE);
    EXPECT_EQ(notThere, nullptr);
    unknown->Release();
    dispatch->Release();
    access->Release();
    EXPECT_EQ(Module().LockCount(), before);

    void* p = nullptr;
    EXPECT_EQ(AccessClassFactory()->CreateInstance(nullptr, IID_IClassFactory, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(Module().LockCount(), before);  // the failed creation freed its object

    EXPECT_EQ(AccessClassFactory()->LockServer(TRUE), S_OK);
    EXPECT_EQ(Module().LockCount(), before + 1);
    EXPECT_EQ(AccessClassFactory()->LockServer(FALSE), S_OK);
    EXPECT_EQ(Module().LockCount(), before);
}

TEST_F(AccessObjectTest, AggregationHandsOutTheInnerUnknownAndDelegatesTheRest) {
    CountingOuter outer;
    void* p = nullptr;
    EXPECT_EQ(AccessClassFactory()->CreateInstance(&outer, IID_IKIVSVCAccess, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);

    IUnknown* inner = nullptr;
    ASSERT_EQ(AccessClassFactory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    IKIVSVCAccess* access = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IKIVSVCAccess, reinterpret_cast<void**>(&access)), S_OK);
    EXPECT_EQ(outer.refs, 2);  // the interface's reference went to the outer object
    IUnknown* viaInterface = nullptr;
    EXPECT_EQ(access->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaInterface)), E_NOINTERFACE);
    EXPECT_EQ(outer.queries, 1);  // asked the outer object, which answered
    access->Release();
    EXPECT_EQ(outer.refs, 1);
    const long locked = Module().LockCount();
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(Module().LockCount(), locked - 1);
}

TEST_F(AccessObjectTest, MethodsWithoutTheRunningMarkerAnswerSFalseThroughBothPaths) {
    IKIVSVCAccess* access = Create();
    ASSERT_NE(access, nullptr);
    LONG ret = 4711;
    EXPECT_EQ(access->RegistryDeleteNodeInterfacesKey(&ret), S_FALSE);
    EXPECT_EQ(access->CreateNodeInterfacesKeyForKIVVIEW(&ret), S_FALSE);
    EXPECT_EQ(ret, 4711);
    EXPECT_EQ(access->RegistryDeleteNodeInterfacesKey(nullptr), E_POINTER);

    UINT count = 0;
    EXPECT_EQ(access->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(access->GetTypeInfo(0, 0x0409, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IKIVSVCAccess));
    info->ReleaseTypeAttr(attr);
    info->Release();
    EXPECT_EQ(access->GetTypeInfo(1, 0x0409, &info), DISP_E_BADINDEX);

    const wchar_t* names[] = {L"RegistryDeleteNodeInterfacesKey", L"CreateNodeInterfacesKeyForKIVVIEW"};
    for (int i = 0; i < 2; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = -1;
        EXPECT_EQ(access->GetIDsOfNames(IID_NULL, &name, 1, 0x0409, &id), S_OK);
        EXPECT_EQ(id, i + 1);
    }
    LPOLESTR unknownName = const_cast<LPOLESTR>(L"NoSuchMethod");
    DISPID id = 0;
    EXPECT_EQ(access->GetIDsOfNames(IID_NULL, &unknownName, 1, 0x0409, &id), DISP_E_UNKNOWNNAME);

    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    const HRESULT invoked = access->Invoke(1, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &result, nullptr, nullptr);
    EXPECT_TRUE(SUCCEEDED(invoked));
    EXPECT_TRUE(result.vt == VT_EMPTY || (result.vt == VT_I4 && result.lVal == 0)) << result.vt;
    VariantClear(&result);
    EXPECT_EQ(access->Invoke(99, IID_NULL, 0x0409, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    access->Release();
}

}  // namespace
}  // namespace kiv::svc
