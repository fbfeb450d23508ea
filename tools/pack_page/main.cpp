// pack_page FOLDER OUT: packs every regular file under FOLDER (names relative
// to it, sub-folders joined with '/') into one page archive written to OUT.
// Runs at build time over the launcher's page folder. Exit code 0 on success,
// 1 on a failure (one line on the error stream), 2 on a usage error.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "log/text.h"
#include "page_archive_writer.h"

namespace fs = std::filesystem;

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "pack_page: %s\n", message.c_str());
    return 1;
}

bool readWhole(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack_page FOLDER OUT\n");
        return 2;
    }
    const fs::path folder = argv[1];
    const fs::path out = argv[2];

    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return fail("not a folder: " + folder.string());
    std::vector<mendly::PageFile> files;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        mendly::PageFile file;
        file.name = mendly::toWide(it->path().lexically_relative(folder).generic_string());
        if (!readWhole(it->path(), file.contents)) return fail("cannot read " + it->path().string());
        files.push_back(std::move(file));
    }
    if (ec) return fail("cannot list " + folder.string() + ": " + ec.message());

    std::string archive;
    std::u16string error;
    if (!mendly::writePageArchive(std::move(files), archive, error)) return fail(mendly::toUtf8(error));

    // Written beside the target and moved over it, so an interrupted build
    // never leaves a half archive that looks current.
    const fs::path partial = out.string() + ".part";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(archive.data(), static_cast<std::streamsize>(archive.size()));
        if (!file.flush()) return fail("cannot write " + partial.string());
    }
    fs::rename(partial, out, ec);
    if (ec) return fail("cannot write " + out.string() + ": " + ec.message());
    return 0;
}
