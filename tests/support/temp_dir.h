#pragma once
// A fresh folder under the system temporary folder, removed with everything in
// it when the object goes away. Tests use it as a program folder or an
// installation folder.
#include <filesystem>
#include <string>
#include <string_view>

namespace mendly::test {

class TempDir {
public:
    explicit TempDir(std::string_view prefix = "mendly");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for tests; they abort the test on failure.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace mendly::test
