#include <gtest/gtest.h>

#include <string>

#include "com/objbase.h"
#include "com/text.h"
#include "hda/opchda.h"

namespace {

std::u16string Text(REFGUID g) {
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(g, buf, 39), 39);
    return buf;
}

TEST(GuidText, FormatsUpperCaseBracedWithTerminator) {
    EXPECT_EQ(Text(CATID_OPCHDAServer10), u"{7DE5B060-E089-11D2-A5E6-000086339399}");
    EXPECT_EQ(Text(GUID_NULL), u"{00000000-0000-0000-0000-000000000000}");
    GUID all = {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    EXPECT_EQ(Text(all), u"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
}

TEST(GuidText, TooSmallBufferWritesNothing) {
    OLECHAR buf[39];
    std::fill(std::begin(buf), std::end(buf), u'#');
    EXPECT_EQ(StringFromGUID2(CATID_OPCHDAServer10, buf, 38), 0);
    EXPECT_EQ(StringFromGUID2(CATID_OPCHDAServer10, buf, 0), 0);
    EXPECT_EQ(StringFromGUID2(CATID_OPCHDAServer10, nullptr, 39), 0);
    for (OLECHAR c : buf) EXPECT_EQ(c, u'#');
}

// The identifiers of the HDA header, digit by digit as the HDA 1.20 standard's IDL gives them.
TEST(GuidText, StandardIdentifiersMatchTheirPublishedText) {
    EXPECT_EQ(Text(IID_IOPCHDA_Server), u"{1F1217B0-DEE0-11D2-A5E5-000086339399}");
    EXPECT_EQ(Text(IID_IOPCHDA_Browser), u"{1F1217B1-DEE0-11D2-A5E5-000086339399}");
    EXPECT_EQ(Text(IID_IOPCHDA_SyncRead), u"{1F1217B2-DEE0-11D2-A5E5-000086339399}");
    EXPECT_EQ(Text(IID_IOPCHDA_SyncUpdate), u"{1F1217B3-DEE0-11D2-A5E5-000086339399}");
    EXPECT_EQ(Text(IID_IOPCHDA_AsyncRead), u"{1F1217B5-DEE0-11D2-A5E5-000086339399}");
    EXPECT_EQ(Text(CLSID_OpcServerList), u"{13486D51-4821-11D2-A494-3CB306C10000}");
    EXPECT_EQ(Text(IID_IOPCServerList), u"{13486D50-4821-11D2-A494-3CB306C10000}");
    EXPECT_EQ(Text(CLSID_StdComponentCategoriesMgr), u"{0002E005-0000-0000-C000-000000000046}");
    EXPECT_EQ(Text(IID_ICatInformation), u"{0002E013-0000-0000-C000-000000000046}");
}

TEST(GuidText, ParsesItsOwnTextAndLowerCase) {
    for (const GUID& g : {CATID_OPCHDAServer10, IID_IOPCHDA_Server, CLSID_OpcServerList, GUID_NULL}) {
        CLSID back{};
        ASSERT_EQ(CLSIDFromString(Text(g).c_str(), &back), S_OK);
        EXPECT_EQ(back, g);
    }
    IID iid{};
    EXPECT_EQ(IIDFromString(u"{1f1217b2-dee0-11d2-a5e5-000086339399}", &iid), S_OK);
    EXPECT_EQ(iid, IID_IOPCHDA_SyncRead);
}

TEST(GuidText, RejectsEverythingButTheStrictForm) {
    const char16_t* bad[] = {
        u"",
        u"7DE5B060-E089-11D2-A5E6-000086339399",     // no braces
        u"{7DE5B060-E089-11D2-A5E6-000086339399",    // no closing brace
        u"{7DE5B060-E089-11D2-A5E6-000086339399}x",  // trailing text
        u" {7DE5B060-E089-11D2-A5E6-000086339399}",  // leading blank
        u"{7DE5B060E089-11D2-A5E6-000086339399}",    // missing dash
        u"{7DE5B060-E089-11D2-A5E60-00086339399}",   // dash in the wrong place
        u"{7DE5B06G-E089-11D2-A5E6-000086339399}",   // not hex
        u"{+DE5B060-E089-11D2-A5E6-000086339399}",   // sign
        u"{7DE5B060-E089-11D2-A5E6-00008633939}",    // one digit short
        u"HdaTest.Recording.1",
    };
    for (const char16_t* s : bad) {
        CLSID out = CATID_OPCHDAServer10;
        EXPECT_EQ(CLSIDFromString(s, &out), CO_E_CLASSSTRING) << com::Utf16ToUtf8(s);
        EXPECT_EQ(out, CLSID_NULL);
        IID iid = CATID_OPCHDAServer10;
        EXPECT_EQ(IIDFromString(s, &iid), E_INVALIDARG);  // and the output is left alone
        EXPECT_EQ(iid, CATID_OPCHDAServer10);
    }
    std::u16string huge(100000, u'{');
    CLSID out{};
    EXPECT_EQ(CLSIDFromString(huge.c_str(), &out), CO_E_CLASSSTRING);
}

TEST(GuidText, NullArguments) {
    CLSID out{};
    EXPECT_EQ(CLSIDFromString(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(IIDFromString(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(u"{7DE5B060-E089-11D2-A5E6-000086339399}", nullptr), E_POINTER);
    EXPECT_EQ(StringFromCLSID(CATID_OPCHDAServer10, nullptr), E_POINTER);
}

TEST(GuidText, StringFromClsidAllocatesOneTaskBlock) {
    long before = com::LiveTaskMemBlocks();
    LPOLESTR s = nullptr;
    ASSERT_EQ(StringFromCLSID(CLSID_OpcServerList, &s), S_OK);
    EXPECT_EQ(std::u16string(s), u"{13486D51-4821-11D2-A494-3CB306C10000}");
    EXPECT_EQ(com::LiveTaskMemBlocks(), before + 1);
    CoTaskMemFree(s);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(GuidText, Utf8Helpers) {
    EXPECT_EQ(com::GuidToUtf8(CATID_OPCHDAServer10), "{7DE5B060-E089-11D2-A5E6-000086339399}");
    GUID g{};
    EXPECT_TRUE(com::GuidFromUtf8("{7de5b060-e089-11d2-a5e6-000086339399}", &g));
    EXPECT_EQ(g, CATID_OPCHDAServer10);
    EXPECT_FALSE(com::GuidFromUtf8("{7DE5B060-E089-11D2-A5E6-000086339399}\n", &g));
    EXPECT_FALSE(com::GuidFromUtf8("{7DE5B060-E089-11D2-A5E6-0000863393\xC3\xA9}", &g));
}

}  // namespace
