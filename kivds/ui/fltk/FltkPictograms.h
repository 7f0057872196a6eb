// The pictures of the dialogs, drawn by code into the current FLTK drawing
// context: the capture button's camera, the settings button's tools and the
// product icon. Each fills a `size` x `size` square at (x, y).
//
// Threads: the FLTK thread, inside a widget's draw().
#pragma once

namespace kiv {

void DrawCameraPictogram(int x, int y, int size, bool enabled);
void DrawToolsPictogram(int x, int y, int size, bool enabled);
// The product icon (IDI_APP): a document under a camera arm.
void DrawProductPictogram(int x, int y, int size);
// Draws icon resource `iconId` (IDI_CAPTURE, IDI_SETTINGS, IDI_APP); false
// for an icon the module does not have.
bool DrawIconResource(int iconId, int x, int y, int size, bool enabled);

}  // namespace kiv
