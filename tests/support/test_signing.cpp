#include "support/test_signing.h"

#include <cstdlib>
#include <stdexcept>

namespace mendly::test {
namespace {

signing::SigningKey loadOrDie(const char* file) {
    std::string error;
    auto key = signing::SigningKey::load(file, error);
    if (!key) throw std::runtime_error("test signing key: " + error);
    return std::move(*key);
}

}  // namespace

const signing::SigningKey& testSigningKey() {
    static const signing::SigningKey key = loadOrDie(MENDLY_TEST_SIGNING_KEY_FILE);
    return key;
}

std::string testSigningKeyFile() { return MENDLY_TEST_SIGNING_KEY_FILE; }

const signing::SigningKey& strangerSigningKey() {
    static const signing::SigningKey key = [] {
        auto made = signing::SigningKey::generate();
        if (!made) throw std::runtime_error("cannot make a signing key");
        return std::move(*made);
    }();
    return key;
}

std::string signatureFileFor(const signing::SigningKey& key, std::string_view document) {
    const auto signature = key.sign(document);
    if (!signature) throw std::runtime_error("cannot sign");
    return signatureText(*signature) + "\n";
}

TrustedKeys trustOnly(const signing::SigningKey& key) {
    TrustedKeys trust;
    trust.required = true;
    trust.keys = {key.publicKey()};
    return trust;
}

}  // namespace mendly::test
