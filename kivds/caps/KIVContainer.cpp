#include "kivds/caps/KIVContainer.h"

#include <cstring>
#include <limits>

#include "kivds/protocol/TwainMemory.h"

namespace kiv {

using namespace twain;

namespace {

// Byte offsets of the TWAIN container records (2-byte packing).
constexpr std::size_t kOneValueItemType = 0;
constexpr std::size_t kOneValueItem = 2;
constexpr std::size_t kOneValueSize = 6;
constexpr std::size_t kEnumItemType = 0;
constexpr std::size_t kEnumNumItems = 2;
constexpr std::size_t kEnumCurrentIndex = 6;
constexpr std::size_t kEnumDefaultIndex = 10;
constexpr std::size_t kEnumItems = 14;
constexpr std::size_t kEnumHeaderAlloc = 16;  // sizeof(TW_ENUMERATION)
constexpr std::size_t kArrayItemType = 0;
constexpr std::size_t kArrayNumItems = 2;
constexpr std::size_t kArrayItems = 6;
constexpr std::size_t kArrayHeaderAlloc = 8;  // sizeof(TW_ARRAY)

static_assert(offsetof(TW_ONEVALUE, Item) == kOneValueItem && sizeof(TW_ONEVALUE) == kOneValueSize, "TW_ONEVALUE");
static_assert(offsetof(TW_ENUMERATION, NumItems) == kEnumNumItems &&
                  offsetof(TW_ENUMERATION, CurrentIndex) == kEnumCurrentIndex &&
                  offsetof(TW_ENUMERATION, DefaultIndex) == kEnumDefaultIndex &&
                  offsetof(TW_ENUMERATION, ItemList) == kEnumItems && sizeof(TW_ENUMERATION) == kEnumHeaderAlloc,
              "TW_ENUMERATION");
static_assert(offsetof(TW_ARRAY, NumItems) == kArrayNumItems && offsetof(TW_ARRAY, ItemList) == kArrayItems &&
                  sizeof(TW_ARRAY) == kArrayHeaderAlloc,
              "TW_ARRAY");

template <class T>
void Put(std::uint8_t* dst, T value) {
    std::memcpy(dst, &value, sizeof value);
}

template <class T>
T Take(const std::uint8_t* src) {
    T value;
    std::memcpy(&value, src, sizeof value);
    return value;
}

// A block from MemAllocate that is freed unless handed over with Release.
class AllocatedHandle {
public:
    explicit AllocatedHandle(std::size_t size)
        : handle_(size <= std::numeric_limits<TW_UINT32>::max() ? MemAllocate(static_cast<TW_UINT32>(size)) : nullptr) {
    }
    ~AllocatedHandle() {
        if (handle_) MemFree(handle_);
    }
    AllocatedHandle(const AllocatedHandle&) = delete;
    AllocatedHandle& operator=(const AllocatedHandle&) = delete;
    TW_HANDLE Get() const { return handle_; }
    TW_HANDLE Release() {
        TW_HANDLE h = handle_;
        handle_ = nullptr;
        return h;
    }

private:
    TW_HANDLE handle_;
};

// Allocates `size` bytes, lets `fill` write them while locked, and returns the
// unlocked handle; null (and nothing left allocated) when any step fails.
template <class Fill>
TW_HANDLE BuildContainer(std::size_t size, Fill fill) {
    AllocatedHandle block(size);
    if (!block.Get()) return nullptr;
    {
        MemLockGuard lock(block.Get());
        if (!lock.Data()) return nullptr;
        fill(static_cast<std::uint8_t*>(lock.Data()));
    }
    return block.Release();
}

// Allowed values match exactly: Bool in 16 bits, Int in 32, Fix32 by Whole and Frac.
bool Same(TW_UINT16 a, TW_UINT16 b) { return a == b; }
bool Same(TW_INT32 a, TW_INT32 b) { return a == b; }
bool Same(const TW_FIX32& a, const TW_FIX32& b) { return a.Whole == b.Whole && a.Frac == b.Frac; }

template <class T>
std::size_t FirstMatch(const std::vector<T>& values, const T& v) {
    std::size_t i = 0;
    while (i < values.size() && !Same(values[i], v)) ++i;
    return i;
}

}  // namespace

// ---------------------------------------------------------------------------
// CKIVContainer

CKIVContainer::CKIVContainer(TW_UINT16 capId, TW_UINT16 itemType, TW_UINT16 getConType, TW_UINT16 supportedMsgs,
                             TW_INT32 appIsTwain2)
    : m_capId(capId),
      m_itemType(itemType),
      m_getConType(getConType),
      m_supportedMsgs(supportedMsgs),
      m_appIsTwain2(appIsTwain2) {}

CKIVContainer::~CKIVContainer() = default;

TW_UINT16 CKIVContainer::GetCapId() const { return m_capId; }
TW_UINT16 CKIVContainer::GetItemType() const { return m_itemType; }
TW_UINT16 CKIVContainer::GetConType() const { return m_getConType; }

TW_HANDLE CKIVContainer::QuerySupport(TW_UINT16* conType) {
    const TW_HANDLE h = BuildContainer(kOneValueSize, [this](std::uint8_t* p) {
        Put<TW_UINT16>(p + kOneValueItemType, TWTY_INT32);
        Put<TW_UINT32>(p + kOneValueItem, m_supportedMsgs);
    });
    if (h && conType) *conType = TWON_ONEVALUE;
    return h;
}

bool CKIVContainer::ItemSize(TW_UINT16 itemType, TW_UINT16* size) const {
    static constexpr TW_UINT16 kSizes[] = {
        1,     // TWTY_INT8
        2,     // TWTY_INT16
        4,     // TWTY_INT32
        1,     // TWTY_UINT8
        2,     // TWTY_UINT16
        4,     // TWTY_UINT32
        2,     // TWTY_BOOL
        4,     // TWTY_FIX32
        16,    // TWTY_FRAME
        34,    // TWTY_STR32
        66,    // TWTY_STR64
        130,   // TWTY_STR128
        256,   // TWTY_STR255
        1026,  // TWTY_STR1024
        1024,  // TWTY_UNI512
    };
    static_assert(sizeof kSizes / sizeof kSizes[0] == TWTY_UNI512 + 1u, "one size per item type");
    if (itemType > TWTY_UNI512) return false;
    if (size) *size = kSizes[itemType];
    return true;
}

bool CKIVContainer::IsMsgSupported(TW_UINT16 msg) const {
    TW_UINT16 bit = 0;
    switch (msg) {
        case MSG_GET: bit = TWQC_GET; break;
        case MSG_GETCURRENT: bit = TWQC_GETCURRENT; break;
        case MSG_GETDEFAULT: bit = TWQC_GETDEFAULT; break;
        case MSG_SET: bit = TWQC_SET; break;
        case MSG_RESET: bit = TWQC_RESET; break;
        default: return false;
    }
    return (m_supportedMsgs & bit) != 0;
}

// ---------------------------------------------------------------------------
// Traits

bool BoolTraits::Accepts(ValueType value) { return value == 0 || value == 1; }
bool BoolTraits::ElementWidth(TW_UINT16, std::size_t* width) {
    *width = 2;
    return true;
}
void BoolTraits::WriteItem(std::uint8_t* dst, ValueType value) { Put<TW_UINT32>(dst, value); }
// Only the first 16 bits of a Bool Item count.
BoolTraits::ValueType BoolTraits::ReadItem(const std::uint8_t* src) { return Take<TW_UINT16>(src); }
void BoolTraits::WriteElement(std::uint8_t* dst, ValueType value, std::size_t) { Put<TW_UINT16>(dst, value); }
BoolTraits::ValueType BoolTraits::ReadElement(const std::uint8_t* src, TW_UINT16) { return Take<TW_UINT16>(src); }

bool IntTraits::Accepts(ValueType) { return true; }
bool IntTraits::ElementWidth(TW_UINT16 itemType, std::size_t* width) {
    switch (itemType) {
        case TWTY_INT8:
        case TWTY_UINT8: *width = 1; return true;
        case TWTY_INT16:
        case TWTY_UINT16: *width = 2; return true;
        case TWTY_INT32:
        case TWTY_UINT32: *width = 4; return true;
        default: return false;
    }
}
void IntTraits::WriteItem(std::uint8_t* dst, ValueType value) { Put<TW_INT32>(dst, value); }
IntTraits::ValueType IntTraits::ReadItem(const std::uint8_t* src) { return Take<TW_INT32>(src); }
void IntTraits::WriteElement(std::uint8_t* dst, ValueType value, std::size_t width) {
    const auto bits = static_cast<std::uint32_t>(value);
    switch (width) {
        case 1: Put<std::uint8_t>(dst, static_cast<std::uint8_t>(bits)); break;
        case 2: Put<std::uint16_t>(dst, static_cast<std::uint16_t>(bits)); break;
        default: Put<std::uint32_t>(dst, bits); break;
    }
}
IntTraits::ValueType IntTraits::ReadElement(const std::uint8_t* src, TW_UINT16 itemType) {
    switch (itemType) {
        case TWTY_INT8: return Take<std::int8_t>(src);
        case TWTY_UINT8: return Take<std::uint8_t>(src);
        case TWTY_INT16: return Take<std::int16_t>(src);
        case TWTY_UINT16: return Take<std::uint16_t>(src);
        default: return Take<std::int32_t>(src);
    }
}

bool Fix32Traits::Accepts(ValueType) { return true; }
bool Fix32Traits::ElementWidth(TW_UINT16, std::size_t* width) {
    *width = 4;
    return true;
}
void Fix32Traits::WriteItem(std::uint8_t* dst, ValueType value) {
    Put<TW_INT16>(dst, value.Whole);
    Put<TW_UINT16>(dst + 2, value.Frac);
}
Fix32Traits::ValueType Fix32Traits::ReadItem(const std::uint8_t* src) {
    TW_FIX32 value;
    value.Whole = Take<TW_INT16>(src);
    value.Frac = Take<TW_UINT16>(src + 2);
    return value;
}
void Fix32Traits::WriteElement(std::uint8_t* dst, ValueType value, std::size_t) { WriteItem(dst, value); }
Fix32Traits::ValueType Fix32Traits::ReadElement(const std::uint8_t* src, TW_UINT16) { return ReadItem(src); }

// ---------------------------------------------------------------------------
// CKIVTypedContainer

template <class Traits>
TW_UINT16 CKIVTypedContainer<Traits>::Initialize() {
    return 0;
}

template <class Traits>
bool CKIVTypedContainer<Traits>::IsAllowed(ValueType value) const {
    return FirstMatch(m_values, value) < m_values.size();
}

template <class Traits>
TW_UINT16 CKIVTypedContainer<Traits>::AddValue(ValueType value, TW_INT32 makeCurrent) {
    if (!Traits::Accepts(value)) return 1;
    m_values.push_back(value);
    if (makeCurrent == 1) {
        m_current = value;
        m_default = value;
    }
    return 0;
}

template <class Traits>
typename CKIVTypedContainer<Traits>::ValueType CKIVTypedContainer<Traits>::GetCurrent() const {
    return m_current;
}

template <class Traits>
TW_UINT16 CKIVTypedContainer<Traits>::SetCurrent(ValueType value, TW_UINT16* conditionCode) {
    const bool ok = IsAllowed(value);
    if (ok) m_current = value;
    if (conditionCode) *conditionCode = ok ? TWCC_SUCCESS : TWCC_BADVALUE;
    return ok ? TWRC_SUCCESS : TWRC_FAILURE;
}

template <class Traits>
TW_UINT16 CKIVTypedContainer<Traits>::Reset() {
    if (!IsMsgSupported(MSG_RESET) || m_values.empty()) return 1;
    m_current = m_default;
    return 0;
}

template <class Traits>
TW_HANDLE CKIVTypedContainer<Traits>::Get(TW_UINT16 msg, TW_UINT16* conType) {
    if (!IsMsgSupported(msg) || m_values.empty()) return nullptr;
    const TW_UINT16 kind = (msg == MSG_GETCURRENT || msg == MSG_GETDEFAULT) ? TWON_ONEVALUE : m_getConType;
    const ValueType& oneValue = (msg == MSG_GETDEFAULT) ? m_default : m_current;
    const std::size_t n = m_values.size();
    std::size_t width = 0;
    TW_HANDLE h = nullptr;

    switch (kind) {
        case TWON_ONEVALUE:
            h = BuildContainer(kOneValueSize, [&](std::uint8_t* p) {
                Put<TW_UINT16>(p + kOneValueItemType, m_itemType);
                Traits::WriteItem(p + kOneValueItem, oneValue);
            });
            break;
        case TWON_ENUMERATION: {
            if (!Traits::ElementWidth(m_itemType, &width)) return nullptr;
            // The first match counts; an index without a match stays 0.
            const auto indexOf = [this, n](const ValueType& v) {
                const std::size_t i = FirstMatch(m_values, v);
                return static_cast<TW_UINT32>(i < n ? i : 0);
            };
            h = BuildContainer(kEnumHeaderAlloc + n * width, [&](std::uint8_t* p) {
                Put<TW_UINT16>(p + kEnumItemType, m_itemType);
                Put<TW_UINT32>(p + kEnumNumItems, static_cast<TW_UINT32>(n));
                Put<TW_UINT32>(p + kEnumCurrentIndex, indexOf(m_current));
                Put<TW_UINT32>(p + kEnumDefaultIndex, indexOf(m_default));
                for (std::size_t i = 0; i < n; ++i)
                    Traits::WriteElement(p + kEnumItems + i * width, m_values[i], width);
            });
            break;
        }
        case TWON_ARRAY:
            if (!Traits::kArrays || !Traits::ElementWidth(m_itemType, &width)) return nullptr;
            h = BuildContainer(kArrayHeaderAlloc + n * width, [&](std::uint8_t* p) {
                Put<TW_UINT16>(p + kArrayItemType, m_itemType);
                Put<TW_UINT32>(p + kArrayNumItems, static_cast<TW_UINT32>(n));
                for (std::size_t i = 0; i < n; ++i)
                    Traits::WriteElement(p + kArrayItems + i * width, m_values[i], width);
            });
            break;
        default: return nullptr;
    }
    if (h && conType) *conType = kind;
    return h;
}

template <class Traits>
TW_UINT16 CKIVTypedContainer<Traits>::Set(const TW_CAPABILITY* cap, TW_UINT16* conditionCode) {
    TW_UINT16 scratch = TWCC_SUCCESS;
    TW_UINT16& cc = conditionCode ? *conditionCode : scratch;
    const auto fail = [&cc](TW_UINT16 code) {
        cc = code;
        return TWRC_FAILURE;
    };
    if (!IsMsgSupported(MSG_SET) || !cap) return fail(TWCC_CAPBADOPERATION);
    if (cap->ConType != TWON_ONEVALUE && cap->ConType != TWON_ENUMERATION) return fail(TWCC_CAPBADOPERATION);
    if (m_values.empty()) return fail(TWCC_CAPBADOPERATION);

    MemLockGuard lock(cap->hContainer);
    const auto* p = static_cast<const std::uint8_t*>(lock.Data());
    if (!p) return fail(TWCC_BADVALUE);

    ValueType candidate{};
    if (cap->ConType == TWON_ONEVALUE) {
        candidate = Traits::ReadItem(p + kOneValueItem);
    } else {
        // Only the element at CurrentIndex is read, with the width of this
        // capability's item type; the application's ItemType is not consulted.
        // An index at or past NumItems names no element and is refused before
        // anything beyond the header is touched.
        std::size_t width = 0;
        if (!Traits::ElementWidth(m_itemType, &width)) return fail(TWCC_BADVALUE);
        const auto numItems = Take<TW_UINT32>(p + kEnumNumItems);
        const auto index = Take<TW_UINT32>(p + kEnumCurrentIndex);
        if (index >= numItems) return fail(TWCC_BADVALUE);
        candidate = Traits::ReadElement(p + kEnumItems + static_cast<std::uint64_t>(index) * width, m_itemType);
    }
    if (!IsAllowed(candidate)) return fail(TWCC_BADVALUE);
    m_current = candidate;
    cc = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}

template class CKIVTypedContainer<BoolTraits>;
template class CKIVTypedContainer<IntTraits>;
template class CKIVTypedContainer<Fix32Traits>;

// ---------------------------------------------------------------------------
// Typed containers

CKIVContainerBool::CKIVContainerBool(TW_UINT16 capId, TW_INT32 appIsTwain2)
    : CKIVTypedContainer(capId, TWTY_BOOL, TWON_ONEVALUE, TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT, appIsTwain2) {}

CKIVContainerInt::CKIVContainerInt(TW_UINT16 capId, TW_UINT16 itemType, TW_UINT16 supportedMsgs, TW_UINT16 getConType,
                                   TW_INT32 appIsTwain2)
    : CKIVTypedContainer(capId, itemType, getConType, supportedMsgs, appIsTwain2) {}

CKIVContainerFix32::CKIVContainerFix32(TW_UINT16 capId, TW_UINT16 supportedMsgs, TW_INT32 appIsTwain2)
    : CKIVTypedContainer(capId, TWTY_FIX32, TWON_ONEVALUE, supportedMsgs, appIsTwain2) {}

}  // namespace kiv
