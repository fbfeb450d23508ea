// Stands in for a restarted program in the hand-over tests: writes the
// descriptors it was started with, one number a line, to "descriptors.txt"
// beside itself, and exits.
#include <dirent.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

int main() {
    std::set<long> open;
    DIR* folder = ::opendir("/proc/self/fd");
    if (!folder) return 1;
    const int own = ::dirfd(folder);
    while (const dirent* item = ::readdir(folder)) {
        char* end = nullptr;
        const long fd = std::strtol(item->d_name, &end, 10);
        if (end != item->d_name && *end == '\0' && fd != own) open.insert(fd);
    }
    ::closedir(folder);
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    std::ofstream out(self.parent_path() / "descriptors.txt");
    for (const long fd : open) out << fd << "\n";
    return out ? 0 : 1;
}
