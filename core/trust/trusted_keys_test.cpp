// Which keys a build trusts while one signing key replaces another, and the
// release numbers a program keeps beside what it installed.
#include "trust/trusted_keys.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "support/test_signing.h"
#include "trust/release_number.h"
#include "trust/signature_diagnosis.h"

namespace mendly {
namespace {

// Key A is the one in use, key B the one replacing it.
TEST(KeyRotation, ABuildListingBothKeysTakesWhatEitherSignedAndOneListingOnlyTheNewKeyNotTheOld) {
    const auto& a = test::testSigningKey();
    const auto& b = test::strangerSigningKey();
    const std::string document = "{\"release\":7}";
    const auto signedBy = [&](const signing::SigningKey& key) { return test::signatureFileFor(key, document); };
    const TrustedKeys both = trustedKeysFromTexts({publicKeyText(a.publicKey()), publicKeyText(b.publicKey())});
    const TrustedKeys onlyB = trustedKeysFromTexts({publicKeyText(b.publicKey())});

    EXPECT_EQ(checkSignature(document, signedBy(a), both.keys), SignatureCheck::Valid);
    EXPECT_EQ(checkSignature(document, signedBy(b), both.keys), SignatureCheck::Valid);  // B alone, once listed
    EXPECT_EQ(checkSignature(document, signedBy(b), onlyB.keys), SignatureCheck::Valid);
    EXPECT_EQ(checkSignature(document, signedBy(a), onlyB.keys), SignatureCheck::NoTrustedKey);  // A retired
}

TEST(KeyRotation, KeysThatCannotBeTrustedAreLeftOutAndNoneLeftTrustsNothing) {
    const std::string good = publicKeyText(test::testSigningKey().publicKey());
    const std::string identity = "AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";
    const TrustedKeys mixed = trustedKeysFromTexts({identity, "not a key", good});
    EXPECT_TRUE(mixed.required);
    ASSERT_EQ(mixed.keys.size(), 1u);
    EXPECT_EQ(publicKeyText(mixed.keys[0]), good);
    const TrustedKeys none = trustedKeysFromTexts({identity});
    EXPECT_TRUE(none.required);
    EXPECT_TRUE(none.keys.empty());
}

TEST(ReleaseNumber, OnlyRisesAndAnUnreadableFileIsNoRelease) {
    test::TempDir dir{"release-number"};
    const auto file = dir / "release";
    EXPECT_FALSE(loadReleaseNumber(file));
    ASSERT_TRUE(raiseReleaseNumber(file, 5));
    ASSERT_TRUE(raiseReleaseNumber(file, 3));  // lower: kept as it was
    EXPECT_EQ(loadReleaseNumber(file), 5u);
    ASSERT_TRUE(raiseReleaseNumber(file, 9));
    EXPECT_EQ(loadReleaseNumber(file), 9u);
    for (const char* text : {"", "x", "12x", "-1", "99999999999999999999999"}) {
        test::writeFile(file, text);
        EXPECT_FALSE(loadReleaseNumber(file)) << text;
    }
}

// Which of the three refusals an operator is shown, from the signer a
// document names; the verdict itself is the signature check's alone.
TEST(SignatureDiagnosis, TellsUnsignedChangedAfterSigningAndSignedByAnotherKeyApart) {
    const auto& trusted = test::testSigningKey();
    const auto& stranger = test::strangerSigningKey();
    const TrustedKeys trust = trustedKeysFromTexts({publicKeyText(trusted.publicKey())});
    const auto naming = [](const signing::SigningKey& key) {
        return "{\"signedBy\":\"" + publicKeyText(key.publicKey()) + "\",\"files\":[]}";
    };
    struct Case {
        const char* what;
        std::string document;
        SignatureCheck check;
        SignatureFault fault;
    } cases[] = {
        {"no signature", naming(trusted), SignatureCheck::NoSignature, SignatureFault::Unsigned},
        {"changed after a trusted key signed it", naming(trusted), SignatureCheck::NoTrustedKey,
         SignatureFault::NotMatching},
        {"signed by another key", naming(stranger), SignatureCheck::NoTrustedKey, SignatureFault::UntrustedKey},
        {"names no signer", "{\"files\":[]}", SignatureCheck::NoTrustedKey, SignatureFault::UntrustedKey},
        {"not JSON", "<html>", SignatureCheck::NoTrustedKey, SignatureFault::UntrustedKey},
    };
    for (const Case& c : cases) EXPECT_EQ(diagnoseSignatureFailure(c.document, c.check, trust), c.fault) << c.what;
}

}  // namespace
}  // namespace mendly
