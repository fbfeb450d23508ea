#pragma once
// The patch hosts of one run: the entry's own host first, then its mirrors,
// in catalog order. The manifest comes from the first host that answers;
// files from any host. A host that fails a transfer, or whose measured rate
// falls below a third of the best host's, is demoted for the rest of the run:
// it gets no new file while an active host is left, and only when every
// active host has failed a file is a demoted one asked for it.
//
// Rate: a host's bytes received divided by the time its transfers have been
// receiving (each from its first byte, so that the wait for an answer, a
// distant host's latency, is not counted as slowness; a host that never
// answers is the stall rule's), added up over its transfers, those in flight
// included: the rate of one transfer on that host whatever the number in
// flight. A host is judged once its transfers have received for kJudgeAfter
// in all and its first byte came at least kJudgeAfter ago; the best rate
// counts once its host is judged as well, or has completed a transfer and
// received kReferenceBytes. The last active host is never demoted.
//
// Threads: every member is called from the download workers at once; one
// mutex guards the counts. Log lines are written after it is released. The
// pool belongs to the run and outlives its workers.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/patch_addresses.h"

namespace mendly {

class HostPool {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kJudgeAfter = std::chrono::seconds(1);
    static constexpr std::uint64_t kReferenceBytes = 64u << 10;
    static constexpr double kSlowFactor = 3.0;

    // `hosts` holds at least one host (the primary first).
    explicit HostPool(std::vector<PatchHostAddresses> hosts);
    HostPool(const HostPool&) = delete;
    HostPool& operator=(const HostPool&) = delete;

    std::size_t size() const { return hosts_.size(); }
    const PatchHostAddresses& addresses(std::size_t host) const { return hosts_[host].addresses; }
    // "patch.example.org" or "127.0.0.1:8080": how messages name the host.
    const std::u16string& label(std::size_t host) const { return hosts_[host].label; }
    bool isActive(std::size_t host) const;

    // The host for the next attempt at a file; `ruledOut` has one flag per
    // host (those that already failed this file). Among the active hosts the
    // one with the fewest transfers in flight, catalog order breaking ties;
    // when every active host is ruled out, the first demoted one that is not.
    std::optional<std::size_t> pick(const std::vector<bool>& ruledOut) const;
    // Whether a host other than `host` and the ruled-out ones is left.
    bool hasOtherCandidate(std::size_t host, const std::vector<bool>& ruledOut) const;

    // One transfer from one host; owned by its worker.
    struct Transfer {
        std::size_t host = 0;
        std::optional<Clock::time_point> firstByte;
        std::uint64_t bytes = 0;
        bool startedActive = true;
    };
    Transfer begin(std::size_t host);
    // Counts bytes of `transfer` that arrived. False when the transfer should
    // stop so that its file goes to another host: its host was demoted since
    // the transfer began and an active host is left.
    [[nodiscard]] bool received(Transfer& transfer, std::uint64_t bytes, Clock::time_point now);
    // The transfer is over; `served`: its file arrived whole and matching.
    void end(const Transfer& transfer, bool served, Clock::time_point now);

    // Demotes `host` for the rest of the run, logging once (in a pool of
    // several hosts) "WARNING: Patch host <label> is not used for the rest of
    // this run — <reason>". Nothing when it is the last active host.
    void demote(std::size_t host, std::u16string_view reason);

    // In a pool of several hosts, one log line per host: "Patch host <label>
    // served <n> file(s), <bytes> bytes" (with ", demoted" for a demoted one).
    void logSummary() const;

private:
    struct Host {
        PatchHostAddresses addresses;
        std::u16string label;
        bool active = true;
        std::size_t inFlight = 0;
        std::size_t receiving = 0;           // in-flight transfers that had their first byte
        Clock::duration closedTime{};        // receiving time of the transfers that ended
        Clock::duration firstBytesInFlight{};  // sum of the receiving ones' first bytes (since the epoch)
        std::optional<Clock::time_point> firstByte;  // the host's first byte in this run
        std::uint64_t bytes = 0;          // received by all its transfers
        std::size_t completed = 0;        // transfers that served their file
        std::uint64_t servedBytes = 0;    // bytes of those
    };
    struct Measure {
        double rate = 0;  // bytes per second
        bool judgeable = false;
        bool reference = false;
    };

    // All of these run with mutex_ held.
    Measure measureLocked(const Host& host, Clock::time_point now) const;
    std::size_t activeCountLocked() const;
    bool demoteLocked(std::size_t host, std::u16string_view reason, std::vector<std::u16string>& lines);
    void judgeLocked(Clock::time_point now, std::vector<std::u16string>& lines);

    std::vector<Host> hosts_;
    mutable std::mutex mutex_;
    Clock::time_point lastJudged_{};
};

}  // namespace mendly
