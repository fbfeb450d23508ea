#include "console_output.h"

#include <nlohmann/json.hpp>

#include "log/log_file.h"
#include "log/text.h"
#include "patch/speed_reporter.h"
#include "patch/transfer_estimate.h"
#include "platform/console.h"

namespace mendly {
namespace {

constexpr int kBarCells = 24;
constexpr std::size_t kBarWidth = 48;
// The speed after the bar is padded to this width, so a shorter one
// overwrites a longer one when the bar is redrawn.
constexpr std::size_t kSuffixWidth = 26;
constexpr int kLinesStepPercent = 5;

}  // namespace

ConsoleOutput::ConsoleOutput(Sink sink, bool terminal) : sink_(std::move(sink)), terminal_(terminal) {}

ConsoleOutput::ConsoleOutput(Sink sink, bool terminal, ConsoleStyle style)
    : sink_(std::move(sink)), terminal_(terminal), style_(style) {}

ConsoleOutput& ConsoleOutput::standard() {
    static ConsoleOutput console(&platform::writeStandardOutput, platform::standardOutputIsTerminal(),
                                 platform::standardOutputIsTerminal() ? ConsoleStyle::Bar : ConsoleStyle::Lines);
    return console;
}

void ConsoleOutput::setStyle(ConsoleStyle style) {
    std::lock_guard lock(mutex_);
    // Bar asked for on a pipe stays Lines; Quiet and Json are taken as given.
    if (style == ConsoleStyle::Bar && style_ == ConsoleStyle::Lines) return;
    style_ = style;
}

void ConsoleOutput::write(std::u16string_view text) {
    if (text.empty()) return;
    sink_(toUtf8(text));
}

void ConsoleOutput::setColour(ConsoleColour colour) {
    if (!terminal_) return;
    sink_(colourSequence(colour));
}

void ConsoleOutput::closeProgressLineLocked() {
    if (!progressOpen_) return;
    write(u"\n");
    progressOpen_ = false;
}

void ConsoleOutput::writeJsonLocked(std::string_view event, std::u16string_view text) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["event"] = event;
    if (event == "status" && !stage_.empty()) object["stage"] = stage_;
    object["text"] = toUtf8(text);
    sink_(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

void ConsoleOutput::writeJsonCountsLocked(std::string_view event) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["event"] = event;
    object["stage"] = stage_;
    object["done"] = done_;
    object["total"] = total_;
    object["bytes"] = haveTransfer_ ? transfer_.bytesDone : 0;
    object["speed"] = haveTransfer_ ? static_cast<std::uint64_t>(transfer_.bytesPerSecond) : 0;
    if (haveTransfer_ && transfer_.bytesTotal > 0) object["bytesTotal"] = transfer_.bytesTotal;
    if (haveTransfer_ && transfer_.secondsLeft >= 0) object["secondsLeft"] = transfer_.secondsLeft;
    sink_(object.dump() + "\n");
}

void ConsoleOutput::printLine(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    if (style_ == ConsoleStyle::Quiet) return;
    if (style_ == ConsoleStyle::Json) {
        if (!text.empty()) writeJsonLocked("message", text);
        return;
    }
    closeProgressLineLocked();
    write(text);
    write(u"\n");
}

void ConsoleOutput::printResult(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    if (style_ == ConsoleStyle::Json) {
        writeJsonLocked("result", text);
        return;
    }
    closeProgressLineLocked();
    write(text);
    write(u"\n");
}

void ConsoleOutput::printStatus(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    if (style_ == ConsoleStyle::Quiet) return;
    if (style_ == ConsoleStyle::Json) {
        writeJsonLocked("status", text);
        return;
    }
    closeProgressLineLocked();
    write(u"  " + std::u16string(text) + u"\n");
}

void ConsoleOutput::printSpeedStatus(std::u16string_view text) {
    {
        std::lock_guard lock(mutex_);
        if (style_ != ConsoleStyle::Bar) return;
    }
    printStatus(text);
}

int ConsoleOutput::printError(std::u16string_view message) {
    endProgressLine();
    {
        std::lock_guard lock(mutex_);
        if (style_ == ConsoleStyle::Json) {
            writeJsonLocked("error", message);
        } else {
            write(u"Error: " + std::u16string(message) + u"\n");
        }
    }
    LogFile::write(u"ERROR: " + std::u16string(message));
    return 1;
}

void ConsoleOutput::printSegments(const std::vector<ColouredSegment>& segments) {
    std::lock_guard lock(mutex_);
    if (style_ == ConsoleStyle::Quiet) return;
    if (style_ == ConsoleStyle::Json) {
        std::u16string text;
        for (const ColouredSegment& segment : segments) text += segment.text;
        writeJsonLocked("message", text);
        return;
    }
    closeProgressLineLocked();
    for (const ColouredSegment& segment : segments) {
        setColour(segment.colour);
        write(segment.text);
    }
    setColour(ConsoleColour::Default);
    write(u"\n");
}

void ConsoleOutput::beginStage(PatchStage stage) {
    std::lock_guard lock(mutex_);
    stage_ = stageName(stage);
    done_ = 0;
    total_ = 0;
    linesPercent_ = 0;
    haveTransfer_ = false;
}

bool ConsoleOutput::acceptProgressLocked(std::int32_t done, std::int32_t total) {
    if (done == 0 || total != total_) {
        linesPercent_ = 0;  // a stage's first report, or one of another stage
    } else if (done < done_) {
        return false;
    }
    done_ = done;
    total_ = total;
    return true;
}

void ConsoleOutput::drawBarLocked() {
    std::u16string line = u"\r" + progressBarText(done_, total_);
    if (haveTransfer_) {
        std::u16string suffix = transferSuffix(transfer_);
        if (suffix.size() < kSuffixWidth) suffix.append(kSuffixWidth - suffix.size(), u' ');
        line += suffix;
    }
    write(line);
    progressOpen_ = true;
}

void ConsoleOutput::printProgress(std::int32_t done, std::int32_t total) {
    if (total <= 0) return;
    std::lock_guard lock(mutex_);
    if (style_ == ConsoleStyle::Quiet || !acceptProgressLocked(done, total)) return;
    switch (style_) {
        case ConsoleStyle::Bar:
            drawBarLocked();
            break;
        case ConsoleStyle::Lines: {
            // A line once the count is 5 points past the last one, and at 100%.
            const auto percent = static_cast<int>(std::int64_t{std::min(done_, total_)} * 100 / total_);
            const bool finished = percent == 100 && linesPercent_ < 100;
            if (percent < linesPercent_ + kLinesStepPercent && !finished) break;
            linesPercent_ = percent;
            write(u"  " + toDecimal(percent) + u"%  " + toDecimal(done_) + u"/" + toDecimal(total_) +
                  (haveTransfer_ ? transferSuffix(transfer_) : std::u16string()) + u"\n");
            break;
        }
        case ConsoleStyle::Json:
            writeJsonCountsLocked("progress");
            break;
        case ConsoleStyle::Quiet:
            break;
    }
}

void ConsoleOutput::printTransfer(const PatchTransfer& transfer) {
    std::lock_guard lock(mutex_);
    if (haveTransfer_ && transfer.bytesDone < transfer_.bytesDone) return;  // never back
    transfer_ = transfer;
    haveTransfer_ = true;
    if (style_ == ConsoleStyle::Json) writeJsonCountsLocked("transfer");
    if (style_ == ConsoleStyle::Bar && progressOpen_) drawBarLocked();
}

void ConsoleOutput::endProgressLine() {
    std::lock_guard lock(mutex_);
    closeProgressLineLocked();
}

std::u16string transferSuffix(const PatchTransfer& transfer) {
    if (transfer.bytesPerSecond <= 0) return {};
    std::u16string text = u"  " + formatSpeed(transfer.bytesPerSecond);
    if (transfer.secondsLeft >= 0) text += u"  " + formatTimeLeft(transfer.secondsLeft) + u" left";
    return text;
}

std::u16string progressBarText(std::int32_t done, std::int32_t total) {
    if (total <= 0) return {};
    if (done < 0) done = 0;
    if (done > total) done = total;
    // 64-bit products: done * 100 would overflow 32 bits beyond about 21 million.
    const auto percent = static_cast<std::int32_t>(std::int64_t{done} * 100 / total);
    const auto filled = static_cast<int>(std::int64_t{done} * kBarCells / total);
    std::u16string text = u"  [";
    text.append(static_cast<std::size_t>(filled), u'#');
    text.append(static_cast<std::size_t>(kBarCells - filled), u'-');
    text += u"] " + toDecimal(percent) + u"%  " + toDecimal(done) + u"/" + toDecimal(total);
    if (text.size() < kBarWidth) text.append(kBarWidth - text.size(), u' ');
    return text;
}

std::string_view colourSequence(ConsoleColour colour) {
    switch (colour) {
        case ConsoleColour::White: return "\x1b[97m";
        case ConsoleColour::Green: return "\x1b[92m";
        case ConsoleColour::Yellow: return "\x1b[93m";
        case ConsoleColour::Red: return "\x1b[91m";
        case ConsoleColour::Default:
        default: return "\x1b[0m";
    }
}

}  // namespace mendly
