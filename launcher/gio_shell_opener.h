#pragma once
// ShellOpener of the desktop: GIO's default handlers for addresses, documents
// and folders, and a direct spawn for programs (not waited for; reaped by the
// system when they end), a Windows program through wine (engine/desktop_launch.h
// does the desktop's part).
// UI thread only; never blocks on what it starts.
#include "model/shortcuts.h"

namespace mendly {

class GioShellOpener : public ShellOpener {
public:
    bool openUri(std::u16string_view uri) override;
    bool openPath(const std::filesystem::path& path) override;
    bool spawnProgram(const std::filesystem::path& program, const std::vector<std::u16string>& args,
                      const std::filesystem::path& workingFolder) override;
    bool lacksWineFor(const std::filesystem::path& program) override;
};

}  // namespace mendly
