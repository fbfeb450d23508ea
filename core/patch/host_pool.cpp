#include "patch/host_pool.h"

#include <algorithm>

#include "log/log_file.h"
#include "log/text.h"
#include "net/url_host.h"
#include "patch/speed_reporter.h"

namespace mendly {
namespace {

constexpr auto kJudgeEvery = std::chrono::milliseconds(100);

void writeLines(const std::vector<std::u16string>& lines) {
    for (const std::u16string& line : lines) LogFile::write(line);
}

}  // namespace

HostPool::HostPool(std::vector<PatchHostAddresses> hosts) {
    hosts_.reserve(hosts.size());
    for (PatchHostAddresses& addresses : hosts) {
        Host host;
        host.label = hostOfUrl(addresses.manifestUrl);
        host.addresses = std::move(addresses);
        hosts_.push_back(std::move(host));
    }
}

bool HostPool::isActive(std::size_t host) const {
    const std::lock_guard lock(mutex_);
    return hosts_[host].active;
}

std::optional<std::size_t> HostPool::pick(const std::vector<bool>& ruledOut) const {
    const std::lock_guard lock(mutex_);
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
        if (ruledOut[i] || !hosts_[i].active) continue;
        if (!best || hosts_[i].inFlight < hosts_[*best].inFlight) best = i;
    }
    if (best) return best;
    for (std::size_t i = 0; i < hosts_.size(); ++i)
        if (!ruledOut[i]) return i;
    return std::nullopt;
}

bool HostPool::hasOtherCandidate(std::size_t host, const std::vector<bool>& ruledOut) const {
    for (std::size_t i = 0; i < hosts_.size(); ++i)
        if (i != host && !ruledOut[i]) return true;
    return false;
}

HostPool::Transfer HostPool::begin(std::size_t host) {
    const std::lock_guard lock(mutex_);
    Host& h = hosts_[host];
    ++h.inFlight;
    return {host, std::nullopt, 0, h.active};
}

bool HostPool::received(Transfer& transfer, std::uint64_t bytes, Clock::time_point now) {
    std::vector<std::u16string> lines;
    bool keepGoing = true;
    {
        const std::lock_guard lock(mutex_);
        Host& h = hosts_[transfer.host];
        if (!transfer.firstByte) {
            transfer.firstByte = now;
            ++h.receiving;
            h.firstBytesInFlight += now.time_since_epoch();
            if (!h.firstByte) h.firstByte = now;
        }
        transfer.bytes += bytes;
        h.bytes += bytes;
        if (now - lastJudged_ >= kJudgeEvery) judgeLocked(now, lines);
        keepGoing = !transfer.startedActive || hosts_[transfer.host].active;
    }
    writeLines(lines);
    return keepGoing;
}

void HostPool::end(const Transfer& transfer, bool served, Clock::time_point now) {
    std::vector<std::u16string> lines;
    {
        const std::lock_guard lock(mutex_);
        Host& h = hosts_[transfer.host];
        --h.inFlight;
        if (transfer.firstByte) {
            --h.receiving;
            h.firstBytesInFlight -= transfer.firstByte->time_since_epoch();
            h.closedTime += now - *transfer.firstByte;
        }
        if (served) {
            ++h.completed;
            h.servedBytes += transfer.bytes;
        }
        judgeLocked(now, lines);
    }
    writeLines(lines);
}

void HostPool::demote(std::size_t host, std::u16string_view reason) {
    std::vector<std::u16string> lines;
    {
        const std::lock_guard lock(mutex_);
        demoteLocked(host, reason, lines);
    }
    writeLines(lines);
}

void HostPool::logSummary() const {
    if (hosts_.size() < 2) return;
    std::vector<std::u16string> lines;
    {
        const std::lock_guard lock(mutex_);
        for (const Host& h : hosts_)
            lines.push_back(u"Patch host " + h.label + u" served " + toDecimal(static_cast<long long>(h.completed)) +
                            u" file(s), " + toDecimal(static_cast<long long>(h.servedBytes)) + u" bytes" +
                            (h.active ? u"" : u", demoted"));
    }
    writeLines(lines);
}

HostPool::Measure HostPool::measureLocked(const Host& host, Clock::time_point now) const {
    const Clock::duration receiving = host.closedTime +
                                      static_cast<Clock::rep>(host.receiving) * now.time_since_epoch() -
                                      host.firstBytesInFlight;
    // A body that came in one piece took no measurable time: count a millisecond.
    const double seconds = std::max(0.001, std::chrono::duration<double>(receiving).count());
    Measure m;
    m.rate = static_cast<double>(host.bytes) / seconds;
    m.judgeable = receiving >= kJudgeAfter && host.firstByte && now - *host.firstByte >= kJudgeAfter;
    m.reference = m.judgeable || (host.completed > 0 && host.bytes >= kReferenceBytes);
    return m;
}

std::size_t HostPool::activeCountLocked() const {
    std::size_t count = 0;
    for (const Host& h : hosts_) count += h.active ? 1 : 0;
    return count;
}

bool HostPool::demoteLocked(std::size_t host, std::u16string_view reason, std::vector<std::u16string>& lines) {
    Host& h = hosts_[host];
    if (!h.active || activeCountLocked() < 2) return false;
    h.active = false;
    lines.push_back(u"WARNING: Patch host " + h.label + u" is not used for the rest of this run \u2014 " +
                    std::u16string(reason));
    return true;
}

// Demotes every active host whose rate is below a third of the best active
// host's, once both are measured enough.
void HostPool::judgeLocked(Clock::time_point now, std::vector<std::u16string>& lines) {
    lastJudged_ = now;
    if (hosts_.size() < 2) return;
    std::vector<Measure> measures;
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
        measures.push_back(measureLocked(hosts_[i], now));
        if (hosts_[i].active && measures[i].reference && (!best || measures[i].rate > measures[*best].rate)) best = i;
    }
    if (!best || measures[*best].rate <= 0) return;
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
        if (i == *best || !hosts_[i].active || !measures[i].judgeable) continue;
        if (measures[i].rate * kSlowFactor >= measures[*best].rate) continue;
        demoteLocked(i,
                     u"it delivers " + formatSpeed(measures[i].rate) + u" per transfer, below a third of the " +
                         formatSpeed(measures[*best].rate) + u" of " + hosts_[*best].label,
                     lines);
    }
}

}  // namespace mendly
