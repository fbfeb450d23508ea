#include "catalog/installation_name.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

constexpr char16_t kUnusable[] = u"That name cannot be used for an installation.";
constexpr char16_t kTooLong[] = u"That name is too long.";
constexpr char16_t kBadEnd[] = u"Names cannot end with a space or a period.";
constexpr char16_t kBadChar[] = u"Names cannot include \\ / : * ? \" < > |.";
constexpr char16_t kReserved[] = u"That name is reserved by Windows.";

// The error text for `name`, or "ok".
std::u16string verdict(std::u16string_view name) {
    std::u16string error;
    return validateInstallationName(name, error) ? u"ok" : error;
}

TEST(InstallationName, EmptyDotAndDotDotCannotBeUsed) {
    EXPECT_EQ(verdict(u""), kUnusable);
    EXPECT_EQ(verdict(u"."), kUnusable);
    EXPECT_EQ(verdict(u".."), kUnusable);
}

TEST(InstallationName, EightyUnitsAreAcceptedEightyOneAreNot) {
    EXPECT_EQ(verdict(std::u16string(80, u'a')), u"ok");
    EXPECT_EQ(verdict(std::u16string(81, u'a')), kTooLong);
    // Counted in UTF-16 units: 40 characters outside the BMP are 80 units.
    std::u16string pairs;
    for (int i = 0; i < 40; ++i) pairs += u"\U0001F600";
    EXPECT_EQ(verdict(pairs), u"ok");
    EXPECT_EQ(verdict(pairs + u"a"), kTooLong);
}

TEST(InstallationName, TooLongIsCheckedBeforeTheEnding) {
    EXPECT_EQ(verdict(std::u16string(80, u'a') + u"."), kTooLong);
}

TEST(InstallationName, ASpaceOrFullStopAtTheEndIsRefused) {
    EXPECT_EQ(verdict(u"Copy."), kBadEnd);
    EXPECT_EQ(verdict(u"Copy "), kBadEnd);
    EXPECT_EQ(verdict(u" Copy"), u"ok");
}

TEST(InstallationName, ControlCharactersAndTheNineSeparatorsAreRefused) {
    EXPECT_EQ(verdict(u"a\tb"), kBadChar);
    EXPECT_EQ(verdict(u"a:b"), kBadChar);
    EXPECT_EQ(verdict(std::u16string(u"a\0b", 3)), kBadChar);
    EXPECT_EQ(verdict(u"a\x1F" u"b"), kBadChar);
    for (const char16_t c : std::u16string_view(u"\\/:*?\"<>|"))
        EXPECT_EQ(verdict(std::u16string(u"a") + c + u"b"), kBadChar) << static_cast<int>(c);
    EXPECT_EQ(verdict(u"a\x7F" u"b"), u"ok");
}

TEST(InstallationName, DeviceNamesAreReservedInAnyCaseAndBeforeAnyExtension) {
    for (const char16_t* name : {u"aux", u"Com1.old", u"LPT9", u"con", u"PRN.txt.bak", u"nul"})
        EXPECT_EQ(verdict(name), kReserved) << std::string(name, name + std::char_traits<char16_t>::length(name));
}

TEST(InstallationName, NamesThatOnlyStartLikeDevicesAreAccepted) {
    for (const char16_t* name : {u"COM10", u"console", u"nul1", u"LPT0", u"xCON", u"Retail2", u"Клиент"})
        EXPECT_EQ(verdict(name), u"ok") << std::string(name, name + std::char_traits<char16_t>::length(name));
}

TEST(InstallationName, SuccessLeavesTheErrorTextAlone) {
    std::u16string error = u"before";
    EXPECT_TRUE(validateInstallationName(u"Fine", error));
    EXPECT_EQ(error, u"before");
}

}  // namespace
}  // namespace mendly
