#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeRegistry.h"
#include "kivsvc/core/Identities.h"
#include "kivsvc/core/Registration.h"
#include "kivsvc/core/RegistryScript.h"

namespace kiv::svc {
namespace {

using test::FakeRegistry;

constexpr RegistryRoot kHkcr = RegistryRoot::ClassesRoot;
const std::string kModule = "C:\\Program Files\\KIV\\kivsvc.exe";
const std::string kClsidKey = std::string("CLSID\\") + kClsid;

std::string DefaultOf(const FakeRegistry& r, const std::string& path) {
    const auto* values = r.ValuesOf(kHkcr, path);
    if (!values || !values->count("")) return "<missing>";
    return values->at("").text;
}

// Records the order of the system steps and answers as configured.
class RecordingHost : public IRegistrationHost {
public:
    std::vector<std::string> calls;
    long initResult = 0;
    bool installResult = true;
    long typeLibResult = 0;

    long InitializeCom() override { return calls.push_back("CoInitialize"), initResult; }
    void UninitializeCom() override { calls.push_back("CoUninitialize"); }
    bool UninstallService() override { return calls.push_back("UninstallService"), true; }
    bool InstallService() override { return calls.push_back("InstallService"), installResult; }
    long RegisterTypeLibrary() override { return calls.push_back("RegisterTypeLib"), typeLibResult; }
    long UnregisterTypeLibrary() override { return calls.push_back("UnregisterTypeLib"), 0; }
    std::string ModulePath() override { return QuotePathIfNeeded(kModule); }
};

TEST(RegistryScript, ScriptsWriteTheClassAndAppIdEntries) {
    FakeRegistry r;
    ASSERT_EQ(ApplyScript(r, AppIdScript(), kModule), 0);
    ASSERT_EQ(ApplyScript(r, ClassScript(), "\"" + kModule + "\""), 0);

    EXPECT_EQ(AppIdScript().resourceId, 100);
    EXPECT_EQ(ClassScript().resourceId, 101);
    EXPECT_EQ(DefaultOf(r, std::string("AppID\\") + kAppId), "KIVSVC");
    EXPECT_EQ(r.ValuesOf(kHkcr, "AppID\\KIVSVC.EXE")->at("AppID").text, kAppId);
    EXPECT_EQ(DefaultOf(r, "KIVSVC.KIVSVCAccess.1"), "KIVSVCAccess Class");
    EXPECT_EQ(DefaultOf(r, "KIVSVC.KIVSVCAccess.1\\CLSID"), kClsid);
    EXPECT_EQ(DefaultOf(r, "KIVSVC.KIVSVCAccess\\CurVer"), "KIVSVC.KIVSVCAccess.1");
    EXPECT_EQ(DefaultOf(r, kClsidKey + "\\LocalServer32"), "\"" + kModule + "\"");
    EXPECT_EQ(DefaultOf(r, kClsidKey + "\\TypeLib"), kLibId);
    EXPECT_EQ(r.ValuesOf(kHkcr, kClsidKey)->at("AppID").text, kAppId);
    ASSERT_NE(r.ValuesOf(kHkcr, kClsidKey + "\\Programmable"), nullptr);
    EXPECT_TRUE(r.ValuesOf(kHkcr, kClsidKey + "\\Programmable")->empty());
}

TEST(RegistryScript, ModuleTokenIsReplacedEverywhere) {
    EXPECT_EQ(ExpandScriptData("%MODULE%", "C:\\a.exe"), "C:\\a.exe");
    EXPECT_EQ(ExpandScriptData("x %MODULE% y %MODULE%", "%MODULE%"), "x %MODULE% y %MODULE%");
    EXPECT_EQ(ExpandScriptData("plain", "C:\\a.exe"), "plain");
}

TEST(RegistryScript, ClassKeyIsReplacedWholeButStrangersElsewhereStay) {
    FakeRegistry r;
    r.Put(kHkcr, kClsidKey + "\\InprocServer32", "", "stale.dll");
    r.Put(kHkcr, "CLSID\\{00000000-0000-0000-0000-000000000001}", "", "someone else");
    ASSERT_EQ(ApplyScript(r, ClassScript(), kModule), 0);
    EXPECT_FALSE(r.Has(kHkcr, kClsidKey + "\\InprocServer32"));
    EXPECT_TRUE(r.Has(kHkcr, "CLSID\\{00000000-0000-0000-0000-000000000001}"));
}

TEST(RegistryScript, RemovalKeepsTheParentsAndToleratesMissingKeys) {
    FakeRegistry r;
    r.Put(kHkcr, "AppID\\{other}", "", "x");
    ASSERT_EQ(ApplyScript(r, AppIdScript(), kModule), 0);
    ASSERT_EQ(ApplyScript(r, ClassScript(), kModule), 0);
    EXPECT_EQ(RemoveScript(r, ClassScript()), 0);
    EXPECT_EQ(RemoveScript(r, AppIdScript()), 0);
    EXPECT_EQ(r.Keys(), (std::set<std::string>{"hkcr\\appid", "hkcr\\appid\\{other}", "hkcr\\clsid"}));
    // A second removal finds nothing and is no failure.
    EXPECT_EQ(RemoveScript(r, ClassScript()), 0);
    EXPECT_EQ(RemoveScript(r, AppIdScript()), 0);
}

TEST(RegistryScript, FailuresAreReported) {
    FakeRegistry r;
    r.failCreate[FakeRegistry::Full(kHkcr, "KIVSVC.KIVSVCAccess\\CLSID")] = kErrorAccessDenied;
    EXPECT_EQ(ApplyScript(r, ClassScript(), kModule), kErrorAccessDenied);
    EXPECT_FALSE(r.Has(kHkcr, kClsidKey));  // stopped at the failing key

    FakeRegistry s;
    ASSERT_EQ(ApplyScript(s, AppIdScript(), kModule), 0);
    s.failDelete[FakeRegistry::Full(kHkcr, kAppIdKey)] = kErrorAccessDenied;
    EXPECT_EQ(RemoveScript(s, AppIdScript()), kErrorAccessDenied);
    EXPECT_FALSE(s.Has(kHkcr, "AppID\\KIVSVC.EXE"));  // the other keys still went
}

TEST(Registration, PlainServerRegistersInOrderAndDropsAnOldServiceEntry) {
    FakeRegistry r;
    r.Put(kHkcr, kAppIdKey, kLocalServiceValue, "KIVSVC");  // left by an earlier service registration
    RecordingHost host;
    EXPECT_EQ(RegisterServer(r, host, false), 0);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"CoInitialize", "UninstallService", "RegisterTypeLib", "CoUninitialize"}));
    EXPECT_EQ(r.ValuesOf(kHkcr, kAppIdKey)->count(kLocalServiceValue), 0u);
    EXPECT_EQ(DefaultOf(r, kClsidKey + "\\LocalServer32"), "\"" + kModule + "\"");
    bool serviceMode = true;
    EXPECT_EQ(ReadServiceMode(r, serviceMode), 0);
    EXPECT_FALSE(serviceMode);
}

TEST(Registration, ServiceModeAddsTheAppIdValuesAndInstalls) {
    FakeRegistry r;
    RecordingHost host;
    host.installResult = false;  // a failing installation does not stop the class registration
    EXPECT_EQ(RegisterServer(r, host, true), 0);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"CoInitialize", "UninstallService", "InstallService",
                                                    "RegisterTypeLib", "CoUninitialize"}));
    const auto* appId = r.ValuesOf(kHkcr, kAppIdKey);
    ASSERT_NE(appId, nullptr);
    EXPECT_EQ(appId->at(kLocalServiceValue).text, "KIVSVC");
    EXPECT_EQ(appId->at(kServiceParametersValue).text, "-Service");
    EXPECT_TRUE(r.Has(kHkcr, kClsidKey + "\\LocalServer32"));
    bool serviceMode = false;
    EXPECT_EQ(ReadServiceMode(r, serviceMode), 0);
    EXPECT_TRUE(serviceMode);
}

TEST(Registration, FailuresEndRegistrationWithTheirCode) {
    FakeRegistry r;
    RecordingHost host;
    host.initResult = static_cast<long>(static_cast<std::int32_t>(0x8000FFFFu));
    EXPECT_EQ(RegisterServer(r, host, true), host.initResult);
    EXPECT_EQ(host.calls, std::vector<std::string>{"CoInitialize"});
    EXPECT_TRUE(r.Keys().empty());
    EXPECT_EQ(UnregisterServer(r, host), host.initResult);

    RecordingHost h2;
    r.failOpen[FakeRegistry::Full(kHkcr, kAppIdKey)] = kErrorAccessDenied;
    EXPECT_EQ(RegisterServer(r, h2, true), kErrorAccessDenied);
    EXPECT_FALSE(r.Has(kHkcr, kClsidKey));  // the class is not registered

    FakeRegistry r3;
    RecordingHost h3;
    h3.typeLibResult = static_cast<long>(static_cast<std::int32_t>(0x80029C4Au));
    EXPECT_EQ(RegisterServer(r3, h3, false), h3.typeLibResult);

    FakeRegistry r4;
    RecordingHost h4;
    r4.failCreate[FakeRegistry::Full(kHkcr, kProgId)] = kErrorAccessDenied;
    EXPECT_EQ(RegisterServer(r4, h4, false), static_cast<long>(static_cast<std::int32_t>(0x80070005u)));
}

TEST(Registration, UnregistrationRemovesEverythingButTheParents) {
    FakeRegistry r;
    RecordingHost host;
    ASSERT_EQ(RegisterServer(r, host, true), 0);
    host.calls.clear();
    EXPECT_EQ(UnregisterServer(r, host), 0);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"CoInitialize", "UninstallService", "UnregisterTypeLib", "CoUninitialize"}));
    EXPECT_EQ(r.Keys(), (std::set<std::string>{"hkcr\\appid", "hkcr\\clsid"}));
}

TEST(Registration, StartUpNeedsTheAppIdKey) {
    FakeRegistry r;
    bool serviceMode = true;
    EXPECT_EQ(ReadServiceMode(r, serviceMode), kErrorFileNotFound);
    EXPECT_FALSE(serviceMode);
    r.Put(kHkcr, kAppIdKey, kLocalServiceValue, std::string(300, 'x'));  // does not fit the 260-byte buffer
    EXPECT_EQ(ReadServiceMode(r, serviceMode), 0);
    EXPECT_FALSE(serviceMode);
}

TEST(Registration, PathsWithBlanksAreQuoted) {
    EXPECT_EQ(QuotePathIfNeeded("C:\\kiv\\kivsvc.exe"), "C:\\kiv\\kivsvc.exe");
    EXPECT_EQ(QuotePathIfNeeded("C:\\Program Files\\kivsvc.exe"), "\"C:\\Program Files\\kivsvc.exe\"");
    EXPECT_EQ(QuotePathIfNeeded("\"C:\\Program Files\\kivsvc.exe\""), "\"C:\\Program Files\\kivsvc.exe\"");
}

}  // namespace
}  // namespace kiv::svc
