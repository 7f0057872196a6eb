// The service's dual interface as this client calls it: its two methods
// follow the seven IDispatch slots, each with a 32-bit result out-parameter
// (the server's type library describes the same layout). Needs <oaidl.h>
// (through <windows.h> or <objbase.h>) before it.
//
// The interface is implemented only in the server's process, so nothing in
// this program derives from it. It must therefore keep external linkage: a
// declaration inside an unnamed namespace tells the optimiser that every
// implementation is visible in the one translation unit, and with none there
// it proves the calls unreachable and compiles them into a jump to nowhere.
#pragma once

namespace kiv {
namespace dshow {

// {23A5366E-1BA8-4BC2-9618-3DC243960039}
inline constexpr IID kIID_IKIVSVCAccess = {0x23A5366E,
                                           0x1BA8,
                                           0x4BC2,
                                           {0x96, 0x18, 0x3D, 0xC2, 0x43, 0x96, 0x00, 0x39}};

struct IKIVSVCAccess : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE RegistryDeleteNodeInterfacesKey(long* retVal) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInterfacesKeyForKIVVIEW(long* retVal) = 0;
};

}  // namespace dshow
}  // namespace kiv
