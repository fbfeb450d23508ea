#pragma once
// The operator's side of signatures: Ed25519 private keys in PEM (the PKCS#8
// form `openssl genpkey -algorithm ed25519` writes), signing documents, and
// the public key text that goes into a deployment's "signingKeys" or a
// custom server's "manifestKey".
//
// A SigningKey is owned by one thread at a time; the functions are otherwise
// independent and thread-safe.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hash/signature.h"

namespace mendly::signing {

class SigningKey {
public:
    // A fresh key from the system's random source; nothing when that fails.
    static std::optional<SigningKey> generate();
    // The key in `pem`; nothing with `error` set when it is not an Ed25519
    // private key. A key protected by a passphrase is refused, never asked
    // for on the terminal.
    static std::optional<SigningKey> fromPem(std::string_view pem, std::string& error);
    static std::optional<SigningKey> load(const std::filesystem::path& pemFile, std::string& error);

    // Empty when the key cannot be written out.
    std::string privatePem() const;
    PublicKey publicKey() const;
    // Nothing when the signature could not be made.
    std::optional<Signature> sign(std::string_view document) const;

private:
    struct Free {
        void operator()(void* key) const;
    };
    explicit SigningKey(void* key) : key_(key) {}
    std::unique_ptr<void, Free> key_;  // EVP_PKEY
};

// Writes `document`'s signature text (and a line feed) to `sigFile` through a
// temporary file renamed into place. False with `error` on failure.
[[nodiscard]] bool writeSignatureFile(const SigningKey& key, std::string_view document,
                                      const std::filesystem::path& sigFile, std::string& error);

// Writes the key's PEM to `pemFile`, which must not exist yet, readable and
// writable by its owner only. False with `error` (and no file left behind
// but one that was there before) on failure.
[[nodiscard]] bool writeNewPrivateKeyFile(const SigningKey& key, const std::filesystem::path& pemFile,
                                          std::string& error);

}  // namespace mendly::signing
