// make_sample_client: writes a deterministic game client folder for tests,
// demos and benchmarks, or changes one deterministically.
//
//   make_sample_client --out DIR [--size 1G] [--members N] [--seed S]
//                      [--pack NAME]... [--folder NAME]...
//   make_sample_client --mutate DIR [--members-percent P] [--loose-percent P] [--seed S] [--edit]
//
// Exit codes: 0 done, 1 failed, 2 usage error.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

#include "support/sample_client.h"

namespace {

const char* const kUsage =
    "Usage: make_sample_client --out DIR [--size SIZE] [--members N] [--seed S]\n"
    "                          [--pack NAME]... [--folder NAME]...\n"
    "       make_sample_client --mutate DIR [--members-percent P] [--loose-percent P] [--seed S] [--edit]\n"
    "\n"
    "  --out DIR            write a client folder (kaltrisclient.exe, _version._, loose\n"
    "                       files, ini/, archives)\n"
    "  --size SIZE          total contents, e.g. 64M or 1G (default 64M)\n"
    "  --members N          archive members in all archives (default one per 256 KiB)\n"
    "  --seed S             makes the bytes (default 1); _version._ is Kaltris Nexum-2.5.S\n"
    "  --pack NAME          an archive written as NAME.pak (repeatable; default gfx, models,\n"
    "                       sound, terrain, worlds, definitions)\n"
    "  --folder NAME        an archive left as the folder NAME/ (repeatable)\n"
    "  --mutate DIR         change, delete or truncate a share of DIR's files and members\n"
    "  --members-percent P  share of each archive's members to touch (default 1)\n"
    "  --loose-percent P    share of loose files to touch (default 0)\n"
    "  --edit               edit each file or member touched (about 2% of its bytes changed,\n"
    "                       inserted and removed) instead of changing, deleting or truncating\n";

bool parseNumber(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = std::stoull(text);
    return true;
}

bool parsePercent(const std::string& text, double& value) {
    try {
        std::size_t used = 0;
        value = std::stod(text, &used);
        return used == text.size() && value >= 0 && value <= 100;
    } catch (const std::exception&) {
        return false;
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --mutate: the exit code, with the summary or the error printed.
int mutateFolder(const std::string& folder, const mendly::test::MutationOptions& mutation) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    mendly::test::MutationSummary summary;
    if (!mendly::test::mutateClient(folder, mutation, summary, error)) {
        std::cerr << "make_sample_client: " << error << '\n';
        return 1;
    }
    std::printf("Mutated %s: %llu changed, %llu deleted, %llu truncated, %llu edited, %llu archive(s) rewritten"
                " in %.1f s\n",
                folder.c_str(), static_cast<unsigned long long>(summary.changed),
                static_cast<unsigned long long>(summary.deleted), static_cast<unsigned long long>(summary.truncated),
                static_cast<unsigned long long>(summary.edited),
                static_cast<unsigned long long>(summary.archivesRewritten), secondsSince(start));
    return 0;
}

// --out: the exit code, with the summary or the error printed.
int writeClient(const std::string& out, const mendly::test::SampleClientOptions& options) {
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    mendly::test::SampleClientSummary summary;
    if (!mendly::test::makeSampleClient(out, options, summary, error)) {
        std::cerr << "make_sample_client: " << error << '\n';
        return 1;
    }
    std::printf("Wrote %s: %llu loose file(s) %.1f MiB, %llu member(s) %.1f MiB (archives %.1f MiB) in %.1f s\n",
                out.c_str(), static_cast<unsigned long long>(summary.looseFiles),
                static_cast<double>(summary.looseBytes) / 1048576.0, static_cast<unsigned long long>(summary.members),
                static_cast<double>(summary.memberBytes) / 1048576.0,
                static_cast<double>(summary.archiveBytes) / 1048576.0, secondsSince(start));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace mendly::test;
    std::string out;
    std::string mutate;
    SampleClientOptions options;
    options.totalBytes = 64u << 20;
    MutationOptions mutation;
    mutation.memberPercent = 1;

    auto usage = [](const std::string& reason) {
        std::cerr << "make_sample_client: " << reason << "\n\n" << kUsage;
        return 2;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--edit") {
            mutation.edit = true;
            continue;
        }
        if (i + 1 >= argc) return usage("missing value after " + std::string(arg));
        const std::string value = argv[++i];
        std::uint64_t number = 0;
        if (arg == "--out") {
            out = value;
        } else if (arg == "--mutate") {
            mutate = value;
        } else if (arg == "--size") {
            if (!parseByteSize(value, options.totalBytes)) return usage("--size needs a size such as 64M or 1G");
        } else if (arg == "--members") {
            if (!parseNumber(value, number) || number == 0 || number > 10'000'000)
                return usage("--members needs a number from 1 to 10000000");
            options.members = static_cast<std::uint32_t>(number);
        } else if (arg == "--seed") {
            if (!parseNumber(value, number)) return usage("--seed needs a number");
            options.seed = mutation.seed = number;
        } else if (arg == "--pack") {
            options.packedArchives.push_back(value);
        } else if (arg == "--folder") {
            options.folderArchives.push_back(value);
        } else if (arg == "--members-percent") {
            if (!parsePercent(value, mutation.memberPercent)) return usage("--members-percent needs 0 to 100");
        } else if (arg == "--loose-percent") {
            if (!parsePercent(value, mutation.loosePercent)) return usage("--loose-percent needs 0 to 100");
        } else {
            return usage("unknown argument: " + std::string(arg));
        }
    }
    if (out.empty() == mutate.empty()) return usage("give either --out or --mutate");
    return mutate.empty() ? writeClient(out, options) : mutateFolder(mutate, mutation);
}
