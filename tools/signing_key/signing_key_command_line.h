#pragma once
// signing_key's command line:
//   signing_key keygen --out KEY.pem
//   signing_key public --key KEY.pem
//   signing_key sign   --key KEY.pem --file DOC [--out DOC.sig]
//   signing_key verify --public TEXT --file DOC [--sig DOC.sig]
//   signing_key --help
#include <string>

namespace mendly::signing {

enum class SigningAction { Help, Keygen, Public, Sign, Verify };

struct SigningCommand {
    SigningAction action = SigningAction::Help;
    std::string keyFile{};        // --key
    std::string outFile{};        // --out: the new key (keygen) or the signature (sign, default DOC.sig)
    std::string document{};       // --file
    std::string signatureFile{};  // --sig (verify, default DOC.sig)
    std::string publicKey{};      // --public, a public key text
};

extern const char* const kSigningKeyUsage;

// False with a one-line reason in `error` when the command line is not
// usable, including a --public that is not a public key text.
[[nodiscard]] bool parseSigningCommand(int argc, const char* const* argv, SigningCommand& command,
                                       std::string& error);

}  // namespace mendly::signing
