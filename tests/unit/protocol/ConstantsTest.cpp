// The message and data-argument values this source dispatches on, pinned to
// the published TWAIN 2 values. A wrong value here does not fail any other
// test: the source and its tests would agree on the wrong number.
#include <gtest/gtest.h>

#include "kivds/protocol/Twain.h"

using namespace twain;

namespace {

struct Named {
    TW_UINT32 actual;
    TW_UINT32 published;
    const char* name;
};

TEST(TwainConstants, MessagesHaveThePublishedValues) {
    const Named messages[] = {
        {MSG_GET, 0x0001, "MSG_GET"},
        {MSG_GETCURRENT, 0x0002, "MSG_GETCURRENT"},
        {MSG_GETDEFAULT, 0x0003, "MSG_GETDEFAULT"},
        {MSG_GETFIRST, 0x0004, "MSG_GETFIRST"},
        {MSG_GETNEXT, 0x0005, "MSG_GETNEXT"},
        {MSG_SET, 0x0006, "MSG_SET"},
        {MSG_RESET, 0x0007, "MSG_RESET"},
        {MSG_QUERYSUPPORT, 0x0008, "MSG_QUERYSUPPORT"},
        {MSG_GETHELP, 0x0009, "MSG_GETHELP"},
        {MSG_GETLABEL, 0x000A, "MSG_GETLABEL"},
        {MSG_GETLABELENUM, 0x000B, "MSG_GETLABELENUM"},
        {MSG_RESETALL, 0x0A01, "MSG_RESETALL"},
        {MSG_XFERREADY, 0x0101, "MSG_XFERREADY"},
        {MSG_CLOSEDSREQ, 0x0102, "MSG_CLOSEDSREQ"},
        {MSG_OPENDSM, 0x0301, "MSG_OPENDSM"},
        {MSG_OPENDS, 0x0401, "MSG_OPENDS"},
        {MSG_CLOSEDS, 0x0402, "MSG_CLOSEDS"},
        {MSG_USERSELECT, 0x0403, "MSG_USERSELECT"},
        {MSG_DISABLEDS, 0x0501, "MSG_DISABLEDS"},
        {MSG_ENABLEDS, 0x0502, "MSG_ENABLEDS"},
        {MSG_ENABLEDSUIONLY, 0x0503, "MSG_ENABLEDSUIONLY"},
        {MSG_PROCESSEVENT, 0x0601, "MSG_PROCESSEVENT"},
        {MSG_ENDXFER, 0x0701, "MSG_ENDXFER"},
    };
    for (const Named& m : messages) EXPECT_EQ(m.published, m.actual) << m.name;
}

TEST(TwainConstants, DataArgumentsAndGroupsHaveThePublishedValues) {
    const Named values[] = {
        {DG_CONTROL, 0x0001, "DG_CONTROL"},
        {DG_IMAGE, 0x0002, "DG_IMAGE"},
        {DF_APP2, 0x20000000, "DF_APP2"},
        {DF_DS2, 0x40000000, "DF_DS2"},
        {DAT_STATUS, 0x0008, "DAT_STATUS"},
        {DAT_USERINTERFACE, 0x0009, "DAT_USERINTERFACE"},
        {DAT_XFERGROUP, 0x000A, "DAT_XFERGROUP"},
        {DAT_IMAGEMEMXFER, 0x0103, "DAT_IMAGEMEMXFER"},
        {DAT_EXTIMAGEINFO, 0x010B, "DAT_EXTIMAGEINFO"},
        {DAT_ENTRYPOINT, 0x0403, "DAT_ENTRYPOINT"},
        {TWCC_FILEWRITEERROR, 22, "TWCC_FILEWRITEERROR"},
        {TWCC_CHECKDEVICEONLINE, 23, "TWCC_CHECKDEVICEONLINE"},
        {ICAP_PLANARCHUNKY, 0x1120, "ICAP_PLANARCHUNKY"},
        {ICAP_BITDEPTH, 0x112B, "ICAP_BITDEPTH"},
        {ICAP_SUPPORTEDSIZES, 0x1122, "ICAP_SUPPORTEDSIZES"},
    };
    for (const Named& v : values) EXPECT_EQ(v.published, v.actual) << v.name;
}

}  // namespace
