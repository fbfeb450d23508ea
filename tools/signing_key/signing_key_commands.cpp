#include "signing_key_commands.h"

#include <optional>
#include <string>

#include "catalog/file_bytes.h"
#include "hash/signature.h"
#include "signing_key.h"

namespace mendly::signing {
namespace {

int failed(std::ostream& err, const std::string& sentence) {
    err << "signing_key: " << sentence << '\n';
    return kExitFailed;
}

// The whole file, or nothing with the reason in `error`. `what` names the
// file in that reason ("the signature file").
std::optional<std::string> readWhole(const std::string& path, const std::string& what, std::string& error) {
    std::string bytes;
    switch (readFileBytes(path, bytes)) {
    case FileRead::Read:
        return bytes;
    case FileRead::Missing:
        error = "there is no " + what + " " + path;
        return std::nullopt;
    case FileRead::Unreadable:
        break;
    }
    error = "cannot read " + what + " " + path;
    return std::nullopt;
}

int makeKey(const SigningCommand& command, std::ostream& out, std::ostream& err) {
    const auto key = SigningKey::generate();
    if (!key) return failed(err, "cannot make a key: the system's random source or Ed25519 is unavailable");
    std::string error;
    if (!writeNewPrivateKeyFile(*key, command.outFile, error)) return failed(err, error);
    out << publicKeyText(key->publicKey()) << '\n';
    return kExitDone;
}

int printPublicKey(const SigningCommand& command, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto key = SigningKey::load(command.keyFile, error);
    if (!key) return failed(err, error);
    out << publicKeyText(key->publicKey()) << '\n';
    return kExitDone;
}

int signDocument(const SigningCommand& command, std::ostream& out, std::ostream& err) {
    std::string error;
    const auto key = SigningKey::load(command.keyFile, error);
    if (!key) return failed(err, error);
    const auto document = readWhole(command.document, "document", error);
    if (!document || !writeSignatureFile(*key, *document, command.outFile, error)) return failed(err, error);
    out << "Signed " << command.document << ": " << command.outFile << '\n';
    return kExitDone;
}

int verifyDocument(const SigningCommand& command, std::ostream& out, std::ostream& err) {
    const auto key = parsePublicKeyText(command.publicKey);
    if (!key) return failed(err, "not a public key text: " + command.publicKey);
    std::string error;
    const auto document = readWhole(command.document, "document", error);
    if (!document) return failed(err, error);
    const auto signatureFile = readWhole(command.signatureFile, "signature file", error);
    if (!signatureFile) return failed(err, error);
    const auto signature = parseSignatureText(*signatureFile);
    if (!signature)
        return failed(err, command.signatureFile + " is not a signature file (base64 of a 64-byte signature)");
    if (!verifySignature(*document, *signature, *key))
        return failed(err, command.document + ": signature does not match");
    out << command.document << ": signature is valid\n";
    return kExitDone;
}

}  // namespace

int runSigningCommand(const SigningCommand& command, std::ostream& out, std::ostream& err) {
    switch (command.action) {
    case SigningAction::Keygen:
        return makeKey(command, out, err);
    case SigningAction::Public:
        return printPublicKey(command, out, err);
    case SigningAction::Sign:
        return signDocument(command, out, err);
    case SigningAction::Verify:
        return verifyDocument(command, out, err);
    case SigningAction::Help:
        break;
    }
    out << kSigningKeyUsage;
    return kExitDone;
}

}  // namespace mendly::signing
