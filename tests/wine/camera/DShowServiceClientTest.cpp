// The kivsvc COM client against the real server (x64 kivsvc.exe of this
// build), registered in the test prefix for the length of the test: the
// client resolves the ProgID, creates the instance in the local server,
// calls both methods (whose effect shows on the node-interface key) and
// releases it with its apartment; once the server is unregistered the client
// holds no instance again.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "kivds/camera/IKIVSVCClient.h"
#include "wine/camera/ServiceRegistration.h"

using kivtest::NodeKeyExists;
using kivtest::ServiceRegistration;

TEST(DShowServiceClient, CallsBothMethodsOfTheRegisteredServerAndNothingOnceUnregistered) {
    if (!ServiceRegistration::Available()) GTEST_SKIP() << "kivsvc.exe is not part of this build";
    kivtest::DeleteNodeKey();
    {
        ServiceRegistration registration;
        ASSERT_TRUE(registration.Registered());
        {
            auto client = kiv::MakeServiceClient();
            ASSERT_TRUE(client->HasInstance());
            client->CreateNodeInterfacesKeyForKIVVIEW();
            EXPECT_TRUE(NodeKeyExists());
            EXPECT_EQ(3u, kivtest::NodeKeyValueCount());
            // The same instance serves the second method as well.
            client->RegistryDeleteNodeInterfacesKey();
            EXPECT_FALSE(NodeKeyExists());
        }
        // One client per call, as the dialog makes them; the key written by
        // a first client is deleted by a second one.
        kiv::MakeServiceClient()->CreateNodeInterfacesKeyForKIVVIEW();
        EXPECT_TRUE(NodeKeyExists());
        {
            auto again = kiv::MakeServiceClient();
            ASSERT_TRUE(again->HasInstance());
            again->RegistryDeleteNodeInterfacesKey();
        }
        EXPECT_FALSE(NodeKeyExists());
        // Deleting a missing key is harmless.
        kiv::MakeServiceClient()->RegistryDeleteNodeInterfacesKey();
        EXPECT_FALSE(NodeKeyExists());
    }
    auto none = kiv::MakeServiceClient();
    EXPECT_FALSE(none->HasInstance());
    // Nothing is called and nothing recreates the key without the service.
    none->CreateNodeInterfacesKeyForKIVVIEW();
    EXPECT_FALSE(NodeKeyExists());
}

// The client initialises COM as an apartment for its one call; on a thread
// that already is in the multithreaded apartment it works in that one, and
// leaves the thread's apartment as it found it.
TEST(DShowServiceClient, WorksInTheMultithreadedApartmentOfItsThread) {
    if (!ServiceRegistration::Available()) GTEST_SKIP() << "kivsvc.exe is not part of this build";
    kivtest::DeleteNodeKey();
    ServiceRegistration registration;
    ASSERT_TRUE(registration.Registered());
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        auto client = kiv::MakeServiceClient();
        ASSERT_TRUE(client->HasInstance());
        client->CreateNodeInterfacesKeyForKIVVIEW();
    }
    EXPECT_TRUE(NodeKeyExists());
    // Still the multithreaded apartment: asking for it again only counts up.
    EXPECT_EQ(S_FALSE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    CoUninitialize();
    CoUninitialize();
    kiv::MakeServiceClient()->RegistryDeleteNodeInterfacesKey();
    EXPECT_FALSE(NodeKeyExists());
}
