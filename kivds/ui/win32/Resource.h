// Resource ids of the dialog templates, icons and version record, for the
// resource compiler (plain #defines) and for the C++ code, which checks them
// against DialogControls.h (ResourceIds.cpp) so that one table stays the truth.
#ifndef KIVDS_UI_WIN32_RESOURCE_H
#define KIVDS_UI_WIN32_RESOURCE_H

#define IDD_CAPTURE_RC 2000
#define IDC_PREVIEW_RC 2001
#define IDC_FORMAT_LABEL_RC 2002
#define IDC_FORMAT_LIST_RC 2004
#define IDC_SIZE_LABEL_RC 2005
#define IDC_SIZE_LIST_RC 2007
#define IDC_SETTINGS_RC 2008
#define IDC_CAPTURE_RC 2009

#define IDD_VERSION_RC 2017
#define IDC_VERSION_PRODUCT_RC 2018
#define IDC_VERSION_NUMBER_RC 2019
#define IDC_VERSION_COPYRIGHT_RC 2020
#define IDC_VERSION_ICON_RC 2021
#define IDC_VERSION_LICENSE_RC 2022

#define IDI_APP_RC 2003
#define IDI_CAPTURE_RC 2015
#define IDI_SETTINGS_RC 2016

// The file's version record (2.0.0.6), from the product's one version number.
#include "KivVersion.h"
#define KIVDS_FILE_VERSION KIV_FILE_VERSION
#define KIVDS_FILE_VERSION_TEXT KIV_FILE_VERSION_TEXT

#endif
