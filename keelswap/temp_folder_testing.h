#pragma once
// Test helpers: a temporary folder removed with everything in it, and
// whole-file reads and writes that fail the test on error.
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly::keelswap::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of `name` inside the folder, as text.
    std::string operator/(const std::filesystem::path& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, std::string_view bytes);

}  // namespace mendly::keelswap::testing
