#include "hash/signature.h"

#include <gtest/gtest.h>

#include "hash/base64.h"
#include "support/test_signing.h"

namespace mendly {
namespace {

TEST(Base64, DecodesOnlyCanonicalText) {
    struct Case {
        const char* text;
        const char* bytes;  // null: refused
    } cases[] = {
        {"", ""},           {"Zg==", "f"},        {"Zm8=", "fo"},      {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"}, {"Zg=", nullptr},   {"Zh==", nullptr},   {"Zm9=", nullptr},
        {"Zm 9v", nullptr},  {"Zm9v\n", nullptr}, {"=Zm9", nullptr},   {"Zg==Zg==", nullptr},
        {"Zm-_", nullptr},   {"Z===", nullptr},
    };
    for (const auto& c : cases) {
        const auto decoded = base64Decode(c.text);
        if (c.bytes == nullptr) {
            EXPECT_FALSE(decoded.has_value()) << c.text;
        } else {
            ASSERT_TRUE(decoded.has_value()) << c.text;
            EXPECT_EQ(*decoded, c.bytes);
            EXPECT_EQ(base64Encode(*decoded), c.text);
        }
    }
}

TEST(SignatureText, KeysAndSignaturesParseWithSurroundingWhiteSpaceOnly) {
    const PublicKey key = test::testSigningKey().publicKey();
    const std::string text = publicKeyText(key);
    EXPECT_EQ(text, "NdsySCPy0CwuZjs6ACQLfxNm68BrsP/CzSX0yBceaps=");
    EXPECT_EQ(parsePublicKeyText(" \t" + text + "\r\n"), key);
    EXPECT_FALSE(parsePublicKeyText(text.substr(0, 20) + " " + text.substr(20)));
    EXPECT_FALSE(parsePublicKeyText(base64Encode(std::string(31, 'k'))));
    EXPECT_FALSE(parseSignatureText(text));  // 32 bytes are not a signature
    EXPECT_FALSE(parseSignatureText(""));
}

TEST(CheckSignature, AcceptsAnyTrustedKeyAndNothingElse) {
    const std::string document = "{\"files\":[]}";
    const auto& trusted = test::testSigningKey();
    const auto& stranger = test::strangerSigningKey();
    const std::vector<PublicKey> keys{stranger.publicKey(), trusted.publicKey()};
    const std::vector<PublicKey> onlyTrusted{trusted.publicKey()};
    const std::string goodFile = test::signatureFileFor(trusted, document);

    EXPECT_EQ(checkSignature(document, goodFile, keys), SignatureCheck::Valid);
    EXPECT_EQ(checkSignature(document, test::signatureFileFor(stranger, document), onlyTrusted),
              SignatureCheck::NoTrustedKey);
    EXPECT_EQ(checkSignature(document + " ", goodFile, onlyTrusted), SignatureCheck::NoTrustedKey);
    EXPECT_EQ(checkSignature(document, std::nullopt, onlyTrusted), SignatureCheck::NoSignature);
    EXPECT_EQ(checkSignature(document, "<html>not found</html>", onlyTrusted), SignatureCheck::NoSignature);
    EXPECT_EQ(checkSignature(document, goodFile, {}), SignatureCheck::NoTrustedKey);

    std::string flipped = goodFile;
    flipped[5] = flipped[5] == 'A' ? 'B' : 'A';
    EXPECT_NE(checkSignature(document, flipped, onlyTrusted), SignatureCheck::Valid);
}

}  // namespace
}  // namespace mendly
