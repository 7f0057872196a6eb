#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeRegistry.h"
#include "kivsvc/core/Identities.h"
#include "kivsvc/core/NodeInterfaceAccess.h"
#include "kivsvc/core/NodeInterfaceKey.h"

namespace kiv::svc {
namespace {

using test::FakeRegistry;

constexpr RegistryRoot kHklm = RegistryRoot::LocalMachine;

class NodeInterfaceTest : public ::testing::Test {
protected:
    FakeRegistry registry;
    RunningMarker marker;
    NodeInterfaceAccess access{registry, marker};
};

TEST_F(NodeInterfaceTest, KeyIsWrittenWithExactlyTheThreeValuesEveryTime) {
    marker.Create();
    for (int round = 0; round < 2; ++round) {
        std::int32_t ret = -1;
        EXPECT_EQ(access.CreateNodeInterfacesKeyForKIVVIEW(&ret), kSOk);
        EXPECT_EQ(ret, 0);
    }
    const auto* values = registry.ValuesOf(kHklm, kNodeInterfaceKey);
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(values->size(), 3u);
    const auto& def = values->at("");
    EXPECT_FALSE(def.binary);
    EXPECT_EQ(def.text, "USB Extension Unit Interface Handler");
    EXPECT_EQ(def.text.size() + 1, 37u);
    const std::vector<std::uint8_t> clsid = {0xA0, 0x2D, 0x43, 0xA0, 0x87, 0xA8, 0xF8, 0x45,
                                             0xB2, 0x8B, 0x66, 0x93, 0xC6, 0xB9, 0xE6, 0x19};
    const std::vector<std::uint8_t> iid = {0xC0, 0xB5, 0x92, 0x6E, 0x8A, 0x4D, 0x2A, 0x40,
                                           0xB5, 0x6C, 0xD2, 0xD2, 0x92, 0xE0, 0x23, 0x3B};
    EXPECT_TRUE(values->at("CLSID").binary);
    EXPECT_EQ(values->at("CLSID").bytes, clsid);
    EXPECT_TRUE(values->at("IID").binary);
    EXPECT_EQ(values->at("IID").bytes, iid);
    EXPECT_TRUE(registry.Has(kHklm,
                             "SYSTEM\\CurrentControlSet\\Control\\NodeInterfaces\\"
                             "{5a215226-3289-4156-894a-5c557cdf9664}"));
}

TEST_F(NodeInterfaceTest, ExistingKeyIsOverwrittenValueByValueAndOtherValuesStay) {
    registry.Put(kHklm, kNodeInterfaceKey, "", "old handler");
    registry.Put(kHklm, kNodeInterfaceKey, "Extra", "kept");
    EXPECT_EQ(CreateNodeInterfacesKey(registry), 0);
    const auto* values = registry.ValuesOf(kHklm, kNodeInterfaceKey);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(values->size(), 4u);
    EXPECT_EQ(values->at("").text, kNodeInterfaceHandlerName);
    EXPECT_EQ(values->at("Extra").text, "kept");
}

TEST_F(NodeInterfaceTest, DeleteAnswersTheWin32Result) {
    marker.Create();
    std::int32_t ret = -1;
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(&ret), kSOk);
    EXPECT_EQ(ret, 2);  // ERROR_FILE_NOT_FOUND: the key was never there

    ASSERT_EQ(CreateNodeInterfacesKey(registry), 0);
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(&ret), kSOk);
    EXPECT_EQ(ret, 0);
    EXPECT_FALSE(registry.Has(kHklm, kNodeInterfaceKey));
    // The parent keys are not touched.
    EXPECT_TRUE(registry.Has(kHklm, "SYSTEM\\CurrentControlSet\\Control\\NodeInterfaces"));

    registry.failDelete[FakeRegistry::Full(kHklm, kNodeInterfaceKey)] = kErrorAccessDenied;
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(&ret), kSOk);
    EXPECT_EQ(ret, kErrorAccessDenied);
}

TEST_F(NodeInterfaceTest, CreateReportsTheKeyErrorOrTheIidWriteOnly) {
    registry.failCreate[FakeRegistry::Full(kHklm, kNodeInterfaceKey)] = kErrorAccessDenied;
    EXPECT_EQ(CreateNodeInterfacesKey(registry), kErrorAccessDenied);
    EXPECT_EQ(registry.ValuesOf(kHklm, kNodeInterfaceKey), nullptr);

    registry.failCreate.clear();
    registry.failSetValue["CLSID"] = 1009;  // not looked at
    EXPECT_EQ(CreateNodeInterfacesKey(registry), 0);
    registry.failSetValue.clear();
    registry.failSetValue["IID"] = 1009;
    EXPECT_EQ(CreateNodeInterfacesKey(registry), 1009);

    // The values are written in order: default, "CLSID", "IID".
    std::vector<std::string> sets;
    for (const auto& entry : registry.log)
        if (entry.rfind("set ", 0) == 0) sets.push_back(entry.substr(entry.rfind(' ') + 1));
    ASSERT_GE(sets.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(sets.end() - 3, sets.end()), (std::vector<std::string>{"", "CLSID", "IID"}));
}

TEST_F(NodeInterfaceTest, WithoutTheRunningMarkerMethodsAnswerSFalseAndTouchNothing) {
    std::int32_t ret = 12345;
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(&ret), kSFalse);
    EXPECT_EQ(access.CreateNodeInterfacesKeyForKIVVIEW(&ret), kSFalse);
    EXPECT_EQ(ret, 12345);
    EXPECT_TRUE(registry.log.empty());

    // Marker destroyed by a stop request: calls still delivered answer S_FALSE.
    marker.Create();
    EXPECT_EQ(access.CreateNodeInterfacesKeyForKIVVIEW(&ret), kSOk);
    marker.Destroy();
    ret = 777;
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(&ret), kSFalse);
    EXPECT_EQ(ret, 777);
    EXPECT_TRUE(registry.Has(kHklm, kNodeInterfaceKey));
}

TEST_F(NodeInterfaceTest, NullOutPointerIsRefusedWithoutTouchingTheKey) {
    marker.Create();
    EXPECT_EQ(access.RegistryDeleteNodeInterfacesKey(nullptr), kEPointer);
    EXPECT_EQ(access.CreateNodeInterfacesKeyForKIVVIEW(nullptr), kEPointer);
    EXPECT_TRUE(registry.log.empty());
}

}  // namespace
}  // namespace kiv::svc
