#include "support/two_version_client.h"

#include <algorithm>
#include <iterator>
#include <random>

namespace mendly::test {
namespace {

std::string number(std::size_t n) {
    std::string text = std::to_string(n);
    return n < 10 ? "0" + text : text;
}

// Incompressible bytes.
std::string noise(std::uint64_t seed, std::size_t size) {
    std::mt19937_64 random(seed);
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t word = random();
        for (std::size_t b = 0; b < 8 && i + b < size; ++b) out[i + b] = static_cast<char>(word >> (8 * b));
    }
    return out;
}

// Text-like bytes that compress well.
std::string prose(std::uint64_t seed, std::size_t size) {
    static const char* const words[] = {"kaltris ", "nexum ", "tide ", "keel ", "swap ", "world ", "map ",
                                        "texture ", "sound ", "patch ", "\n"};
    std::mt19937_64 random(seed);
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) out += words[random() % std::size(words)];
    out.resize(size);
    return out;
}

std::size_t sizeFor(std::uint64_t seed, std::size_t low, std::size_t high) {
    std::mt19937_64 random(seed * 7919 + 17);
    return low + static_cast<std::size_t>(random() % (high - low + 1));
}

}  // namespace

std::vector<std::string> twoVersionClientUserIniFiles() { return {"ini/user.ini", "ini/video.ini"}; }

void fillTwoVersionClient(PatchHostFolder& folder, int version, const TwoVersionClientOptions& o) {
    while (!folder.files().empty()) folder.removeFile(folder.files().front().relative);
    const std::string v = std::to_string(version);
    const auto changed = [&](bool changes, std::uint64_t seed) { return changes && version == 2 ? seed + 1000003 : seed; };

    folder.addFile(kTwoVersionClientExecutable, "MZ client build " + v + noise(100 + version, 64 << 10));
    folder.addFile("_version._", "Kaltris Nexum-2.5." + v + "\r\n");
    for (std::size_t i = 0; i < o.looseFiles; ++i) {
        const std::size_t size = sizeFor(i, 16 << 10, std::max<std::size_t>(16 << 10, o.maxLooseBytes));
        const std::uint64_t seed = changed(i % 2 == 0, 200 + i);
        folder.addFile("data/file_" + number(i) + ".bin", i % 3 == 0 ? prose(seed, size) : noise(seed, size));
    }
    for (std::size_t i = 0; i < o.stableFiles; ++i)
        folder.addFile("data/stable_" + std::to_string(i) + ".bin", noise(300 + i, o.stableBytes));
    folder.addFile("ini/updater.ini", "[updater]\nversion=" + v + "\n");
    folder.addFile("ini/hash.ini", "[hash]\n");
    folder.addFile("ini/user.ini", "[user]\nname=server default " + v + "\n");
    folder.addFile("ini/video.ini", "[video]\nwidth=1024\nbuild=" + v + "\n");

    for (std::size_t i = 0; i < o.gfxMembers; ++i) {
        if (version == 2 && i + 2 >= o.gfxMembers) continue;  // dropped in version 2
        const std::size_t size = sizeFor(400 + i, 4 << 10, 96 << 10);
        const std::uint64_t seed = changed(i % 3 == 0, 400 + i);
        folder.addFile("gfx/ui/tex_" + number(i) + ".dds", i % 2 == 0 ? prose(seed, size) : noise(seed, size));
    }
    for (std::size_t i = 0; i < o.worldMembers; ++i) {
        const std::size_t size = sizeFor(500 + i, 2 << 10, 64 << 10);
        folder.addFile("worlds/map_" + number(i) + ".dat", prose(changed(i % 4 == 1, 500 + i), size));
    }
    for (std::size_t i = 0; i < 4; ++i)
        folder.addPayloadFile("worlds/sub/pak_zone" + number(i) + ".dat", prose(changed(i < 2, 600 + i), 20000 + 3000 * i));
    for (std::size_t i = 0; i < o.soundMembers; ++i)
        folder.addFile("sound/track_" + number(i) + ".wav", noise(changed(i == 0, 700 + i), 256 << 10));
}

}  // namespace mendly::test
