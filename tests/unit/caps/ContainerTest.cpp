// Capability containers driven through real TWAIN memory handles (the fake
// source-manager memory functions count allocations, locks and frees).
#include <gtest/gtest.h>

#include "kivds/caps/KIVContainer.h"
#include "kivds/protocol/Fix32.h"
#include "unit/caps/FakeTwainMemory.h"

using namespace twain;
using kiv::CKIVContainer;
using kiv::CKIVContainerBool;
using kiv::CKIVContainerFix32;
using kiv::CKIVContainerInt;
using kivtest::Decoded;

namespace {

constexpr TW_UINT16 kAllMsgs = 0x1F;
constexpr TW_UINT16 kReadOnly = 0x0D;

class ContainerTest : public ::testing::Test {
protected:
    struct Answer {
        TW_HANDLE handle = nullptr;
        TW_UINT16 conType = 0xBEEF;
        Decoded d;
    };

    // Get plus the checks every answer must pass: a fresh, unlocked block
    // that now belongs to the application.
    Answer Get(CKIVContainer& c, TW_UINT16 msg, std::size_t width = 4) {
        Answer a;
        a.handle = c.Get(msg, &a.conType);
        if (a.handle) {
            EXPECT_EQ(mem.Info(a.handle).locks, 0);
            EXPECT_FALSE(mem.Info(a.handle).freed);
            a.d = kivtest::Decode(mem.Bytes(a.handle), a.conType, width);
        }
        return a;
    }

    struct SetResult {
        TW_UINT16 rc;
        TW_UINT16 cc;
    };

    // MSG_SET with the application's own container; the handle must come
    // back unlocked and not freed whatever the outcome.
    SetResult Set(CKIVContainer& c, TW_UINT16 conType, const std::vector<std::uint8_t>& bytes) {
        TW_CAPABILITY cap{};
        cap.Cap = c.GetCapId();
        cap.ConType = conType;
        cap.hContainer = mem.AppBlock(bytes);
        SetResult r{};
        r.cc = 0xBEEF;
        r.rc = c.Set(&cap, &r.cc);
        EXPECT_EQ(mem.Info(cap.hContainer).locks, 0);
        EXPECT_FALSE(mem.Info(cap.hContainer).freed);
        EXPECT_EQ(mem.frees, 0);
        return r;
    }

    kivtest::FakeTwainMemory mem;
};

// A UINT16 capability answering TW_ENUMERATION, like the transfer mechanism.
std::unique_ptr<CKIVContainerInt> Mech() {
    auto c = std::make_unique<CKIVContainerInt>(ICAP_XFERMECH, TWTY_UINT16, kAllMsgs, TWON_ENUMERATION, 0);
    c->AddValue(0, 1);
    c->AddValue(1, 0);
    c->AddValue(2, 0);
    return c;
}

std::unique_ptr<CKIVContainerInt> XferCount() {
    auto c = std::make_unique<CKIVContainerInt>(CAP_XFERCOUNT, TWTY_INT16, kAllMsgs, TWON_ONEVALUE, 0);
    c->AddValue(1, 0);
    c->AddValue(-1, 1);
    return c;
}

TEST_F(ContainerTest, GetAnswersEachContainerKindAndCurrentOrDefaultAlwaysAsOneValue) {
    auto mech = Mech();
    ASSERT_EQ(mech->SetCurrent(2, nullptr), TWRC_SUCCESS);

    Answer e = Get(*mech, MSG_GET, 2);
    ASSERT_NE(e.handle, nullptr);
    EXPECT_EQ(e.conType, TWON_ENUMERATION);
    EXPECT_EQ(e.d.size, 16u + 3 * 2);
    EXPECT_EQ(e.d.itemType, TWTY_UINT16);
    EXPECT_EQ(e.d.items, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_EQ(e.d.currentIndex, 2u);
    EXPECT_EQ(e.d.defaultIndex, 0u);

    Answer cur = Get(*mech, MSG_GETCURRENT);
    ASSERT_NE(cur.handle, nullptr);
    EXPECT_EQ(cur.conType, TWON_ONEVALUE);
    EXPECT_EQ(cur.d.size, 6u);
    EXPECT_EQ(cur.d.itemType, TWTY_UINT16);
    EXPECT_EQ(cur.d.item, 2u);

    Answer def = Get(*mech, MSG_GETDEFAULT);
    ASSERT_NE(def.handle, nullptr);
    EXPECT_EQ(def.conType, TWON_ONEVALUE);
    EXPECT_EQ(def.d.item, 0u);

    auto caps = std::make_unique<CKIVContainerInt>(CAP_SUPPORTEDCAPS, TWTY_UINT16, TWQC_GET, TWON_ARRAY, 0);
    caps->AddValue(ICAP_XFERMECH, 0);
    caps->AddValue(ICAP_PIXELFLAVOR, 0);
    Answer arr = Get(*caps, MSG_GET, 2);
    ASSERT_NE(arr.handle, nullptr);
    EXPECT_EQ(arr.conType, TWON_ARRAY);
    EXPECT_EQ(arr.d.size, 8u + 2 * 2);
    EXPECT_EQ(arr.d.items, (std::vector<std::uint32_t>{ICAP_XFERMECH, ICAP_PIXELFLAVOR}));
    EXPECT_EQ(mem.LiveSourceBlocks(), 4);
}

TEST_F(ContainerTest, EnumerationIndicesPointToFirstMatchOrStayZero) {
    CKIVContainerInt c(ICAP_PIXELFLAVOR, TWTY_UINT16, kAllMsgs, TWON_ENUMERATION, 0);
    c.AddValue(7, 0);
    c.AddValue(3, 1);
    c.AddValue(3, 0);
    c.AddValue(9, 0);
    Answer a = Get(c, MSG_GET, 2);
    EXPECT_EQ(a.d.currentIndex, 1u);
    EXPECT_EQ(a.d.defaultIndex, 1u);

    // No allowed value equals the current one (it was never added as such).
    CKIVContainerInt none(ICAP_PIXELFLAVOR, TWTY_UINT16, kAllMsgs, TWON_ENUMERATION, 0);
    none.AddValue(4, 0);
    none.AddValue(5, 0);
    Answer b = Get(none, MSG_GET, 2);
    ASSERT_NE(b.handle, nullptr);
    EXPECT_EQ(b.d.currentIndex, 0u);
    EXPECT_EQ(b.d.defaultIndex, 0u);
}

TEST_F(ContainerTest, IntElementsAreNarrowedByItemType) {
    struct Case {
        TW_UINT16 itemType;
        std::size_t width;
        std::int32_t value;
        std::uint32_t expected;
    };
    for (const Case& k : {Case{TWTY_INT8, 1, -2, 0xFE}, Case{TWTY_UINT8, 1, 200, 200}, Case{TWTY_INT16, 2, -1, 0xFFFF},
                          Case{TWTY_UINT32, 4, -1, 0xFFFFFFFF}}) {
        CKIVContainerInt c(0x8100, k.itemType, kAllMsgs, TWON_ARRAY, 0);
        c.AddValue(k.value, 1);
        Answer a = Get(c, MSG_GET, k.width);
        ASSERT_NE(a.handle, nullptr) << k.itemType;
        EXPECT_EQ(a.d.size, 8 + k.width) << k.itemType;
        EXPECT_EQ(a.d.items, std::vector<std::uint32_t>{k.expected}) << k.itemType;
    }
}

TEST_F(ContainerTest, Int16MinusOneIsAFull32BitItemButA16BitElement) {
    auto c = XferCount();
    Answer a = Get(*c, MSG_GETCURRENT);
    EXPECT_EQ(a.d.itemType, TWTY_INT16);
    EXPECT_EQ(a.d.item, 0xFFFFFFFFu);

    ASSERT_EQ(c->SetCurrent(1, nullptr), TWRC_SUCCESS);
    SetResult r = Set(*c, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_INT16, 0x0000FFFF));
    EXPECT_EQ(r.rc, TWRC_FAILURE);
    EXPECT_EQ(r.cc, TWCC_BADVALUE);
    EXPECT_EQ(c->GetCurrent(), 1);

    r = Set(*c, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_INT16, 0xFFFFFFFF));
    EXPECT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(r.cc, TWCC_SUCCESS);
    EXPECT_EQ(c->GetCurrent(), -1);

    ASSERT_EQ(c->SetCurrent(1, nullptr), TWRC_SUCCESS);
    r = Set(*c, TWON_ENUMERATION, kivtest::EnumerationBytes(TWTY_INT16, 2, {1, 0xFFFF}, 1));
    EXPECT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(c->GetCurrent(), -1);
}

TEST_F(ContainerTest, SetEnumerationReadsOnlyTheCurrentElementWithTheCapabilitysWidth) {
    auto mech = Mech();
    // The application claims TWTY_UINT32, but the capability reads 16-bit
    // elements: element 2 of {0,1,2} packed as UINT16 is 2. DefaultIndex and
    // the other elements are ignored.
    SetResult r = Set(*mech, TWON_ENUMERATION, kivtest::EnumerationBytes(TWTY_UINT32, 2, {9, 9, 2}, 2, 7));
    EXPECT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(mech->GetCurrent(), 2);

    // Signed 8-bit elements are sign-extended before comparing.
    CKIVContainerInt s8(0x8101, TWTY_INT8, kAllMsgs, TWON_ONEVALUE, 0);
    s8.AddValue(0, 1);
    s8.AddValue(-3, 0);
    r = Set(s8, TWON_ENUMERATION, kivtest::EnumerationBytes(TWTY_INT8, 1, {0xFD}, 0));
    EXPECT_EQ(r.rc, TWRC_SUCCESS);
    EXPECT_EQ(s8.GetCurrent(), -3);
}

TEST_F(ContainerTest, SetEnumerationWithIndexOutsideTheListIsRefusedBeforeReadingAnElement) {
    auto mech = Mech();
    ASSERT_EQ(mech->SetCurrent(1, nullptr), TWRC_SUCCESS);
    // Header only: any element read would overrun the block (caught by ASan).
    for (std::uint32_t index : {0u, 1u, 0xFFFFFFFFu}) {
        auto bytes = kivtest::EnumerationBytes(TWTY_UINT16, 2, {}, index);
        SetResult r = Set(*mech, TWON_ENUMERATION, bytes);
        EXPECT_EQ(r.rc, TWRC_FAILURE) << index;
        EXPECT_EQ(r.cc, TWCC_BADVALUE) << index;
    }
    // CurrentIndex == NumItems.
    SetResult r = Set(*mech, TWON_ENUMERATION, kivtest::EnumerationBytes(TWTY_UINT16, 2, {0, 2}, 2));
    EXPECT_EQ(r.cc, TWCC_BADVALUE);
    EXPECT_EQ(mech->GetCurrent(), 1);
}

TEST_F(ContainerTest, SetRefusals) {
    auto mech = Mech();
    ASSERT_EQ(mech->SetCurrent(1, nullptr), TWRC_SUCCESS);

    // Range and array are refused before the handle is even locked.
    for (TW_UINT16 kind : {TWON_RANGE, TWON_ARRAY}) {
        const int locksBefore = mem.lockCalls;
        SetResult r = Set(*mech, kind, kivtest::OneValueBytes(TWTY_UINT16, 2));
        EXPECT_EQ(r.cc, TWCC_CAPBADOPERATION) << kind;
        EXPECT_EQ(r.rc, TWRC_FAILURE);
        EXPECT_EQ(mem.lockCalls, locksBefore) << kind;
    }

    // Values outside the list.
    SetResult r = Set(*mech, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 3));
    EXPECT_EQ(r.cc, TWCC_BADVALUE);
    EXPECT_EQ(mech->GetCurrent(), 1);

    // A read-only capability, and a writable one with no values yet.
    CKIVContainerInt ro(ICAP_COMPRESSION, TWTY_UINT16, kReadOnly, TWON_ONEVALUE, 0);
    ro.AddValue(0, 1);
    EXPECT_EQ(Set(ro, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 0)).cc, TWCC_CAPBADOPERATION);
    CKIVContainerInt empty(ICAP_COMPRESSION, TWTY_UINT16, kAllMsgs, TWON_ONEVALUE, 0);
    EXPECT_EQ(Set(empty, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 0)).cc, TWCC_CAPBADOPERATION);

    // A handle that cannot be locked, and no handle at all.
    mem.failLock = true;
    EXPECT_EQ(Set(*mech, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 2)).cc, TWCC_BADVALUE);
    mem.failLock = false;
    TW_CAPABILITY nullHandle{ICAP_XFERMECH, TWON_ONEVALUE, nullptr};
    TW_UINT16 cc = 0;
    EXPECT_EQ(mech->Set(&nullHandle, &cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_BADVALUE);
    EXPECT_EQ(mech->GetCurrent(), 1);
    EXPECT_EQ(mem.LockedBlocks(), 0);
}

TEST_F(ContainerTest, SetNeverMovesTheDefaultSoResetRestoresIt) {
    auto mech = Mech();
    EXPECT_EQ(Set(*mech, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 2)).rc, TWRC_SUCCESS);
    EXPECT_EQ(Set(*mech, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_UINT16, 2)).rc, TWRC_SUCCESS);
    EXPECT_EQ(Get(*mech, MSG_GETDEFAULT).d.item, 0u);
    EXPECT_EQ(mech->Reset(), 0);
    EXPECT_EQ(mech->GetCurrent(), 0);

    CKIVContainerInt ro(ICAP_COMPRESSION, TWTY_UINT16, kReadOnly, TWON_ONEVALUE, 0);
    ro.AddValue(0, 1);
    EXPECT_EQ(ro.Reset(), 1);
    CKIVContainerInt empty(ICAP_UNITS, TWTY_UINT16, kAllMsgs, TWON_ONEVALUE, 0);
    EXPECT_EQ(empty.Reset(), 1);
}

TEST_F(ContainerTest, SetCurrentIgnoresTheMaskButNotTheList) {
    CKIVContainerInt ro(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, kReadOnly, TWON_ENUMERATION, 0);
    ro.AddValue(TWFF_BMP, 1);
    ro.AddValue(TWFF_TIFF, 0);
    TW_UINT16 cc = 0xBEEF;
    EXPECT_EQ(ro.SetCurrent(TWFF_TIFF, &cc), TWRC_SUCCESS);
    EXPECT_EQ(cc, TWCC_SUCCESS);
    EXPECT_EQ(ro.GetCurrent(), TWFF_TIFF);
    EXPECT_EQ(ro.SetCurrent(TWFF_JFIF, &cc), TWRC_FAILURE);
    EXPECT_EQ(cc, TWCC_BADVALUE);
    EXPECT_EQ(ro.GetCurrent(), TWFF_TIFF);
}

TEST_F(ContainerTest, BoolReadsSixteenBitsAndAcceptsOnlyZeroOrOne) {
    CKIVContainerBool b(CAP_UICONTROLLABLE, 0);
    EXPECT_EQ(b.AddValue(2, 1), 1);
    EXPECT_EQ(b.AddValue(1, 1), 0);
    EXPECT_EQ(b.AddValue(0, 0), 0);
    EXPECT_EQ(b.GetCurrent(), 1);

    // Bool containers are read-only by default; open SET on a copy-like
    // subclass through a capability with the full mask.
    struct WritableBool : CKIVContainerBool {
        WritableBool() : CKIVContainerBool(CAP_DEVICEONLINE, 0) {
            m_supportedMsgs = 0x1F;
            AddValue(1, 1);
            AddValue(0, 0);
        }
    } w;
    EXPECT_EQ(Set(w, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_BOOL, 0xABCD0000)).rc, TWRC_SUCCESS);
    EXPECT_EQ(w.GetCurrent(), 0);
    EXPECT_EQ(Set(w, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_BOOL, 0xABCD0001)).rc, TWRC_SUCCESS);
    EXPECT_EQ(w.GetCurrent(), 1);
    EXPECT_EQ(Set(w, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_BOOL, 2)).cc, TWCC_BADVALUE);

    Answer a = Get(b, MSG_GET, 2);
    EXPECT_EQ(a.conType, TWON_ONEVALUE);
    EXPECT_EQ(a.d.itemType, TWTY_BOOL);
    EXPECT_EQ(a.d.item, 1u);
}

TEST_F(ContainerTest, Fix32ComparesWholeAndFraction) {
    CKIVContainerFix32 x(ICAP_XRESOLUTION, kAllMsgs, 0);
    x.AddValue(kiv::PixelsToFix32(1), 1);
    Answer a = Get(x, MSG_GET);
    EXPECT_EQ(a.conType, TWON_ONEVALUE);
    EXPECT_EQ(a.d.itemType, TWTY_FIX32);
    EXPECT_EQ(a.d.item, 1u);  // Whole 1 in the first two bytes, Frac 0

    EXPECT_EQ(Set(x, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_FIX32, 0x80000001)).cc, TWCC_BADVALUE);  // 1.5
    EXPECT_EQ(Set(x, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_FIX32, 2)).cc, TWCC_BADVALUE);           // 2.0
    EXPECT_EQ(Set(x, TWON_ONEVALUE, kivtest::OneValueBytes(TWTY_FIX32, 1)).rc, TWRC_SUCCESS);
    EXPECT_EQ(Set(x, TWON_ENUMERATION, kivtest::EnumerationBytes(TWTY_FIX32, 4, {2, 1}, 1)).rc, TWRC_SUCCESS);
}

TEST_F(ContainerTest, UnbuildableAnswersReturnNullWithoutLeaking) {
    auto mech = Mech();
    TW_UINT16 conType = 0xBEEF;
    // Message outside the mask, empty list, range kind, array in a Bool.
    CKIVContainerInt ro(ICAP_COMPRESSION, TWTY_UINT16, kReadOnly, TWON_ONEVALUE, 0);
    ro.AddValue(0, 1);
    EXPECT_EQ(ro.Get(MSG_SET, &conType), nullptr);
    EXPECT_EQ(ro.Get(MSG_RESET, &conType), nullptr);
    CKIVContainerInt empty(ICAP_UNITS, TWTY_UINT16, kAllMsgs, TWON_ONEVALUE, 0);
    EXPECT_EQ(empty.Get(MSG_GET, &conType), nullptr);
    CKIVContainerInt range(ICAP_UNITS, TWTY_UINT16, kAllMsgs, TWON_RANGE, 0);
    range.AddValue(5, 1);
    EXPECT_EQ(range.Get(MSG_GET, &conType), nullptr);
    struct ArrayBool : CKIVContainerBool {
        ArrayBool() : CKIVContainerBool(CAP_UICONTROLLABLE, 0) {
            m_getConType = TWON_ARRAY;
            AddValue(1, 1);
        }
    } ab;
    EXPECT_EQ(ab.Get(MSG_GET, &conType), nullptr);
    // An item type that cannot be narrowed to.
    CKIVContainerInt frame(0x8102, TWTY_FRAME, kAllMsgs, TWON_ENUMERATION, 0);
    frame.AddValue(1, 1);
    EXPECT_EQ(frame.Get(MSG_GET, &conType), nullptr);
    EXPECT_EQ(conType, 0xBEEF);

    // Allocation and lock failures.
    mem.failAllocate = true;
    EXPECT_EQ(mech->Get(MSG_GET, &conType), nullptr);
    EXPECT_EQ(mech->QuerySupport(&conType), nullptr);
    mem.failAllocate = false;
    mem.failLock = true;
    EXPECT_EQ(mech->Get(MSG_GET, &conType), nullptr);
    EXPECT_EQ(mech->Get(MSG_GETCURRENT, &conType), nullptr);
    EXPECT_EQ(mech->QuerySupport(&conType), nullptr);
    mem.failLock = false;
    EXPECT_EQ(conType, 0xBEEF);
    EXPECT_EQ(mem.LiveSourceBlocks(), 0);
}

TEST_F(ContainerTest, QuerySupportReportsTheMaskAsInt32ForAnyCapability) {
    for (TW_UINT16 mask : {TW_UINT16{0x1F}, TW_UINT16{0x0D}, TW_UINT16{0x01}}) {
        CKIVContainerInt c(ICAP_UNITS, TWTY_UINT16, mask, TWON_ONEVALUE, 0);  // empty list too
        TW_UINT16 conType = 0;
        TW_HANDLE h = c.QuerySupport(&conType);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(conType, TWON_ONEVALUE);
        EXPECT_EQ(mem.Info(h).locks, 0);
        Decoded d = kivtest::Decode(mem.Bytes(h), TWON_ONEVALUE, 4);
        EXPECT_EQ(d.size, 6u);
        EXPECT_EQ(d.itemType, TWTY_INT32);
        EXPECT_EQ(d.item, mask);
    }
}

TEST_F(ContainerTest, ItemSizesAndMessageBits) {
    CKIVContainerInt c(ICAP_UNITS, TWTY_UINT16, TWQC_GET | TWQC_RESET, TWON_ONEVALUE, 0);
    TW_UINT16 size = 0;
    EXPECT_TRUE(c.ItemSize(TWTY_FRAME, &size));
    EXPECT_EQ(size, 16);
    EXPECT_TRUE(c.ItemSize(TWTY_STR1024, &size));
    EXPECT_EQ(size, 1026);
    EXPECT_TRUE(c.ItemSize(TWTY_UNI512, &size));
    EXPECT_EQ(size, 1024);
    size = 77;
    EXPECT_FALSE(c.ItemSize(0x000F, &size));
    EXPECT_EQ(size, 77);

    EXPECT_TRUE(c.IsMsgSupported(MSG_GET));
    EXPECT_TRUE(c.IsMsgSupported(MSG_RESET));
    EXPECT_FALSE(c.IsMsgSupported(MSG_GETCURRENT));
    EXPECT_FALSE(c.IsMsgSupported(MSG_SET));
    EXPECT_FALSE(c.IsMsgSupported(MSG_QUERYSUPPORT));  // bit 0x10 is RESET, not message 8
    EXPECT_FALSE(c.IsMsgSupported(MSG_RESETALL));
}

}  // namespace
