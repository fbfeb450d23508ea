// The digests on OpenSSL's EVP interface.
#include "hash/digest.h"

#include <cstdio>
#include <memory>
#include <vector>

#include <openssl/evp.h>

namespace mendly {
namespace {

using MdCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

MdCtx newContext(const EVP_MD* md) {
    MdCtx ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (ctx && EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) ctx.reset();
    return ctx;
}

std::string finish(EVP_MD_CTX* ctx) {
    unsigned char digest[EVP_MAX_MD_SIZE] = {};
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx, digest, &len) != 1) return {};
    return toHexLower(digest, len);
}

std::string hashHex(const EVP_MD* md, const void* data, std::size_t size) {
    MdCtx ctx = newContext(md);
    if (!ctx) return {};
    if (size > 0 && EVP_DigestUpdate(ctx.get(), data, size) != 1) return {};
    return finish(ctx.get());
}

// Reads the file strictly sequentially through one 1 MiB buffer (unbuffered
// stdio, so each read goes straight into it).
std::string hashFileHex(const EVP_MD* md, const std::filesystem::path& path) {
    MdCtx ctx = newContext(md);
    if (!ctx) return {};
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return {};
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    constexpr std::size_t kChunk = 1 << 20;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunk]);
    for (;;) {
        const std::size_t got = std::fread(buffer.get(), 1, kChunk, file.get());
        if (got > 0 && EVP_DigestUpdate(ctx.get(), buffer.get(), got) != 1) return {};
        if (got < kChunk) {
            if (std::ferror(file.get())) return {};
            break;
        }
    }
    return finish(ctx.get());
}

}  // namespace

std::string md5Hex(const void* data, std::size_t size) { return hashHex(EVP_md5(), data, size); }
std::string sha256Hex(const void* data, std::size_t size) { return hashHex(EVP_sha256(), data, size); }
std::string md5FileHex(const std::filesystem::path& path) { return hashFileHex(EVP_md5(), path); }
std::string sha256FileHex(const std::filesystem::path& path) { return hashFileHex(EVP_sha256(), path); }

struct DigestStream::State {
    MdCtx ctx{nullptr, &EVP_MD_CTX_free};
    bool failed = false;
    bool finished = false;
};

DigestStream::DigestStream(Kind kind) : state_(new State) {
    state_->ctx = newContext(kind == Kind::Md5 ? EVP_md5() : EVP_sha256());
    state_->failed = !state_->ctx;
}

DigestStream::~DigestStream() { delete state_; }

void DigestStream::update(const void* data, std::size_t size) {
    if (state_->failed || state_->finished || size == 0) return;
    if (EVP_DigestUpdate(state_->ctx.get(), data, size) != 1) state_->failed = true;
}

std::string DigestStream::finishHex() {
    if (state_->failed || state_->finished) return {};
    state_->finished = true;
    return finish(state_->ctx.get());
}

}  // namespace mendly
