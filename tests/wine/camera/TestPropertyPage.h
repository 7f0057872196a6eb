// The test camera's property page: one page that shows a line of text, so
// that the capture filter's ISpecifyPropertyPages leads to a real property
// frame (OleCreatePropertyFrame) under Wine.
#pragma once

#include <windows.h>

// {4B1D0C02-7E2A-4C11-9E55-000000000000}
constexpr CLSID kTestPageClsid = {0x4B1D0C02, 0x7E2A, 0x4C11, {0x9E, 0x55, 0, 0, 0, 0, 0, 0}};

namespace testcam {

// A new page (one reference) for the class factory.
IUnknown* NewTestPropertyPage();
// Pages activated (their window made) since the module was loaded.
LONG TestPagesActivated();

}  // namespace testcam
