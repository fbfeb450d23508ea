#include "console_output.h"

#include "log/log_file.h"
#include "log/text.h"
#include "platform/console.h"

namespace mendly {
namespace {

constexpr int kBarCells = 24;
constexpr std::size_t kBarWidth = 48;

}  // namespace

ConsoleOutput::ConsoleOutput(Sink sink, bool terminal) : sink_(std::move(sink)), terminal_(terminal) {}

ConsoleOutput& ConsoleOutput::standard() {
    static ConsoleOutput console(&platform::writeStandardOutput, platform::standardOutputIsTerminal());
    return console;
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

void ConsoleOutput::printLine(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    closeProgressLineLocked();
    write(text);
    write(u"\n");
}

int ConsoleOutput::printError(std::u16string_view message) {
    endProgressLine();
    printLine(u"Error: " + std::u16string(message));
    LogFile::write(u"ERROR: " + std::u16string(message));
    return 1;
}

void ConsoleOutput::printSegments(const std::vector<ColouredSegment>& segments) {
    std::lock_guard lock(mutex_);
    closeProgressLineLocked();
    for (const ColouredSegment& segment : segments) {
        setColour(segment.colour);
        write(segment.text);
    }
    setColour(ConsoleColour::Default);
    write(u"\n");
}

void ConsoleOutput::printProgress(std::int32_t done, std::int32_t total) {
    if (total <= 0) return;
    const std::u16string bar = progressBarText(done, total);
    std::lock_guard lock(mutex_);
    write(u"\r" + bar);
    progressOpen_ = true;
}

void ConsoleOutput::endProgressLine() {
    std::lock_guard lock(mutex_);
    closeProgressLineLocked();
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
