#include "signing_key.h"

#include "platform/descriptor_posix.h"
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <sstream>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace mendly::signing {
namespace {

EVP_PKEY* asKey(void* key) { return static_cast<EVP_PKEY*>(key); }

// Stands in for OpenSSL's default, which would ask on the terminal: a key
// with a passphrase is refused instead.
int refusePassphrase(char*, int, int, void* asked) {
    *static_cast<bool*>(asked) = true;
    return -1;
}

}  // namespace

void SigningKey::Free::operator()(void* key) const { EVP_PKEY_free(asKey(key)); }

std::optional<SigningKey> SigningKey::generate() {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (key == nullptr) return std::nullopt;
    return SigningKey(key);
}

std::optional<SigningKey> SigningKey::fromPem(std::string_view pem, std::string& error) {
    if (pem.size() > INT_MAX) {
        error = "not a PEM private key";
        return std::nullopt;
    }
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                        &BIO_free);
    bool askedForPassphrase = false;
    EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, refusePassphrase, &askedForPassphrase) : nullptr;
    ERR_clear_error();
    if (key == nullptr) {
        error = askedForPassphrase ? "the key is protected by a passphrase, which is not supported"
                                   : "not a PEM private key";
        return std::nullopt;
    }
    if (EVP_PKEY_get_id(key) != EVP_PKEY_ED25519) {
        EVP_PKEY_free(key);
        error = "not an Ed25519 key";
        return std::nullopt;
    }
    return SigningKey(key);
}

std::optional<SigningKey> SigningKey::load(const std::filesystem::path& pemFile, std::string& error) {
    std::ifstream in(pemFile, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in) {
        error = "cannot read " + pemFile.string();
        return std::nullopt;
    }
    auto key = fromPem(text.str(), error);
    if (!key) error = pemFile.string() + ": " + error;
    return key;
}

std::string SigningKey::privatePem() const {
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), asKey(key_.get()), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    if (data == nullptr || size <= 0) return {};
    return std::string(data, static_cast<std::size_t>(size));
}

PublicKey SigningKey::publicKey() const {
    // Every SigningKey holds an Ed25519 key, whose raw public form always
    // exists and is exactly this long.
    PublicKey out{};
    std::size_t size = out.size();
    EVP_PKEY_get_raw_public_key(asKey(key_.get()), out.data(), &size);
    return out;
}

std::optional<Signature> SigningKey::sign(std::string_view document) const {
    Signature out{};
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::size_t size = out.size();
    const bool signedIt =
        ctx && EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, asKey(key_.get())) == 1 &&
        EVP_DigestSign(ctx.get(), out.data(), &size, reinterpret_cast<const unsigned char*>(document.data()),
                       document.size()) == 1 &&
        size == out.size();
    if (!signedIt) {
        ERR_clear_error();
        return std::nullopt;
    }
    return out;
}

bool writeSignatureFile(const SigningKey& key, std::string_view document, const std::filesystem::path& sigFile,
                        std::string& error) {
    const auto signature = key.sign(document);
    if (!signature) {
        error = "cannot sign the document for " + sigFile.string();
        return false;
    }
    if (platform::replaceWholeFile(sigFile, signatureText(*signature) + "\n") != platform::FileWrite::Written) {
        error = "cannot write " + sigFile.string();
        return false;
    }
    return true;
}

bool writeNewPrivateKeyFile(const SigningKey& key, const std::filesystem::path& pemFile, std::string& error) {
    const std::string pem = key.privatePem();
    if (pem.empty()) {
        error = "cannot write the key out as PEM";
        return false;
    }
    const int fd = ::open(pemFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? pemFile.string() + " already exists; not replacing it"
                                : "cannot create " + pemFile.string() + ": " + std::strerror(errno);
        return false;
    }
    // The creation mode is narrowed by the umask; the key must end up 0600
    // whatever that is.
    const bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && platform::writeToDescriptor(fd, pem) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        error = "cannot write " + pemFile.string() + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(pemFile.c_str());
        return false;
    }
    return true;
}

}  // namespace mendly::signing
