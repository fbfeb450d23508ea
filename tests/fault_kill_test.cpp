// tidewright killed with SIGKILL at many moments of an update or an install:
// while it starts, while it verifies, while files download into the staging
// folder, while loose files are moved from there into place, and while
// archives are rewritten. After every kill the user's INI files and
// customlist.json must be intact, and the next run must bring the client to
// exactly what the manifest lists, fetching nothing again that the killed run
// had staged completely.
//
// The moments come from the processes themselves, not from guessed timings
// alone: the patch host kills the program when the Nth file is requested, and
// a file-event watch on the installation kills it when the Nth download in
// the staging folder is created, written or committed under its final name,
// when the Nth loose file is moved into place, when an archive's new copy
// is created, written or moved into place, or, for an archive updated in
// place, when its rollback journal is created or written and when the
// archive is closed after its appended bytes and after its new directory.
// Whatever the moment, each archive must then read (after the recovery the
// next run starts with) as it was before the killed run or as it is after
// the next one: never a mix.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "patch/archive_paths.h"
#include "hash/digest.h"
#include "patch/vfile/archive_journal.h"
#include "patch/vfile/delta_codec.h"
#include "support/child_process.h"
#include "support/client_compare.h"
#include "support/faulty_patch_host.h"
#include "support/file_event_watch.h"
#include "support/patch_fixture.h"
#include "support/temp_dir.h"
#include "support/tidewright_sandbox.h"
#include "support/two_version_client.h"

namespace mendly {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::FileEvent;

const std::string kUserIni = "[user]\nname=Player One\nvolume=7\n";
const std::string kUserVideo = "[video]\nwidth=2560\nfullscreen=1\n";

enum class Trigger {
    AfterStart,          // n ms after the program was started
    AfterManifest,       // n ms after the manifest was requested
    FileRequest,         // when the nth file is requested
    StagedPartCreated,   // when the nth ".part" file in the staging folder is created
    StagedPartWritten,   // ... closed after writing
    StagedCommitted,     // when the nth file in the staging folder gets its final name
    LooseMovedIn,        // when the nth loose file is renamed into place from the staging folder
    ArchivePartCreated,  // when the nth archive's new copy is created
    ArchivePartWritten,  // ... closed after writing
    ArchiveMovedIn,      // ... renamed over the archive
    JournalCreated,      // when the nth archive update in place creates its rollback journal
    JournalWritten,      // ... closes it after writing (the update appends next)
    ArchiveClosed,       // when an archive updated in place is closed after writing the nth time: odd n
                         // after the appended bytes (the directory is written next), even n after the
                         // directory (the journal is removed next)
    CustomListWritten,   // when customlist.json's new copy is closed after writing
    MemberAssembled,     // when a new archive's assembly journal is closed after the nth write (the first
                         // is its header; each later one records a member written into the assembly)
    AssemblyWritten,     // when the nth new archive's assembly is closed after its directory (renamed next)
};

struct KillMoment {
    Trigger trigger;
    int n;
};

std::string describe(const KillMoment& m) {
    static const std::map<Trigger, std::string> names = {
        {Trigger::AfterStart, "start + ms"},
        {Trigger::AfterManifest, "manifest + ms"},
        {Trigger::FileRequest, "file request #"},
        {Trigger::StagedPartCreated, "staged part created #"},
        {Trigger::StagedPartWritten, "staged part written #"},
        {Trigger::StagedCommitted, "staged file committed #"},
        {Trigger::LooseMovedIn, "loose file moved in #"},
        {Trigger::ArchivePartCreated, "archive part created #"},
        {Trigger::ArchivePartWritten, "archive part written #"},
        {Trigger::ArchiveMovedIn, "archive moved in #"},
        {Trigger::JournalCreated, "archive journal created #"},
        {Trigger::JournalWritten, "archive journal written #"},
        {Trigger::ArchiveClosed, "archive closed after writing in place #"},
        {Trigger::CustomListWritten, "customlist copy written #"},
        {Trigger::MemberAssembled, "member assembled #"},
        {Trigger::AssemblyWritten, "assembly written #"},
    };
    return names.at(m.trigger) + std::to_string(m.n);
}

// Which file events a trigger counts (paths below the installation, or below
// the program folder for customlist.json).
std::function<bool(const FileEvent&)> eventFilter(Trigger trigger) {
    const auto name = [](const FileEvent& e) { return e.relative.filename().string(); };
    const auto staged = [](const FileEvent& e) {
        return !e.folder && !e.relative.empty() && *e.relative.begin() == test::kStagingFolder;
    };
    const auto stagedPart = [=](const FileEvent& e) { return staged(e) && name(e).ends_with(".part"); };
    const auto archivePart = [=](const FileEvent& e) { return !staged(e) && name(e).ends_with(".pak.part"); };
    const auto journal = [=](const FileEvent& e) { return !staged(e) && name(e).ends_with(".pak.journal"); };
    using K = FileEvent::Kind;
    switch (trigger) {
        case Trigger::StagedPartCreated:
            return [=](const FileEvent& e) { return e.kind == K::Created && stagedPart(e); };
        case Trigger::StagedPartWritten:
            return [=](const FileEvent& e) { return e.kind == K::ClosedAfterWrite && stagedPart(e); };
        case Trigger::StagedCommitted:
            return [=](const FileEvent& e) { return e.kind == K::MovedInto && staged(e) && !stagedPart(e); };
        case Trigger::LooseMovedIn:
            return [=](const FileEvent& e) {
                return e.kind == K::MovedInto && !e.folder && !staged(e) && !name(e).ends_with(".pak");
            };
        case Trigger::ArchivePartCreated:
            return [=](const FileEvent& e) { return e.kind == K::Created && archivePart(e); };
        case Trigger::ArchivePartWritten:
            return [=](const FileEvent& e) { return e.kind == K::ClosedAfterWrite && archivePart(e); };
        case Trigger::ArchiveMovedIn:
            return [=](const FileEvent& e) {
                return e.kind == K::MovedInto && !staged(e) && name(e).ends_with(".pak");
            };
        case Trigger::JournalCreated:
            return [=](const FileEvent& e) { return e.kind == K::Created && journal(e); };
        case Trigger::JournalWritten:
            return [=](const FileEvent& e) { return e.kind == K::ClosedAfterWrite && journal(e); };
        case Trigger::ArchiveClosed:
            return [=](const FileEvent& e) {
                return e.kind == K::ClosedAfterWrite && !staged(e) && name(e).ends_with(".pak");
            };
        case Trigger::MemberAssembled:
            return [=](const FileEvent& e) {
                return e.kind == K::ClosedAfterWrite && staged(e) && name(e).ends_with(".pak.assembly.journal");
            };
        case Trigger::AssemblyWritten:
            return [=](const FileEvent& e) {
                return e.kind == K::ClosedAfterWrite && staged(e) && name(e).ends_with(".pak.assembly");
            };
        case Trigger::CustomListWritten:
            return [=](const FileEvent& e) {
                return e.kind == K::ClosedAfterWrite && name(e).starts_with("customlist.json.");
            };
        default: return {};
    }
}

// How far the program got, from what it printed before it ended.
std::string stageReached(const std::string& output) {
    static const std::vector<std::pair<std::string, std::string>> markers = {
        {"  Downloading manifest...", "manifest"},    {"  Verifying local files...", "verification"},
        {"  Downloading files...", "downloads"},      {"  Applying patches...", "apply"},
        {"  Pruning orphan archive entries...", "apply"}, {"Finished ", "finished"}};
    std::string stage = "start-up";
    std::size_t last = 0;
    for (const auto& [marker, name] : markers) {
        const auto at = output.rfind(marker);
        if (at != std::string::npos && at >= last) {
            last = at;
            stage = name;
        }
    }
    return stage;
}

struct KillRecord {
    std::string moment;
    bool killed = false;
    std::string stage;
    std::vector<std::string> leftOver;  // ".part" files right after the kill
    bool journalLeft = false;           // an archive's rollback journal right after the kill
    std::size_t staged = 0;             // host files the kill left staged completely
    std::size_t fetched = 0;            // files the next run requested
};

// The archives' rollback journals directly in `installDir`, by file name.
std::vector<std::string> leftoverJournals(const fs::path& installDir) {
    std::vector<std::string> found;
    for (const std::string_view name : archiveNameTable) {
        const fs::path journal = vfile::journalPathFor(archivePathFor(installDir, name));
        if (fs::exists(fs::symlink_status(journal))) found.push_back(journal.filename().string());
    }
    return found;
}

// Each archive's entries as an independent reader sees them (nothing: missing
// or unreadable), by archive name.
using ArchiveStates = std::map<std::string, std::optional<std::map<std::string, std::string>>>;

ArchiveStates archiveStates(const fs::path& installDir) {
    ArchiveStates states;
    for (const std::string_view name : archiveNameTable)
        states[std::string(name)] = test::readArchiveIndependently(archivePathFor(installDir, name));
    return states;
}

// The archives as the next run finds them once it has recovered interrupted
// updates: archives and journals copied aside and recovered there, so that
// the next run still does its own recovery.
ArchiveStates recoveredArchiveStates(const fs::path& installDir) {
    test::TempDir aside{"kill-recovered"};
    for (const std::string_view name : archiveNameTable) {
        const fs::path archive = archivePathFor(installDir, name);
        for (const fs::path& file : {archive, vfile::journalPathFor(archive)}) {
            std::error_code ec;
            if (fs::is_regular_file(file, ec)) fs::copy_file(file, aside / file.filename());
        }
        EXPECT_TRUE(vfile::recoverInterruptedUpdate(archivePathFor(aside.path(), name))) << name;
    }
    return archiveStates(aside.path());
}

// Runs one program start with one kill moment armed; the program is killed
// there (or runs to its end when the moment never comes).
class KillHarness {
public:
    KillHarness(test::TidewrightSandbox& sandbox, test::FaultyPatchHost& host) : sandbox_(sandbox), host_(host) {}

    KillRecord run(const KillMoment& moment, std::vector<std::string> args, const fs::path& watched) {
        test::ChildProcess child;
        std::atomic<bool> manifestSeen{false};
        std::atomic<bool> over{false};
        host_.resetFileRequests();
        host_.setRequestHook([&](const std::string& path, std::size_t files) {
            if (path.ends_with(".manifest")) manifestSeen = true;
            if (moment.trigger == Trigger::FileRequest && files == static_cast<std::size_t>(moment.n)) child.kill();
        });

        std::unique_ptr<test::FileEventWatch> watch;
        if (const auto filter = eventFilter(moment.trigger)) {
            auto seen = std::make_shared<std::atomic<int>>(0);
            watch = std::make_unique<test::FileEventWatch>(watched, [&, filter, seen](const FileEvent& e) {
                if (filter(e) && ++*seen == moment.n) child.kill();
            });
            EXPECT_TRUE(watch->valid());
        }

        EXPECT_TRUE(sandbox_.start(child, std::move(args)));
        const auto started = Clock::now();
        std::thread timer;
        if (moment.trigger == Trigger::AfterStart || moment.trigger == Trigger::AfterManifest) {
            timer = std::thread([&] {
                if (moment.trigger == Trigger::AfterManifest) {
                    while (!manifestSeen && !over) std::this_thread::sleep_for(std::chrono::microseconds(100));
                    if (over) return;
                }
                const auto at = (moment.trigger == Trigger::AfterStart ? started : Clock::now()) +
                                std::chrono::milliseconds(moment.n);
                std::this_thread::sleep_until(at);
                child.kill();
            });
        }
        const test::ChildOutcome outcome = child.wait(std::chrono::seconds(60));
        over = true;
        if (timer.joinable()) timer.join();
        watch.reset();
        host_.setRequestHook({});

        KillRecord record;
        record.moment = describe(moment);
        record.killed = !outcome.exited && outcome.signal == SIGKILL;
        EXPECT_FALSE(outcome.timedOut) << record.moment;
        if (!record.killed) {
            EXPECT_EQ(outcome.exitCode, 0) << record.moment << "\n" << test::readFile(sandbox_.output());
        }
        record.stage = stageReached(test::readFile(sandbox_.output()));
        record.leftOver = test::leftoverPartFiles(watched);
        record.journalLeft = !leftoverJournals(watched).empty();
        return record;
    }

private:
    test::TidewrightSandbox& sandbox_;
    test::FaultyPatchHost& host_;
};

void printSummary(const std::string& title, const std::vector<KillRecord>& records) {
    std::map<std::string, int> perStage;
    int withPart = 0;
    for (const auto& r : records) {
        if (r.killed) ++perStage[r.stage];
        if (!r.leftOver.empty()) ++withPart;
    }
    std::cout << title << ": " << records.size() << " moments;";
    for (const auto& [stage, count] : perStage) std::cout << " " << stage << "=" << count;
    std::cout << "; part files left by " << withPart << "\n";
    for (const auto& r : records) {
        std::cout << "  " << r.moment << ": " << (r.killed ? "killed in " + r.stage : "not killed (ran to the end)");
        if (r.staged + r.fetched > 0) std::cout << "; staged " << r.staged << ", fetched after " << r.fetched;
        if (!r.leftOver.empty()) std::cout << "; part files left: " << r.leftOver.size();
        if (r.journalLeft) std::cout << "; archive journal left";
        std::cout << "\n";
    }
}

class KillFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::fillTwoVersionClient(v1, 1);
        test::fillTwoVersionClient(v2, 2);
        host.serve(v1);
        host.serve(v2);
        sandbox.writeCustomList({{"demo", host.baseUrl()}});
        customList = test::readFile(sandbox.folder() / "customlist.json");
    }

    fs::path client() const { return sandbox.client("demo"); }
    fs::path staging() const { return client() / test::kStagingFolder; }
    const test::PatchHostFolder& version(int v) const { return v == 1 ? v1 : v2; }

    // The staging folder as an interrupted run leaves it, made before a
    // watched run so that the watch sees every file in it from the first.
    void prepareStaging() const { fs::create_directories(staging()); }

    // How many times each file of version v was requested from the host so far.
    std::map<std::string, std::size_t> requestCounts(int v) {
        std::map<std::string, std::size_t> counts;
        for (const auto& file : version(v).files())
            counts[file.relative] = host.server().requestCount(version(v).fileUrlPath(file.relative));
        return counts;
    }

    // The state every kill must leave: the user's files as they were.
    void expectUserFilesIntact(const std::string& moment) const {
        EXPECT_EQ(test::readFile(client() / "ini" / "user.ini"), kUserIni) << moment;
        EXPECT_EQ(test::readFile(client() / "ini" / "video.ini"), kUserVideo) << moment;
        EXPECT_EQ(test::readFile(sandbox.folder() / "customlist.json"), customList) << moment;
    }

    // A run to the end without pacing; the client must then equal version v,
    // with no staging folder left. It fetches none of the files the killed run
    // had staged completely. (A request the killed run sent as it died can
    // reach the host's count after the kill; it is for a file that run never
    // received, so only the staged files' counts are exact.)
    void expectRecoveryConverges(int v, test::IniScope scope, KillRecord& record) {
        const std::string& moment = record.moment;
        const std::vector<std::string> staged = test::stagedHostFiles(client(), version(v));
        const auto before = requestCounts(v);
        host.setDelay(std::chrono::milliseconds(0));
        const auto r = sandbox.run({"--update-single", "demo"});
        EXPECT_EQ(r.exitCode, 0) << moment << "\n" << r.out;
        EXPECT_EQ(test::clientDifferences(client(), version(v), scope), std::vector<std::string>{}) << moment;
        EXPECT_FALSE(fs::exists(staging())) << moment;
        EXPECT_EQ(leftoverJournals(client()), std::vector<std::string>{}) << moment;
        record.staged = staged.size();
        record.fetched = 0;
        for (const auto& [relative, count] : requestCounts(v)) {
            const std::size_t requests = count - before.at(relative);
            record.fetched += requests;
            if (std::find(staged.begin(), staged.end(), relative) != staged.end()) {
                EXPECT_EQ(requests, 0u) << moment << ": staged, yet fetched again: " << relative;
            }
        }
    }

    test::TempDir hostRoot{"kill-host"};
    test::FaultyPatchHost host{hostRoot.path()};
    test::PatchHostFolder v1{hostRoot.path(), "demo"};
    test::PatchHostFolder v2{hostRoot.path(), "demo"};
    test::TidewrightSandbox sandbox{TIDEWRIGHT_EXE};
    KillHarness harness{sandbox, host};
    std::string customList;
};

std::vector<KillMoment> updateMoments() {
    std::vector<KillMoment> m{{Trigger::AfterStart, 0}, {Trigger::AfterStart, 3}};
    for (int ms : {0, 4, 8, 12, 16, 22, 30, 40}) m.push_back({Trigger::AfterManifest, ms});
    for (int n = 1; n <= 29; n += 4) m.push_back({Trigger::FileRequest, n});
    // About 34 files change; small members are compressed from memory, so
    // each file makes one staged part.
    for (int n = 1; n <= 31; n += 5) m.push_back({Trigger::StagedPartCreated, n});
    for (int n = 2; n <= 32; n += 5) m.push_back({Trigger::StagedPartWritten, n});
    for (int n = 3; n <= 33; n += 5) m.push_back({Trigger::StagedCommitted, n});
    for (int n = 1; n <= 15; n += 2) m.push_back({Trigger::LooseMovedIn, n});
    for (int n = 1; n <= 3; ++n) m.push_back({Trigger::ArchivePartCreated, n});
    for (int n = 1; n <= 3; ++n) m.push_back({Trigger::ArchivePartWritten, n});
    for (int n = 1; n <= 2; ++n) m.push_back({Trigger::ArchiveMovedIn, n});
    // Archives of which little changes are updated in place. Which ones are
    // depends on the gaps earlier updates left (sound.pak has one member of
    // eight changed, so every third update compacts it), so each moment
    // comes up in several updates in a row.
    for (int i = 0; i < 3; ++i)
        for (const Trigger t : {Trigger::JournalCreated, Trigger::JournalWritten}) m.push_back({t, 1});
    for (int i = 0; i < 3; ++i)
        for (int n = 1; n <= 2; ++n) m.push_back({Trigger::ArchiveClosed, n});
    return m;
}

// Each moment updates the client to the other version; the host answers every
// file 10 ms late so that the downloads span a few hundred milliseconds.
TEST_F(KillFaultTest, UpdateKilledAtAnyMomentKeepsTheUsersFilesAndTheNextRunConverges) {
    v1.publish();
    ASSERT_EQ(sandbox.run({"--update-single", "demo"}).exitCode, 0);
    test::writeFile(client() / "ini" / "user.ini", kUserIni);
    test::writeFile(client() / "ini" / "video.ini", kUserVideo);

    int current = 1;
    std::vector<KillRecord> records;
    for (const KillMoment& moment : updateMoments()) {
        const int target = 3 - current;
        version(target).publish();
        host.setDelay(std::chrono::milliseconds(10));
        prepareStaging();
        const ArchiveStates before = archiveStates(client());
        KillRecord record = harness.run(moment, {"--update-single", "demo"}, client());
        // The client never looks uninstalled (which would make the next run an
        // install that replaces the user's INI files).
        EXPECT_TRUE(fs::exists(client() / test::kTwoVersionClientExecutable)) << record.moment;
        expectUserFilesIntact(record.moment);
        const ArchiveStates recovered = recoveredArchiveStates(client());
        expectRecoveryConverges(target, test::IniScope::KeptOnly, record);
        expectUserFilesIntact(record.moment);
        const ArchiveStates after = archiveStates(client());
        for (const auto& [name, state] : recovered)
            EXPECT_TRUE(state == before.at(name) || state == after.at(name))
                << record.moment << ": " << name << ".pak is neither the old archive nor the new one";
        records.push_back(std::move(record));
        current = target;
        if (HasFatalFailure()) break;
    }
    printSummary("update kills", records);

    std::map<std::string, int> killedIn;
    int resumed = 0;  // kills after which the next run used staged files and fetched the rest
    int inPlace = 0;  // kills in the middle of an archive update in place
    for (const auto& r : records) {
        if (r.killed) ++killedIn[r.stage];
        if (r.staged > 0 && r.fetched > 0) ++resumed;
        if (r.journalLeft) ++inPlace;
    }
    int killed = 0;
    for (const auto& [stage, count] : killedIn) killed += count;
    EXPECT_GE(killed, 50);
    EXPECT_GE(killedIn["downloads"], 25);
    EXPECT_GE(killedIn["apply"], 14);
    EXPECT_GE(resumed, 15);
    EXPECT_GE(inPlace, 5);
}

// An install killed part-way: the next run (an install again, or an update
// when the launch executable was already in place) completes it, INI files
// included.
TEST_F(KillFaultTest, InstallKilledPartWayIsCompletedByTheNextRun) {
    const std::vector<KillMoment> moments = {
        {Trigger::AfterManifest, 2},      {Trigger::FileRequest, 5},      {Trigger::FileRequest, 40},
        {Trigger::StagedPartCreated, 3},  {Trigger::StagedCommitted, 30}, {Trigger::LooseMovedIn, 16},
        {Trigger::LooseMovedIn, 24},      {Trigger::MemberAssembled, 2},  {Trigger::MemberAssembled, 25},
        {Trigger::AssemblyWritten, 1},    {Trigger::ArchiveMovedIn, 2},
    };
    v1.publish();
    std::vector<KillRecord> records;
    for (const KillMoment& moment : moments) {
        std::error_code ec;
        fs::remove_all(client(), ec);
        fs::create_directories(client());
        prepareStaging();
        // The folders the loose files are moved into exist beforehand as well,
        // so that the watch counts every move into them (the apply step would
        // make them only just before its first move there).
        for (const char* folder : {"data", "ini"}) fs::create_directories(client() / folder);
        host.setDelay(std::chrono::milliseconds(5));
        records.push_back(harness.run(moment, {"--update-single", "demo"}, client()));
        EXPECT_EQ(test::readFile(sandbox.folder() / "customlist.json"), customList) << records.back().moment;
        expectRecoveryConverges(1, test::IniScope::All, records.back());
    }
    printSummary("install kills", records);
    EXPECT_GE(std::count_if(records.begin(), records.end(), [](const KillRecord& r) { return r.killed; }), 10);
}

// Release 2 as an edit of release 1: every file that changes between them
// is release 1's bytes with a little changed inside, and lists a delta from
// release 1's content (loose files and plain members; payloads come whole).
// The deltas' paths below the server's folder.
std::vector<std::string> makeDeltaRelease(const test::PatchHostFolder& from, test::PatchHostFolder& to) {
    std::vector<std::string> paths;
    const std::vector<test::PatchHostFolder::File> files = to.files();
    for (const auto& f : files) {
        const auto old = std::find_if(from.files().begin(), from.files().end(),
                                      [&](const auto& o) { return o.relative == f.relative; });
        const auto ref = classifyArchivePath(f.relative);
        if (old == from.files().end() || old->served == f.served || (ref && ref->hadPakPrefix)) continue;
        std::string edited = old->served;
        edited.insert(edited.size() / 2, "edited in release 2");
        edited[edited.size() / 4] = static_cast<char>(edited[edited.size() / 4] ^ 0x5A);
        const auto delta = vfile::makeDelta(old->served, edited, 3);
        if (!delta) {
            ADD_FAILURE() << "no delta for " << f.relative;
            continue;
        }
        paths.push_back("deltas/" + std::to_string(paths.size()));
        to.addFile(f.relative, edited);
        to.addDelta(f.relative, sha256Hex(old->served), paths.back(), *delta);
    }
    return paths;
}

// An update that rebuilds files from deltas, killed at moments of its
// downloads and of its apply step: the next run converges, and the user's
// files stay as they were. (Rebuilding only reads what is installed; what it
// writes goes through the staging folder like any download.)
TEST_F(KillFaultTest, DeltaUpdateKilledAtAnyMomentConverges) {
    if (!vfile::deltaCodecAvailable()) GTEST_SKIP() << "no delta codec in this build";
    const std::vector<std::string> deltas = makeDeltaRelease(v1, v2);
    ASSERT_GE(deltas.size(), 10u);
    const std::vector<KillMoment> moments = {
        {Trigger::FileRequest, 2},       {Trigger::FileRequest, 6},     {Trigger::StagedPartCreated, 2},
        {Trigger::StagedCommitted, 3},   {Trigger::StagedCommitted, 9}, {Trigger::LooseMovedIn, 2},
        {Trigger::JournalWritten, 1},    {Trigger::ArchiveClosed, 1},   {Trigger::ArchiveClosed, 2},
    };
    std::vector<KillRecord> records;
    for (const KillMoment& moment : moments) {
        v1.publish();
        ASSERT_EQ(sandbox.run({"--update-single", "demo"}).exitCode, 0) << moment.n;  // back to release 1, whole
        test::writeFile(client() / "ini" / "user.ini", kUserIni);
        test::writeFile(client() / "ini" / "video.ini", kUserVideo);
        v2.publish();
        host.setDelay(std::chrono::milliseconds(10));
        prepareStaging();
        KillRecord record = harness.run(moment, {"--update-single", "demo"}, client());
        expectUserFilesIntact(record.moment);
        expectRecoveryConverges(2, test::IniScope::KeptOnly, record);
        expectUserFilesIntact(record.moment);
        records.push_back(std::move(record));
        if (HasFatalFailure()) break;
    }
    printSummary("delta update kills", records);
    std::size_t deltaRequests = 0;
    for (const std::string& path : deltas) deltaRequests += host.server().requestCount(v2.filesUrlPath() + "/" + path);
    EXPECT_GE(deltaRequests, deltas.size());  // the rebuilds did happen
    EXPECT_GE(std::count_if(records.begin(), records.end(), [](const KillRecord& r) { return r.killed; }), 7);
}

// A run killed while it downloads leaves the files it had finished in the
// staging folder. The next run takes them from there: it fetches only the
// files that were not staged yet, and the client converges.
struct ResumeCase {
    const char* name;
    bool update;  // an update from version 1 to 2, else an install of version 1
};

void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.name; }

class ResumeAfterKillFaultTest : public KillFaultTest, public ::testing::WithParamInterface<ResumeCase> {};

TEST_P(ResumeAfterKillFaultTest, NextRunFetchesOnlyWhatWasNotStaged) {
    const ResumeCase c = GetParam();
    v1.publish();
    int target = 1;
    test::IniScope scope = test::IniScope::All;
    if (c.update) {
        ASSERT_EQ(sandbox.run({"--update-single", "demo"}).exitCode, 0);
        test::writeFile(client() / "ini" / "user.ini", kUserIni);
        test::writeFile(client() / "ini" / "video.ini", kUserVideo);
        v2.publish();
        target = 2;
        scope = test::IniScope::KeptOnly;
    } else {
        fs::create_directories(client());
    }
    prepareStaging();
    host.setDelay(std::chrono::milliseconds(10));

    KillRecord record = harness.run({Trigger::StagedCommitted, 8}, {"--update-single", "demo"}, client());
    ASSERT_TRUE(record.killed) << record.moment;
    EXPECT_EQ(record.stage, "downloads");
    EXPECT_EQ(test::readFile(sandbox.folder() / "customlist.json"), customList);
    if (c.update) {
        EXPECT_TRUE(fs::exists(client() / test::kTwoVersionClientExecutable));
        expectUserFilesIntact(record.moment);
    }

    expectRecoveryConverges(target, scope, record);
    // Both parts of the promise had something to do: files were taken from
    // the staging folder, and others were still to fetch.
    EXPECT_GE(record.staged, 4u);
    EXPECT_GE(record.fetched, 4u);
    if (c.update) expectUserFilesIntact(record.moment);
}

INSTANTIATE_TEST_SUITE_P(InstallAndUpdate, ResumeAfterKillFaultTest,
                         ::testing::Values(ResumeCase{"Install", false}, ResumeCase{"Update", true}),
                         [](const ::testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.name); });

// customlist.json is the only file of the user's that --duplicate and
// --delete write. Killed at any moment, it is the old list or the new one,
// never lost or torn; running the command again finishes the job.
TEST_F(KillFaultTest, DuplicateAndDeleteKilledNeverTearCustomList) {
    v1.publish();
    ASSERT_EQ(sandbox.run({"--update-single", "demo"}).exitCode, 0);
    test::writeFile(client() / "ini" / "user.ini", kUserIni);
    const auto source = test::folderSnapshot(client());

    const auto listedNames = [&]() -> std::optional<std::vector<std::string>> {
        try {
            const auto doc = nlohmann::json::parse(test::readFile(sandbox.folder() / "customlist.json"));
            std::vector<std::string> names;
            for (const auto& entry : doc.at("servers")) names.push_back(entry.at("name").get<std::string>());
            return names;
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    const std::vector<std::string> before{"demo"};
    const std::vector<std::string> after{"demo", "copy"};

    std::vector<KillRecord> records;
    // A delete ends within about 12 ms of its start, a duplicate within 20,
    // on a fast machine: the moments after start stay below that.
    const std::vector<KillMoment> moments = {{Trigger::AfterStart, 2}, {Trigger::AfterStart, 4},
                                             {Trigger::AfterStart, 6}, {Trigger::AfterStart, 8},
                                             {Trigger::AfterStart, 11}, {Trigger::CustomListWritten, 1}};
    for (const KillMoment& moment : moments) {
        records.push_back(harness.run(moment, {"--duplicate", "demo", "copy"}, sandbox.folder()));
        const auto names = listedNames();
        ASSERT_TRUE(names.has_value()) << records.back().moment;
        EXPECT_TRUE(*names == before || *names == after) << records.back().moment;
        records.back().stage = *names == after                         ? "duplicate: list written"
                               : fs::exists(sandbox.client("copy")) ? "duplicate: copying"
                                                                    : "duplicate: before copying";
        if (*names == before) {
            const auto r = sandbox.run({"--duplicate", "demo", "copy"});
            EXPECT_EQ(r.exitCode, 0) << records.back().moment << r.out;
        }
        EXPECT_EQ(listedNames(), std::optional(after)) << records.back().moment;
        EXPECT_EQ(test::folderSnapshot(sandbox.client("copy")), source) << records.back().moment;

        KillMoment del = moment;
        records.push_back(harness.run(del, {"--delete", "copy"}, sandbox.folder()));
        const auto left = listedNames();
        ASSERT_TRUE(left.has_value()) << records.back().moment;
        EXPECT_TRUE(*left == before || *left == after) << records.back().moment;
        records.back().stage = *left == before                         ? "delete: list written"
                               : fs::exists(sandbox.client("copy")) ? "delete: before or while removing"
                                                                    : "delete: folder removed, list not yet";
        if (*left == after) {
            const auto r = sandbox.run({"--delete", "copy"});
            EXPECT_EQ(r.exitCode, 0) << records.back().moment << r.out;
        }
        EXPECT_EQ(listedNames(), std::optional(before)) << records.back().moment;
        EXPECT_FALSE(fs::exists(sandbox.client("copy"))) << records.back().moment;
        EXPECT_EQ(test::folderSnapshot(client()), source) << records.back().moment;
    }
    printSummary("duplicate/delete kills", records);
    EXPECT_GE(std::count_if(records.begin(), records.end(), [](const KillRecord& r) { return r.killed; }), 10);
}

}  // namespace
}  // namespace mendly
