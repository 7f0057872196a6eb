// Reading the zoom buttons of models A and B through their extension units,
// and the auto-repeat that turns held buttons into digital-zoom steps. Both
// are used by CCameraLogic::PollButtons on the thread that owns the camera
// (the capture dialog's 200 ms timer); neither keeps a reference to the
// platform or reports anything to the user.
#pragma once

#include <cstdint>
#include <string>

#include "kivds/camera/CameraRecords.h"
#include "kivds/camera/IVideoPlatform.h"

namespace kiv {

// Which read a model name calls for (names compared ignoring ASCII case).
enum class ButtonRead {
    None,               // a model without buttons: nothing is read
    Status,             // model B
    Register,           // model A
    StatusThenRegister  // "KIVCAMAorB": model B's read, model A's when that gives 0
};
ButtonRead ButtonReadOfModel(const std::wstring& modelName);

// Model B. Finds the unit (none: 0), then GETs the status; when the GET
// succeeds the record's flags and status are set from the low byte. Returns
// 1 once the unit was found, whether or not the GET succeeded.
int ReadButtonsStatus(IVideoPlatform& platform, CameraButtonState& state);

// Model A's read also needs the registration service when its unit is not
// visible: the service is asked (through MakeServiceClient) to delete the
// node-interface key at most once until Reset.
class CRegisterButtonReader {
public:
    // Forgets that the service was asked (Open and Run of the camera).
    void Reset() { m_serviceAsked = false; }
    bool ServiceAsked() const { return m_serviceAsked; }

    // Opens devicePath as a presence test (fails: 0, nothing else is sent).
    // With the unit found, sends the mode and address SETs and the status GET,
    // each only after the one before succeeded, sets the record from the
    // status byte when the GET succeeded, and returns 1. Without the unit:
    // `unitMissing`, the service asked once, and 0. A topology that cannot be
    // asked at all (a failure other than "not found") gives 0 without asking
    // the service.
    int Read(IVideoPlatform& platform, const std::wstring& devicePath, CameraButtonState& state);

private:
    void AskServiceOnce();

    bool m_serviceAsked = false;
};

// The button auto-repeat: a step at the first poll that sees a new status,
// the next three polls later, then one at every poll while the status stays.
// Zoom-out wins over zoom-in; steps are 0.25 between 1.0 and 8.0.
class CButtonAutoRepeat {
public:
    void Reset() {
        m_lastStatus = 0;
        m_countdown = 0;
    }

    // Runs one poll's worth of the auto-repeat on a read record. Returns true
    // when zoomFactor changed and must be applied; a step that would leave
    // 1.0 ... 8.0 leaves zoomFactor at the bound and returns false.
    bool Poll(const CameraButtonState& state, float& zoomFactor);

private:
    std::uint8_t m_lastStatus = 0;
    int m_countdown = 0;
};

}  // namespace kiv
