// The digests on the system's cryptography provider (BCrypt). Each digest
// opens its own provider and hash object and releases both when done.
#include "hash/digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <vector>

namespace mendly {
namespace {

constexpr std::size_t kFileChunk = 1 << 20;
// The provider takes a 32-bit count per call; longer ranges go in pieces.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

bool succeeded(NTSTATUS status) { return status >= 0; }

// One provider handle and hash object. Owned by one thread at a time.
class BcryptHash {
public:
    BcryptHash(const wchar_t* algorithm, ULONG digestLength) : digestLength_(digestLength) {
        if (!succeeded(BCryptOpenAlgorithmProvider(&provider_, algorithm, nullptr, 0))) {
            provider_ = nullptr;
            return;
        }
        DWORD objectLength = 0;
        ULONG written = 0;
        if (!succeeded(BCryptGetProperty(provider_, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                                         sizeof(objectLength), &written, 0))) {
            return;
        }
        object_.assign(objectLength, 0);
        if (!succeeded(BCryptCreateHash(provider_, &hash_, object_.data(), objectLength, nullptr, 0, 0))) {
            hash_ = nullptr;
        }
    }
    ~BcryptHash() {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        if (provider_ != nullptr) BCryptCloseAlgorithmProvider(provider_, 0);
    }
    BcryptHash(const BcryptHash&) = delete;
    BcryptHash& operator=(const BcryptHash&) = delete;

    bool ready() const { return hash_ != nullptr; }

    bool update(const void* data, std::size_t size) {
        auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const std::size_t piece = size < kLargestPiece ? size : kLargestPiece;
            if (!succeeded(BCryptHashData(hash_, const_cast<PUCHAR>(bytes), static_cast<ULONG>(piece), 0))) {
                return false;
            }
            bytes += piece;
            size -= piece;
        }
        return true;
    }

    // Lowercase hex of the digest; empty when finishing failed.
    std::string finishHex() {
        std::vector<unsigned char> digest(digestLength_, 0);
        if (!succeeded(BCryptFinishHash(hash_, digest.data(), digestLength_, 0))) return {};
        return toHexLower(digest.data(), digest.size());
    }

private:
    ULONG digestLength_;
    BCRYPT_ALG_HANDLE provider_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    std::vector<unsigned char> object_;
};

struct Algorithm {
    const wchar_t* id;
    ULONG digestLength;
};

constexpr Algorithm kMd5{BCRYPT_MD5_ALGORITHM, 16};
constexpr Algorithm kSha256{BCRYPT_SHA256_ALGORITHM, 32};

std::string hashHex(const Algorithm& algorithm, const void* data, std::size_t size) {
    BcryptHash hash(algorithm.id, algorithm.digestLength);
    if (!hash.ready() || !hash.update(data, size)) return {};
    return hash.finishHex();
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

// Reads the file strictly in order through one 1 MiB buffer. Other programs
// may read the file meanwhile but not hold it open for writing: a file being
// written gives the empty text.
std::string hashFileHex(const Algorithm& algorithm, const std::filesystem::path& path) {
    BcryptHash hash(algorithm.id, algorithm.digestLength);
    if (!hash.ready()) return {};
    const HANDLE raw = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (raw == INVALID_HANDLE_VALUE) return {};
    const std::unique_ptr<void, HandleCloser> file(raw);
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kFileChunk]);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(raw, buffer.get(), static_cast<DWORD>(kFileChunk), &got, nullptr)) return {};
        if (got == 0) break;
        if (!hash.update(buffer.get(), got)) return {};
    }
    return hash.finishHex();
}

}  // namespace

std::string md5Hex(const void* data, std::size_t size) { return hashHex(kMd5, data, size); }
std::string sha256Hex(const void* data, std::size_t size) { return hashHex(kSha256, data, size); }
std::string md5FileHex(const std::filesystem::path& path) { return hashFileHex(kMd5, path); }
std::string sha256FileHex(const std::filesystem::path& path) { return hashFileHex(kSha256, path); }

struct DigestStream::State {
    explicit State(const Algorithm& algorithm) : hash(algorithm.id, algorithm.digestLength) {}
    BcryptHash hash;
    bool failed = false;
    bool finished = false;
};

DigestStream::DigestStream(Kind kind) : state_(new State(kind == Kind::Md5 ? kMd5 : kSha256)) {
    state_->failed = !state_->hash.ready();
}

DigestStream::~DigestStream() { delete state_; }

void DigestStream::update(const void* data, std::size_t size) {
    if (state_->failed || state_->finished || size == 0) return;
    if (!state_->hash.update(data, size)) state_->failed = true;
}

std::string DigestStream::finishHex() {
    if (state_->failed || state_->finished) return {};
    state_->finished = true;
    return state_->hash.finishHex();
}

}  // namespace mendly
