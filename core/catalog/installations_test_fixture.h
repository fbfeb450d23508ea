#pragma once
// A program folder two levels below a temporary folder (so that its parent
// folders that a faulty delete could reach are temporary too), with the
// built-in catalog and helpers to lay out clients and custom entries.
#include <gtest/gtest.h>

#include <string>

#include "catalog/install_layout.h"
#include "catalog/server_catalog.h"
#include "support/temp_dir.h"

namespace mendly::test {

class InstallationsTest : public ::testing::Test {
protected:
    std::filesystem::path program() const { return root / "outer" / "prog"; }
    std::filesystem::path clients() const { return program() / "clients"; }
    std::filesystem::path customList() const { return program() / "customlist.json"; }

    void SetUp() override { std::filesystem::create_directories(program()); }

    // A small client: its executable, an archive and a version file.
    void installClient(const std::filesystem::path& folder) {
        writeFile(folder / "kaltrisclient.exe", "MZ client");
        writeFile(folder / "data" / "maps.pak", "archive bytes");
        writeFile(folder / "_version._", "2.5.1");
    }

    void addCustom(const std::string& name, const std::string& installPath = "") {
        ASSERT_TRUE(appendCustomEntry(program(), ServerEntry{name, name, "aurum", "https://p.test:8080",
                                                             "kaltrisclient.exe", installPath}));
    }

    ServerCatalog catalog() const { return loadServerCatalog(program()); }

    TempDir root{"installations"};
    std::u16string error;
};

}  // namespace mendly::test
