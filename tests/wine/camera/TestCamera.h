// The Wine test camera (test-only, never shipped): an in-process COM server
// whose capture source filters stand for the cameras that KIVDS_SIM
// describes, device i of the description behind the class of slot i.
//
// Each filter has one capture pin that lists the described MJPG / YUY2 /
// NV12 sizes through IAMStreamConfig and remembers the format set on it (per
// slot, as a driver would). It connects with the encoding set and streams the
// virtual camera's picture in the current size; the payload of every sample
// is that picture as RGB24 (the test checks the capture graph, not a codec),
// which the module's decoder (TestTransform.h), found by intelligent connect,
// hands on as RGB24.
// The device behind each slot is the virtual camera's VirtualDevice
// (formats, buttons, extension unit, removal, faults); the filter only
// speaks DirectShow for it. "lose=N" raises EC_DEVICE_LOST after N frames;
// "xu=a|b" and "buttons=" give the filter's topology an extension-unit node
// with scripted status bytes, which keeps model A's order and the cameras'
// byte counts; "fail=xu..." makes its requests fail. "fail=connect:busy" (any kind) makes the pin refuse every
// connection, as a device held by another program does. KIVTESTCAM_RUN_HR (hex) makes the filter refuse to leave the
// stopped state with that code, so the graph's Run fails with it, as it does
// for a device in use (an unplugged device refuses the same way). Wine 8's
// graph drops a filter's failure to pause or run (IMediaControl::Run still
// succeeds), so under Wine only the refused connection is observable.
//
// KIVTESTCAM_SHORT_SAMPLES (decimal N) makes the decoder hand on each frame
// N bytes short, so the grabber's buffer no longer matches the RGB24 rows.
//
// Exports, for the tests in the same process:
#pragma once

#include <windows.h>

extern "C" {
// COM objects of this module alive now (filters, pins, enumerators, nodes,
// class factories).
LONG WINAPI KivTestCamLiveObjects();
// Of those, the decoders (the graph builder inserted one per connected stream).
LONG WINAPI KivTestCamLiveDecoders();
// Unplugs the device of a slot: its running filters raise EC_DEVICE_LOST
// and stop streaming.
void WINAPI KivTestCamUnplug(int slot);
// Property pages of the filters activated (shown in a frame) so far.
LONG WINAPI KivTestCamPagesActivated();
// Queries of the capture filters for IKsTopologyInfo since the last reset,
// with or without an extension unit (each button read makes at least one).
LONG WINAPI KivTestCamTopologyQueries();
// Probes (SETSUPPORT requests) sent to the extension-unit nodes since the
// last reset, whatever their property set.
LONG WINAPI KivTestCamUnitProbes();
// Status bytes read from the unit of a slot since the last reset; -1 for no slot.
LONG WINAPI KivTestCamButtonReads(int slot);
// Forgets the per-slot state (formats set, unplugging, button positions), the
// topology queries and the probes.
void WINAPI KivTestCamReset();
}

// {4B1D0C00-7E2A-4C11-9E55-0000000000ss}: the capture filter of slot ss.
constexpr int kTestCamSlots = 4;
inline CLSID TestCamClsid(int slot) {
    return CLSID{0x4B1D0C00, 0x7E2A, 0x4C11, {0x9E, 0x55, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<BYTE>(slot)}};
}
