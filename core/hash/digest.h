#pragma once
// MD5 and SHA-256 digests as lowercase hexadecimal text. The empty string is
// the failure value (provider unavailable, file missing or unreadable, a
// folder). Files are streamed through one 1 MiB buffer, never held whole.
// Each call is independent and thread-safe.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly {

std::string md5Hex(const void* data, std::size_t size);
std::string md5Hex(std::string_view bytes);
std::string sha256Hex(const void* data, std::size_t size);
std::string sha256Hex(std::string_view bytes);
std::string md5FileHex(const std::filesystem::path& path);
std::string sha256FileHex(const std::filesystem::path& path);

std::string toHexLower(const unsigned char* bytes, std::size_t size);

// A digest fed piece by piece (a download hashes its body as it arrives). One
// owner, one thread at a time. finishHex() ends it: empty text when the
// provider failed at any point; update() after that is ignored.
class DigestStream {
public:
    enum class Kind { Md5, Sha256 };
    explicit DigestStream(Kind kind);
    ~DigestStream();
    DigestStream(const DigestStream&) = delete;
    DigestStream& operator=(const DigestStream&) = delete;

    void update(const void* data, std::size_t size);
    void update(std::string_view bytes) { update(bytes.data(), bytes.size()); }
    std::string finishHex();

private:
    struct State;
    State* state_;
};

class Md5Stream : public DigestStream {
public:
    Md5Stream() : DigestStream(Kind::Md5) {}
};

class Sha256Stream : public DigestStream {
public:
    Sha256Stream() : DigestStream(Kind::Sha256) {}
};

}  // namespace mendly
