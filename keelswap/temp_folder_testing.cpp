#include "temp_folder_testing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace mendly::keelswap::testing {

TempFolder::TempFolder() {
    std::string templ = (std::filesystem::temp_directory_path() / "keelswap-test-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed for " << templ;
    }
    path_ = templ;
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

}  // namespace mendly::keelswap::testing
