// The pictures of the dialogs, drawn by code into the current FLTK drawing
// context: the capture button's camera, the settings button's tools and the
// product icon. Each fills a `size` x `size` square at (x, y).
//
// Threads: the FLTK thread, inside a widget's draw().
#pragma once

#include <vector>

namespace kiv {

void DrawCameraPictogram(int x, int y, int size, bool enabled);
void DrawToolsPictogram(int x, int y, int size, bool enabled);
// The product icon (IDI_APP): a document under a camera arm.
void DrawProductPictogram(int x, int y, int size);
// Draws icon resource `iconId` (IDI_CAPTURE, IDI_SETTINGS, IDI_APP); false
// for an icon the module does not have.
bool DrawIconResource(int iconId, int x, int y, int size, bool enabled);
// Icon resource `iconId` as `size` x `size` RGB pixels on the button-face
// colour (drawn offscreen; needs the display); false for an unknown icon.
bool RenderIconRgb(int iconId, int size, std::vector<unsigned char>& rgb);

}  // namespace kiv
