#include "platform/process.h"

#include <unistd.h>

#include <fstream>
#include <string>

namespace mendly::platform {

std::filesystem::path executablePath() {
    std::error_code ec;
    auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return p;
}

bool isDebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            const auto value = line.substr(10);
            for (char c : value)
                if (c >= '1' && c <= '9') return true;
            return false;
        }
    }
    return false;
}

}  // namespace mendly::platform
