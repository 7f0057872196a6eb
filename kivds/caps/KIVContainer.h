// Capability value containers.
//
// A container holds one capability's TWAIN identity (id, item type), the list
// of allowed values, the current and default value, the DAT_CAPABILITY
// messages it answers and the container kind it answers MSG_GET with. It
// builds the TW_ONEVALUE / TW_ENUMERATION / TW_ARRAY records handed to the
// application in TWAIN memory and reads the containers the application sends
// with MSG_SET. A value is valid only when it equals an allowed value exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "kivds/protocol/Twain.h"

namespace kiv {

class CKIVContainer {
public:
    CKIVContainer(twain::TW_UINT16 capId, twain::TW_UINT16 itemType, twain::TW_UINT16 getConType,
                  twain::TW_UINT16 supportedMsgs, twain::TW_INT32 appIsTwain2);
    virtual ~CKIVContainer();
    CKIVContainer(const CKIVContainer&) = delete;
    CKIVContainer& operator=(const CKIVContainer&) = delete;

    virtual twain::TW_UINT16 GetCapId() const;
    virtual twain::TW_UINT16 GetItemType() const;
    virtual twain::TW_UINT16 GetConType() const;
    // TW_ONEVALUE / TWTY_INT32 holding the supported-message mask.
    virtual twain::TW_HANDLE QuerySupport(twain::TW_UINT16* conType);
    // 0 success, non-zero failure.
    virtual twain::TW_UINT16 Initialize() = 0;
    // A new container for MSG_GET / MSG_GETCURRENT / MSG_GETDEFAULT, or null.
    // *conType is written only when a container is built.
    virtual twain::TW_HANDLE Get(twain::TW_UINT16 msg, twain::TW_UINT16* conType) = 0;
    // MSG_SET: reads the application's container (locks, reads, unlocks).
    virtual twain::TW_UINT16 Set(const twain::TW_CAPABILITY* cap, twain::TW_UINT16* conditionCode) = 0;
    // 0 done (current = default), 1 refused.
    virtual twain::TW_UINT16 Reset() = 0;
    virtual bool ItemSize(twain::TW_UINT16 itemType, twain::TW_UINT16* size) const;
    virtual bool IsMsgSupported(twain::TW_UINT16 msg) const;

protected:
    twain::TW_UINT16 m_capId;
    twain::TW_UINT16 m_itemType;
    twain::TW_UINT16 m_getConType;
    twain::TW_UINT16 m_supportedMsgs;
    twain::TW_INT32 m_appIsTwain2;
};

// How each typed container stores, compares and encodes a value. Item is the
// 32-bit Item of a TW_ONEVALUE; an element is one entry of a TW_ENUMERATION or
// TW_ARRAY, whose width the item type gives.
struct BoolTraits {
    using ValueType = twain::TW_UINT16;
    static constexpr bool kArrays = false;
    static bool Accepts(ValueType value);
    static bool ElementWidth(twain::TW_UINT16 itemType, std::size_t* width);
    static void WriteItem(std::uint8_t* dst, ValueType value);
    static ValueType ReadItem(const std::uint8_t* src);
    static void WriteElement(std::uint8_t* dst, ValueType value, std::size_t width);
    static ValueType ReadElement(const std::uint8_t* src, twain::TW_UINT16 itemType);
};

struct IntTraits {
    using ValueType = twain::TW_INT32;
    static constexpr bool kArrays = true;
    static bool Accepts(ValueType value);
    static bool ElementWidth(twain::TW_UINT16 itemType, std::size_t* width);
    static void WriteItem(std::uint8_t* dst, ValueType value);
    static ValueType ReadItem(const std::uint8_t* src);
    static void WriteElement(std::uint8_t* dst, ValueType value, std::size_t width);
    static ValueType ReadElement(const std::uint8_t* src, twain::TW_UINT16 itemType);
};

struct Fix32Traits {
    using ValueType = twain::TW_FIX32;
    static constexpr bool kArrays = false;
    static bool Accepts(ValueType value);
    static bool ElementWidth(twain::TW_UINT16 itemType, std::size_t* width);
    static void WriteItem(std::uint8_t* dst, ValueType value);
    static ValueType ReadItem(const std::uint8_t* src);
    static void WriteElement(std::uint8_t* dst, ValueType value, std::size_t width);
    static ValueType ReadElement(const std::uint8_t* src, twain::TW_UINT16 itemType);
};

// The one engine behind the three typed containers; Traits says how a value is
// stored, compared and encoded (see KIVContainer.cpp).
template <class Traits>
class CKIVTypedContainer : public CKIVContainer {
public:
    using ValueType = typename Traits::ValueType;

    using CKIVContainer::CKIVContainer;

    twain::TW_UINT16 Initialize() override;
    twain::TW_HANDLE Get(twain::TW_UINT16 msg, twain::TW_UINT16* conType) override;
    twain::TW_UINT16 Set(const twain::TW_CAPABILITY* cap, twain::TW_UINT16* conditionCode) override;
    twain::TW_UINT16 Reset() override;

    // Appends an allowed value; makeCurrent == 1 also makes it current and
    // default. 0 added, 1 rejected.
    virtual twain::TW_UINT16 AddValue(ValueType value, twain::TW_INT32 makeCurrent);
    virtual ValueType GetCurrent() const;
    // Internal setter: ignores the message mask, accepts allowed values only.
    virtual twain::TW_UINT16 SetCurrent(ValueType value, twain::TW_UINT16* conditionCode);

protected:
    bool IsAllowed(ValueType value) const;

    std::vector<ValueType> m_values;
    ValueType m_current{};
    ValueType m_default{};
};

extern template class CKIVTypedContainer<BoolTraits>;
extern template class CKIVTypedContainer<IntTraits>;
extern template class CKIVTypedContainer<Fix32Traits>;

// TWTY_BOOL values (0 or 1), compared as 16 bits. Mask GET|GETDEFAULT|GETCURRENT.
class CKIVContainerBool : public CKIVTypedContainer<BoolTraits> {
public:
    CKIVContainerBool(twain::TW_UINT16 capId, twain::TW_INT32 appIsTwain2);
};

// Signed 32-bit values of an integer item type (TWTY_INT8 ... TWTY_UINT32).
class CKIVContainerInt : public CKIVTypedContainer<IntTraits> {
public:
    CKIVContainerInt(twain::TW_UINT16 capId, twain::TW_UINT16 itemType, twain::TW_UINT16 supportedMsgs,
                     twain::TW_UINT16 getConType, twain::TW_INT32 appIsTwain2);
};

// TWTY_FIX32 values, compared by Whole and Frac. MSG_GET answers TW_ONEVALUE.
class CKIVContainerFix32 : public CKIVTypedContainer<Fix32Traits> {
public:
    CKIVContainerFix32(twain::TW_UINT16 capId, twain::TW_UINT16 supportedMsgs, twain::TW_INT32 appIsTwain2);
};

}  // namespace kiv
