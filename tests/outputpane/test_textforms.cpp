// The output pane's text forms are QStrings over the client core's (tested there, tests/client):
// the same texts, and the constant storage a quality's text shares is never edited through a copy.
#include <gtest/gtest.h>

#include <QString>

#include "client/textforms.h"
#include "client/timetext.h"
#include "com/oleauto.h"
#include "fakehost.h"
#include "outputpane/outputpane.h"

namespace {

QString Q(const char* s) {
    return QString::fromUtf8(s);
}

TEST(TextForms, TheOutputPaneShowsTheCoresTexts) {
    for (HRESULT hr : {S_OK, static_cast<HRESULT>(0xC0040007), static_cast<HRESULT>(0xC004100D)})
        EXPECT_EQ(COutputPane::FormatResultCode(hr), QString::fromStdU16String(client::FormatResultCode(hr)));
    for (DWORD q : {0x000400C0u, 0x80u, 0x00020041u})
        EXPECT_EQ(COutputPane::FormatQuality(q),
                  QString::fromStdU16String(std::u16string(client::FormatQuality(q))));
    const VARIANT r8 = MakeVt(VT_R8, 0x3FF8000000000000ULL);  // 1.5
    EXPECT_EQ(COutputPane::FormatVariant(r8), QString::fromStdU16String(client::FormatVariant(r8)));
    const FILETIME ft = MakeFileTime(2009, 2, 24, 13, 5, 7, 250);
    EXPECT_EQ(FormatTimestamp(ft), QString::fromStdU16String(client::FormatTimestamp(ft)));
}

TEST(FormatQuality, ChangingAReturnedTextLeavesTheNextOneIntact) {
    // The texts share constant storage; a caller that edits its copy must get its own.
    QString s = COutputPane::FormatQuality(0xC0);
    s.append(QLatin1String(" edited"));
    s[0] = QLatin1Char('X');
    EXPECT_EQ(COutputPane::FormatQuality(0xC0), Q("Good, Non-specific"));
}

}  // namespace
