/* The geometry of the two dialog templates in dialog units: each rectangle
 * is x, y, width, height. Plain #defines, so that the resource compiler
 * (win32/Dialogs.rc) and the C++ tables (DialogControls.h) read the same
 * numbers. */
#ifndef KIVDS_UI_DIALOG_GEOMETRY_H
#define KIVDS_UI_DIALOG_GEOMETRY_H

/* Capture dialog, template 2000. */
#define KIV_CAPTURE_DIALOG_W 381
#define KIV_CAPTURE_DIALOG_H 240
#define KIV_RECT_PREVIEW 14, 12, 270, 216
#define KIV_RECT_FORMAT_LABEL 299, 10, 70, 10
#define KIV_RECT_FORMAT_LIST 298, 21, 70, 48
#define KIV_RECT_SIZE_LABEL 299, 39, 70, 10
#define KIV_RECT_SIZE_LIST 298, 50, 70, 96
#define KIV_RECT_SETTINGS 298, 70, 70, 40
#define KIV_RECT_CAPTURE 298, 189, 70, 40

/* Version dialog, template 2017. */
#define KIV_VERSION_DIALOG_W 324
#define KIV_VERSION_DIALOG_H 142
#define KIV_RECT_VERSION_ICON 17, 13, 20, 20
#define KIV_RECT_VERSION_PRODUCT 54, 13, 180, 8
#define KIV_RECT_VERSION_NUMBER 241, 13, 45, 8
#define KIV_RECT_VERSION_COPYRIGHT 54, 27, 229, 8
#define KIV_RECT_VERSION_LICENSE 55, 45, 228, 66
#define KIV_RECT_VERSION_OK 137, 121, 50, 14

#endif
