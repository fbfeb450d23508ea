// The staging folder, the files a download stage leaves in it, and the disk
// space a run asks for before it starts.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstring>
#include <functional>
#include <set>

#include "hash/digest.h"
#include "hash/md5_gatherer.h"
#include "log/text.h"
#include "patch/disk_space_check.h"
#include "patch/download_stage.h"
#include "patch/staged_file.h"
#include "patch/staging_area.h"
#include "patch/vfile/entry_codec.h"
#include "patch/vfile/single_file_payload.h"
#include "patch/vfile/vfile_test_bytes.h"
#include "support/temp_dir.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using vfile::test::noise;
using test::writeFile;

std::string lines(std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += "staged line " + std::to_string(i % 89) + "\n";
    return out;
}

std::set<std::string> listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.insert(item.path().filename().string());
    return names;
}

std::string payloadOf(std::uint32_t claim, std::string_view body) {
    return vfile::singleFilePayloadHeader(claim) + std::string(body);
}

class Staging : public ::testing::Test {
protected:
    TempDir install{"staging-install"};
    TempDir outside{"staging-outside"};
    StagingArea staging{install.path()};
    vfile::CodecBuffers buffers;
};

TEST_F(Staging, NamesAreLowercaseDigestsAndAnyOtherValueStaysDistinctAndInside) {
    const ManifestEntry good{"gfx/a.dds", "0123456789ABCDEFabcdef0123456789"};
    EXPECT_EQ(StagingArea::nameFor(good, StagedForm::AsServed), "0123456789abcdefabcdef0123456789");
    EXPECT_EQ(StagingArea::nameFor(good, StagedForm::StoredEntry), "0123456789abcdefabcdef0123456789.entry");
    EXPECT_EQ(StagingArea::nameFor(good, StagedForm::Payload), "0123456789abcdefabcdef0123456789.payload");
    const std::string values[] = {"../../x", "..\\..\\x", "/etc/passwd", "..", "", "0123456789abcdef0123456789abcdeg",
                                  "0123456789abcdef0123456789abcdef0", "0123456789abcdef0123456789abcde"};
    std::set<std::string> names;
    for (const std::string& md5 : values) {
        const std::string name = StagingArea::nameFor({"a.txt", md5}, StagedForm::AsServed);
        SCOPED_TRACE("\"" + md5 + "\" gives \"" + name + "\"");
        EXPECT_FALSE(name.empty() || name.starts_with(".") || name.find_first_of("/\\") != std::string::npos);
        EXPECT_FALSE(name.size() == 32 && name.find_first_not_of("0123456789abcdef") == std::string::npos);
        EXPECT_EQ(StagingArea::nameFor({"a.txt", md5}, StagedForm::StoredEntry), name + ".entry");
        names.insert(name);
    }
    EXPECT_EQ(names.size(), std::size(values)) << "two values share a staged name";
}

TEST_F(Staging, RemoveUnlistedKeepsListedNamesAndRemovesLinksNotTheirTargets) {
    ASSERT_TRUE(staging.create());
    const fs::path& folder = staging.folder();
    for (const char* name : {"aaa", "bbb.entry", "bbb.entry.part", "stale", "sub/deep"}) writeFile(folder / name, name);
    writeFile(outside / "dir" / "inner.txt", "precious");
    fs::create_symlink(outside / "dir" / "inner.txt", folder / "link");
    fs::create_directory_symlink(outside / "dir", folder / "dirlink");
    staging.removeUnlisted({"aaa", "bbb.entry", "not there"});
    EXPECT_EQ(listing(folder), (std::set<std::string>{"aaa", "bbb.entry"}));
    EXPECT_EQ(readFile(folder / "aaa"), "aaa");
    EXPECT_EQ(readFile(outside / "dir" / "inner.txt"), "precious");
}

TEST_F(Staging, CreateReplacesWhatIsPlantedAtTheFolderNameButKeepsAFolder) {
    writeFile(outside / "inner.txt", "precious");
    const std::function<void()> plantings[] = {
        [&] { writeFile(staging.folder(), "not a folder"); },
        [&] { fs::create_directory_symlink(outside.path(), staging.folder()); },
        [&] { fs::create_symlink(outside / "gone", staging.folder()); },
    };
    for (const auto& plant : plantings) {
        staging.removeAll();
        plant();
        ASSERT_TRUE(staging.create());
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(staging.folder())));
        EXPECT_TRUE(listing(staging.folder()).empty());
        EXPECT_EQ(listing(outside.path()), std::set<std::string>{"inner.txt"});
    }
    writeFile(staging.pathFor("resume-me"), "fetched earlier");
    ASSERT_TRUE(staging.create());
    EXPECT_EQ(readFile(staging.pathFor("resume-me")), "fetched earlier");
}

struct WriterCase {
    const char* name;
    std::optional<std::uint64_t> limit;
    std::vector<std::string> pieces;
    std::string written;
    bool overLimit;
};
void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

class StagingWriterLimit : public Staging, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(StagingWriterLimit, CutsWhatRunsPastTheLimitAndHashesExactlyWhatItWrote) {
    const WriterCase& c = GetParam();
    // A link left at the part name is replaced, never written through.
    writeFile(outside / "target.txt", "precious");
    fs::create_symlink(outside / "target.txt", install / "x.part");
    const ManifestEntry entry("x", md5Hex(c.written));
    StagingWriter writer(entry, install / "x.part", c.limit);
    ASSERT_TRUE(writer.open());
    for (const std::string& piece : c.pieces)
        if (!writer.write(piece)) break;
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(writer.overLimit(), c.overLimit);
    EXPECT_EQ(writer.received(), c.written.size());
    EXPECT_TRUE(writer.matches(entry));
    EXPECT_EQ(readFile(install / "x.part"), c.written);
    EXPECT_EQ(readFile(outside / "target.txt"), "precious");
}

INSTANTIATE_TEST_SUITE_P(
    Limits, StagingWriterLimit,
    ::testing::Values(WriterCase{"NoLimit", std::nullopt, {"abc", "def", "g"}, "abcdefg", false},
                      WriterCase{"ExactlyTheLimit", 6, {"abc", "def"}, "abcdef", false},
                      WriterCase{"OneByteOver", 6, {"abc", "def", "g"}, "abcdef", true},
                      WriterCase{"APieceAcrossTheLimit", 5, {"abc", "def"}, "abc", true},
                      WriterCase{"ZeroLimit", 0, {"", "x"}, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

// A whole body lent at once obeys the same limits as pieces: kept in
// memory when it fits there, else written to the part file, refused past
// the declared size; the digests see it either way.
TEST_F(Staging, AWholeBodyLentAtOnceKeepsTheWritersLimits) {
    const std::string body(1000, 'k');
    const ManifestEntry entry("x", md5Hex(body));
    StagingWriter inMemory(entry, install / "m.part", body.size(), body.size());
    ASSERT_TRUE(inMemory.open());
    ASSERT_TRUE(inMemory.lend(body));
    EXPECT_TRUE(inMemory.inMemory());
    EXPECT_EQ(inMemory.memory(), body);
    EXPECT_TRUE(inMemory.matches(entry));
    EXPECT_FALSE(fs::exists(install / "m.part"));

    StagingWriter toFile(entry, install / "f.part", body.size(), body.size() - 1);
    ASSERT_TRUE(toFile.open());
    ASSERT_TRUE(toFile.lend(body));
    ASSERT_TRUE(toFile.close());
    EXPECT_FALSE(toFile.inMemory());
    EXPECT_EQ(readFile(install / "f.part"), body);
    EXPECT_TRUE(toFile.matches(entry));

    StagingWriter tooLong(entry, install / "l.part", body.size() - 1, body.size());
    ASSERT_TRUE(tooLong.open());
    EXPECT_FALSE(tooLong.lend(body));
    EXPECT_TRUE(tooLong.overLimit());
    EXPECT_FALSE(tooLong.matches(entry));
}

// With a gatherer, a body that stays in memory is hashed whole at the end
// and one that spills as it arrives: both are judged as without one,
// the SHA-256 beside the MD5 included.
TEST_F(Staging, BodiesHashedWholeAtTheEndAreJudgedAsBodiesHashedOnArrival) {
    Md5Gatherer md5s(2);
    const std::string body = noise(5000, 3);
    ManifestEntry entry("x", md5Hex(body));
    entry.sha256 = sha256Hex(body);
    ManifestEntry twin = entry;
    twin.sha256 = sha256Hex("another body");
    for (const std::size_t memoryLimit : {body.size(), std::size_t{1000}}) {
        for (const ManifestEntry* e : {&entry, &twin}) {
            StagingWriter writer(*e, install / "g.part", body.size(), memoryLimit, &md5s);
            ASSERT_TRUE(writer.open());
            for (std::size_t at = 0; at < body.size(); at += 700) ASSERT_TRUE(writer.write(body.substr(at, 700)));
            ASSERT_TRUE(writer.close());
            EXPECT_EQ(writer.inMemory(), memoryLimit == body.size());
            EXPECT_EQ(writer.matches(*e), e == &entry) << memoryLimit;
        }
        StagingWriter lent(entry, install / "h.part", body.size(), memoryLimit, &md5s);
        ASSERT_TRUE(lent.open());
        ASSERT_TRUE(lent.lend(body));
        ASSERT_TRUE(lent.close());
        EXPECT_TRUE(lent.matches(entry)) << memoryLimit;
    }
}

struct EntryCase {
    const char* name;
    std::size_t size;
    bool compressible;
};
void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.name; }

class StagedEntryRoundTrip : public Staging, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(StagedEntryRoundTrip, WritesThePayloadLayoutAndHashesTheContentsBack) {
    const EntryCase& c = GetParam();
    std::string contents = c.compressible ? lines(c.size / 16) : noise(c.size, 5);
    contents.resize(c.size, '.');
    ASSERT_TRUE(staging.create());
    const fs::path contentsPath = staging.pathFor("c.contents"), entryPath = staging.pathFor("c.entry");
    writeFile(contentsPath, contents);
    ASSERT_EQ(writeStagedEntry(contentsPath, entryPath, buffers), StagingStatus::Ok);
    EXPECT_EQ(listing(staging.folder()), (std::set<std::string>{"c.contents", "c.entry"}));
    const auto info = readStagedEntryInfo(entryPath);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->originalSize, c.size);
    EXPECT_EQ(fs::file_size(entryPath), 16 + info->storedSize);
    EXPECT_TRUE(stagedEntryContentsMatch(entryPath, ManifestEntry("c", md5Hex(contents)), buffers));
    if (!c.compressible) {
        Md5Stream expected;  // a raw store is the header and the contents, nothing more
        expected.update(vfile::singleFilePayloadHeader(static_cast<std::uint32_t>(c.size)));
        expected.update(contents);
        EXPECT_EQ(md5FileHex(entryPath), expected.finishHex());
        return;
    }
    EXPECT_LT(info->storedSize, c.size);
    std::string damaged = readFile(entryPath);
    damaged.back() ^= 0x5A;  // the stream's check value
    writeFile(entryPath, damaged);
    EXPECT_FALSE(stagedEntryContentsMatch(entryPath, ManifestEntry("c", md5Hex(contents)), buffers))
        << "a damaged stream still matched";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, StagedEntryRoundTrip,
    ::testing::Values(EntryCase{"Empty", 0, false}, EntryCase{"Text", 60000, true}, EntryCase{"Noise", 4096, false},
                      EntryCase{"LargeNoise", vfile::kWholeEntryLimit + vfile::kStreamChunk + 5, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Staging, CheckStagedPayloadAcceptsOnlyABodyInflatingToItsSize) {
    const std::string contents = lines(2000), stream = *vfile::zlibCompress(contents);
    const std::string hello = *vfile::zlibCompress("hello");
    const auto size = static_cast<std::uint32_t>(contents.size());
    const std::pair<const char*, std::string> cases[] = {
        {"one short", payloadOf(size - 1, stream)},
        {"one over", payloadOf(size + 1, stream)},
        {"header alone", payloadOf(5, "")},
        {"other magic", std::string(12, 'M') + payloadOf(size, stream).substr(12)},
        {"beyond the deflate bound", payloadOf(static_cast<std::uint32_t>(hello.size() * 1032 + 1), hello)},
        {"damaged", payloadOf(size, stream.substr(0, stream.size() - 1) + static_cast<char>(stream.back() ^ 1))},
        {"good", payloadOf(size, stream)},
    };
    ASSERT_TRUE(staging.create());
    for (const auto& [name, payload] : cases) {
        SCOPED_TRACE(name);
        writeFile(staging.pathFor("p"), payload);
        bool converted = true;
        EXPECT_EQ(checkStagedPayload(staging.pathFor("p"), staging.pathFor("p.converted"), converted, buffers),
                  std::string_view(name) == "good" ? StagingStatus::Ok : StagingStatus::Failed);
        EXPECT_FALSE(converted);
        EXPECT_EQ(listing(staging.folder()), std::set<std::string>{"p"});
    }
}

TEST_F(Staging, APayloadClaimingGigabytesCostsNoMemory) {
    // Two MiB of stored bytes may claim up to about 2 GiB; these inflate to two MiB.
    const std::string stream = *vfile::zlibCompress(noise(2u << 20, 11));
    ASSERT_GE(stream.size() * 1032, 0x7FFFFFFFull);
    ASSERT_TRUE(staging.create());
    writeFile(staging.pathFor("bomb"), payloadOf(0x7FFFFFFFu, stream));
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    bool converted = true;
    EXPECT_EQ(checkStagedPayload(staging.pathFor("bomb"), staging.pathFor("bomb.converted"), converted, buffers),
              StagingStatus::Failed);
    getrusage(RUSAGE_SELF, &after);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // sanitizers hold memory of their own
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 << 10) << "KiB of peak memory";
#endif
}

TEST_F(Staging, APayloadBodyAsLongAsItsContentsIsStoredAnew) {
    // Search for contents whose stream is exactly as long: an archive would read such a body raw.
    const std::string tail = noise(300, 2);
    std::string contents, stream;
    for (std::size_t run = 0; run < 200 && (stream.empty() || stream.size() != contents.size()); ++run)
        stream = *vfile::zlibCompress(contents = std::string(run, 'q') + tail);
    ASSERT_EQ(stream.size(), contents.size()) << "no run length gave a stream of the contents' length";
    ASSERT_TRUE(staging.create());
    writeFile(staging.pathFor("p"), payloadOf(static_cast<std::uint32_t>(contents.size()), stream));
    bool converted = false;
    ASSERT_EQ(checkStagedPayload(staging.pathFor("p"), staging.pathFor("p.converted"), converted, buffers),
              StagingStatus::Ok);
    EXPECT_TRUE(converted);
    EXPECT_EQ(listing(staging.folder()), (std::set<std::string>{"p", "p.converted"}));
    const std::string restored = readFile(staging.pathFor("p.converted")).substr(16);
    EXPECT_EQ(vfile::expandStoredEntry(restored, static_cast<std::uint32_t>(contents.size())), contents);
}

TEST(DiskSize, FormatsMegabytesBelowOneGibibyteAndGigabytesFromIt) {
    const std::pair<std::uint64_t, std::string> cases[] = {
        {0, "0.0 MB"},          {524288, "0.5 MB"},    {13107200, "12.5 MB"},
        {1073636966, "1023.9 MB"}, {1073689396, "1.0 GB"}, {1ull << 30, "1.0 GB"}, {5ull << 29, "2.5 GB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(toUtf8(formatDiskSize(bytes)), text) << bytes;
    EXPECT_EQ(toUtf8(notEnoughDiskSpace("/games/client", 3u << 19, 1ull << 30)),
              "Not enough disk space in /games/client: 1.5 MB needed, 1.0 GB free");
}

TEST_F(Staging, BytesNeededCountUnstagedFilesOnceAndTheLargestArchiveRewritten) {
    ASSERT_TRUE(staging.create());
    writeFile(install / "gfx.pak", std::string(1000, 'g'));
    writeFile(install / "worlds.pak", std::string(300, 'w'));
    const PatchManifest manifest{{{"gfx/a.dds", md5Hex("a"), 100},
                                  {"gfx/b.dds", md5Hex("b"), 50},
                                  {"worlds/w.dat", md5Hex("w"), 2000},
                                  {"readme.txt", md5Hex("r"), 7},
                                  {"docs/readme.txt", md5Hex("r"), 7},
                                  {"unsized.txt", md5Hex("u")},
                                  {"language/l.txt", md5Hex("l"), 10}},
                                 "", std::nullopt, "", ""};
    auto need = [&](const std::vector<std::size_t>& list) {
        return bytesNeededForPatch(manifest, list, install.path(), staging);
    };
    EXPECT_EQ(need({0, 5}), std::nullopt);
    EXPECT_EQ(need({0}), 100u + 1100u) << "an unsized entry outside the list counts for nothing";
    // Fetch 100 + 50 + 2000 + 7 (two entries, one staged name); worlds.pak grows to 300 + 2000.
    EXPECT_EQ(need({0, 1, 2, 3, 4}), 2157u + 2300u);
    EXPECT_EQ(need({6}), 10u + 10u) << "a missing archive is written from nothing";
    for (const std::size_t staged : {0, 3}) writeFile(staging.pathFor(stagedNameFor(manifest.files[staged])), "x");
    EXPECT_EQ(need({0, 1, 2, 3, 4}), 2050u + 2300u);
    EXPECT_EQ(need({0, 1}), 50u + 1150u) << "a staged member is not fetched, but the archive still takes it in";
}

TEST_F(Staging, ANewInstallationThatCannotFitIsRefusedBeforeItsFolderExists) {
    const std::filesystem::path fresh = install / "clients" / "new";
    const StagingArea freshStaging(fresh);
    constexpr std::uint64_t kHuge = 1ull << 60;  // more than any disk
    const PatchManifest manifest{{{"big.bin", md5Hex("b"), kHuge}}, "", std::nullopt, "", ""};
    const auto refusal = checkDiskSpaceForPatch(manifest, {0}, fresh, freshStaging);
    ASSERT_TRUE(refusal);
    EXPECT_TRUE(toUtf8(*refusal).starts_with("Not enough disk space in " + fresh.string() + ": 1073741824.0 GB needed, "))
        << toUtf8(*refusal);
    EXPECT_FALSE(checkDiskSpaceForPatch(PatchManifest{{{"small.bin", md5Hex("s"), 1}}, "", std::nullopt, "", ""}, {0}, fresh, freshStaging));
}

}  // namespace
}  // namespace mendly
