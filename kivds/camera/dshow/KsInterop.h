// Kernel-streaming pieces the cross compiler's headers lack or define in a
// form that clashes with <dshow.h>: the topology interface of a capture
// filter, the property interface of one of its nodes, and the node property
// request. Declared from their published definitions.
#pragma once

#include <objbase.h>

#include <cstdint>

namespace kiv {
namespace dshow {

// {720D4AC0-7533-11D0-A5D6-28DB04C10000}
constexpr GUID kIID_IKsTopologyInfo = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// {28F54685-06FD-11D2-B27A-00A0C9223196}
constexpr GUID kIID_IKsControl = {0x28F54685, 0x06FD, 0x11D2, {0xB2, 0x7A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// The sample grabber filter: {C1F400A0-3F08-11D3-9F0B-006008039E37}
constexpr GUID kCLSID_SampleGrabber = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

struct KsTopologyConnection {
    ULONG fromNode;
    ULONG fromNodePin;
    ULONG toNode;
    ULONG toNodePin;
};

struct IKsTopologyInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Category(DWORD index, GUID* category) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD index, KsTopologyConnection* info) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeName(DWORD node, WCHAR* name, DWORD bufferSize, DWORD* nameSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** out) = 0;
};

struct IKsControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE KsProperty(void* property, ULONG propertyLength, void* data, ULONG dataLength,
                                                 ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsMethod(void* method, ULONG methodLength, void* data, ULONG dataLength,
                                               ULONG* bytesReturned) = 0;
    virtual HRESULT STDMETHODCALLTYPE KsEvent(void* event, ULONG eventLength, void* data, ULONG dataLength,
                                              ULONG* bytesReturned) = 0;
};

// A property request addressed to one topology node.
#pragma pack(push, 4)
struct KspNode {
    GUID set;             // the extension unit's GUID
    std::uint32_t id;     // the control selector
    std::uint32_t flags;  // kKsProperty* below
    std::uint32_t nodeId;
    std::uint32_t reserved;  // 0
};
#pragma pack(pop)
static_assert(sizeof(KspNode) == 32, "KSP_NODE is 32 bytes");

constexpr std::uint32_t kKsPropertyGet = 0x1;
constexpr std::uint32_t kKsPropertySet = 0x2;
constexpr std::uint32_t kKsPropertySetSupport = 0x100;
constexpr std::uint32_t kKsPropertyTopology = 0x10000000;

}  // namespace dshow
}  // namespace kiv
