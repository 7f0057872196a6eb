// Identities of the registration service: names, GUIDs and the node-interface key.
#pragma once

#include <cstdint>

namespace kiv::svc {

// Service name and display name (also string resource 100 of the executable).
inline constexpr char kServiceName[] = "KIVSVC";
inline constexpr char kExecutableName[] = "KIVSVC.EXE";
inline constexpr char kServiceParameters[] = "-Service";
inline constexpr char kServiceDependencies[] = "RPCSS";

inline constexpr char kAppId[] = "{545D53AD-737A-4A2F-8133-7458E2E4FCDC}";
inline constexpr char kClsid[] = "{6E51B66C-6160-439F-B14A-73B5AD727CB4}";
inline constexpr char kClassDescription[] = "KIVSVCAccess Class";
inline constexpr char kProgId[] = "KIVSVC.KIVSVCAccess.1";
inline constexpr char kVersionIndependentProgId[] = "KIVSVC.KIVSVCAccess";
inline constexpr char kIid[] = "{23A5366E-1BA8-4BC2-9618-3DC243960039}";
inline constexpr char kLibId[] = "{479C96F9-FF99-4D80-9EC9-BF89F437E60B}";

// AppID subkey under HKEY_CLASSES_ROOT and the values the service registration adds.
inline constexpr char kAppIdRoot[] = "AppID";
inline constexpr char kAppIdKey[] = "AppID\\{545D53AD-737A-4A2F-8133-7458E2E4FCDC}";
inline constexpr char kLocalServiceValue[] = "LocalService";
inline constexpr char kServiceParametersValue[] = "ServiceParameters";
// Size of the buffer the start-up reads "LocalService" into.
inline constexpr std::size_t kLocalServiceBufferBytes = 260;

// The node-interface key under HKEY_LOCAL_MACHINE (the last part is the GUID
// of the camera's extension unit) and the three values it holds.
inline constexpr char kNodeInterfaceKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\NodeInterfaces\\{5A215226-3289-4156-894A-5C557CDF9664}";
inline constexpr char kNodeInterfaceHandlerName[] = "USB Extension Unit Interface Handler";
inline constexpr char kNodeInterfaceClsidValue[] = "CLSID";
inline constexpr char kNodeInterfaceIidValue[] = "IID";
// {A0432DA0-A887-45F8-B28B-6693C6B9E619} in memory order.
inline constexpr std::uint8_t kNodeInterfaceClsid[16] = {0xA0, 0x2D, 0x43, 0xA0, 0x87, 0xA8, 0xF8, 0x45,
                                                         0xB2, 0x8B, 0x66, 0x93, 0xC6, 0xB9, 0xE6, 0x19};
// {6E92B5C0-4D8A-402A-B56C-D2D292E0233B} in memory order.
inline constexpr std::uint8_t kNodeInterfaceIid[16] = {0xC0, 0xB5, 0x92, 0x6E, 0x8A, 0x4D, 0x2A, 0x40,
                                                       0xB5, 0x6C, 0xD2, 0xD2, 0x92, 0xE0, 0x23, 0x3B};

}  // namespace kiv::svc
