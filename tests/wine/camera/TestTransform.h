// The test camera's decoder: a transform from the capture pin's MJPG or YUY2
// stream to RGB24, which Wine 8 lacks. The test camera's "encoded" samples
// already carry the RGB24 picture, so decoding is a copy; what it proves is
// that the graph builder reaches an RGB24 sample grabber through a decoder
// it finds in the legacy filter category, as it does with a real camera.
#pragma once

#include <windows.h>

// {4B1D0C01-7E2A-4C11-9E55-000000000000}
constexpr CLSID kTestDecoderClsid = {0x4B1D0C01, 0x7E2A, 0x4C11, {0x9E, 0x55, 0, 0, 0, 0, 0, 0}};

namespace testcam {

// A new decoder filter (one reference) for the class factory.
IUnknown* NewTestDecoder();
// Decoders alive now.
LONG LiveTestDecoders();
// Registers the decoder in the legacy filter category with a merit that
// intelligent connect uses; needs the class registered for in-process use.
HRESULT RegisterTestDecoder();
HRESULT UnregisterTestDecoder();

}  // namespace testcam
