#include <gtest/gtest.h>

#include "content_type.h"

namespace mendly {
namespace {

TEST(PageContentType, KnownExtensionsInAnyCase) {
    EXPECT_EQ(contentTypeForName(u"main.htm"), "text/html");
    EXPECT_EQ(contentTypeForName(u"MAIN.CSS"), "text/css");
    EXPECT_EQ(contentTypeForName(u"main.js"), "text/javascript");
    EXPECT_EQ(contentTypeForName(u"img/icon_48.png"), "image/png");
    EXPECT_EQ(contentTypeForName(u"background.jpg"), "image/jpeg");
    EXPECT_EQ(contentTypeForName(u"client_icon.ico"), "image/x-icon");
}

TEST(PageContentType, UnknownOrMissingExtensionIsOctetStream) {
    EXPECT_EQ(contentTypeForName(u"README"), "application/octet-stream");
    EXPECT_EQ(contentTypeForName(u"archive.sar"), "application/octet-stream");
    EXPECT_EQ(contentTypeForName(u".png"), "application/octet-stream");
    EXPECT_EQ(contentTypeForName(u"dir.png/file"), "application/octet-stream");
}

}  // namespace
}  // namespace mendly
