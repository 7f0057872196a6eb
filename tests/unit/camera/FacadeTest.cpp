// The process-wide facade: one camera object per facade life, results
// flattened to 0/1, and a fresh camera after destruction.
#include <gtest/gtest.h>

#include "kivds/camera/KIVUVCControl.h"
#include "kivds/image/ImageReference.h"

namespace kiv {
namespace {

struct StubCamera : IKIVCameraControl {
    explicit StubCamera(int* alive) : alive_(alive) { ++*alive_; }
    ~StubCamera() override { --*alive_; }
    int Open() override { return result; }
    void Close() override {}
    int SetNotifyWindow(WindowHandle) override { return result; }
    int SetPreviewWindow(WindowHandle) override { return result; }
    int Run() override { return result; }
    int Stop() override { return result; }
    int SetMediaFormat(int, const CResolution&) override { return result; }
    int GetDeviceInfo(std::unique_ptr<CUVCDeviceInfo>&) override { return result; }
    int HandleGraphEvents(CUVCState&) override { return result; }
    int SetFrameCallback(WindowHandle, int) override { return result; }
    int GrabStill(std::unique_ptr<CImageReference>&) override { return result; }
    int ShowPropertyPages(WindowHandle, const std::wstring&) override { return result; }
    int PollButtons(CameraButtonState*) override {
        ++polls;
        return result;
    }
    int IsDevicePresent(const std::wstring&) override { return result; }

    int* alive_;
    int result = 1;
    int polls = 0;
};

class FacadeTest : public ::testing::Test {
protected:
    FacadeTest() {
        CKIVUVCControl::SetCameraFactory([this] {
            ++created;
            return std::make_unique<StubCamera>(&alive);
        });
    }
    ~FacadeTest() override {
        CKIVUVCControl::DestroyInstance();
        CKIVUVCControl::SetCameraFactory({});
    }
    StubCamera& Stub() { return *static_cast<StubCamera*>(CKIVUVCControl::GetInstance()->Camera()); }

    int alive = 0;
    int created = 0;
};

TEST_F(FacadeTest, OneFacadeAndCameraUntilDestroyed) {
    CKIVUVCControl* first = CKIVUVCControl::GetInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(CKIVUVCControl::GetInstance(), first);
    EXPECT_EQ(created, 1);
    EXPECT_EQ(alive, 1);
    CKIVUVCControl::DestroyInstance();
    EXPECT_EQ(alive, 0);
    ASSERT_NE(CKIVUVCControl::GetInstance(), nullptr);
    EXPECT_EQ(created, 2);
    EXPECT_EQ(alive, 1);
}

TEST_F(FacadeTest, ForwardingFlattensResults) {
    CKIVUVCControl* facade = CKIVUVCControl::GetInstance();
    Stub().result = 5;
    EXPECT_EQ(facade->Open(), 1);
    EXPECT_EQ(facade->Run(), 1);
    EXPECT_EQ(facade->IsDevicePresent(L"KIVCAMA"), 5);  // the camera's own result
    Stub().result = 0;
    EXPECT_EQ(facade->SetMediaFormat(UVCFMT_YUY2, CResolution(640, 480)), 0);
    std::unique_ptr<CImageReference> image;
    EXPECT_EQ(facade->GrabStill(image), 0);

    Stub().result = 1;
    EXPECT_EQ(facade->PollButtons(nullptr), 0);
    EXPECT_EQ(Stub().polls, 0);
    CameraButtonState state;
    EXPECT_EQ(facade->PollButtons(&state), 1);
    EXPECT_EQ(Stub().polls, 1);
}

TEST_F(FacadeTest, NoFacadeWhenNoCameraCanBeMade) {
    CKIVUVCControl::SetCameraFactory([] { return std::unique_ptr<IKIVCameraControl>(); });
    EXPECT_EQ(CKIVUVCControl::GetInstance(), nullptr);
}

}  // namespace
}  // namespace kiv
