#pragma once
// Test double of ShellOpener: records every request as one line of text and
// answers with `accept`.
#include <string>
#include <vector>

#include "log/text.h"
#include "model/shortcuts.h"

namespace mendly::test {

class FakeShellOpener : public ShellOpener {
public:
    bool accept = true;
    bool wineMissing = false;  // every program needs wine, and it is not there
    std::vector<std::string> calls;

    bool lacksWineFor(const std::filesystem::path&) override { return wineMissing; }

    bool openUri(std::u16string_view uri) override {
        calls.push_back("uri " + toUtf8(uri));
        return accept;
    }
    bool openPath(const std::filesystem::path& path) override {
        calls.push_back("path " + path.string());
        return accept;
    }
    bool spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                      const std::filesystem::path& workingFolder) override {
        std::string line = "spawn " + program.string();
        for (const auto& arg : args) line += " " + toUtf8(arg);
        calls.push_back(line + " in " + workingFolder.string());
        return accept;
    }
};

}  // namespace mendly::test
