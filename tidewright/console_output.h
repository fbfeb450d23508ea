#pragma once
// tidewright's console: plain lines, error lines, lines of coloured segments
// and the progress bar that is redrawn in place.
//
// Threads: every printing operation holds the console mutex for its whole
// duration, so lines written from the main thread and from the patch engine's
// workers never mix. The progress flag is only read and changed under it.
//
// Output: UTF-8 bytes written straight to the descriptor (no stdio buffer, so
// nothing waits for a flush). Colours are ANSI SGR sequences, sent only when
// the descriptor is a terminal; redirected output is plain UTF-8 without
// escapes. A failed write is ignored.
//
// Styles: Bar redraws the progress bar in place (a terminal); Lines writes
// progress as plain lines, at most one per 5% of a stage (a pipe or a file);
// Quiet writes only errors and results; Json writes every line and every
// report as one JSON object per line. Progress never steps back within a
// stage: a lower count than the last one shown is dropped (0 starts anew).
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "patch/patch_reporting.h"

namespace mendly {

// Any value outside the list behaves as Default.
enum class ConsoleColour : int { Default = 0, White = 1, Green = 2, Yellow = 3, Red = 4 };

struct ColouredSegment {
    std::u16string text;
    ConsoleColour colour = ConsoleColour::Default;
};

enum class ConsoleStyle { Bar, Lines, Quiet, Json };

class ConsoleOutput {
public:
    // Hands every piece of text, as UTF-8, to `sink`. Colours only when
    // `terminal`. The style starts as Bar.
    using Sink = std::function<void(std::string_view utf8)>;
    ConsoleOutput(Sink sink, bool terminal);
    ConsoleOutput(Sink sink, bool terminal, ConsoleStyle style);
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // The process-wide console on standard output; colours and the Bar style
    // when it is a terminal, else the Lines style.
    static ConsoleOutput& standard();

    bool isTerminal() const { return terminal_; }
    // Set before anything is printed (the command line decides).
    void setStyle(ConsoleStyle style);

    // Ends an open progress line first, then writes text and a line feed.
    void printLine(std::u16string_view text);
    // Prints "Error: " + message, logs "ERROR: " + message; returns 1, the exit
    // code of every failed command.
    int printError(std::u16string_view message);
    // One line made of the segments, each in its colour; colours are reset
    // before the line feed.
    void printSegments(const std::vector<ColouredSegment>& segments);
    // Redraws the bar line: carriage return + progressBarText, no line feed.
    // Nothing at all when total <= 0.
    void printProgress(std::int32_t done, std::int32_t total);
    // Writes the line feed that an open progress line still lacks.
    void endProgressLine();

    // A line that the Quiet style keeps too (errors, a command's result).
    void printResult(std::u16string_view text);
    // A status of a patch run ("  " + text as a line; Json: a status event).
    void printStatus(std::u16string_view text);
    // A "Downloading files (<speed>)" status: a status line in the Bar style
    // only; the other styles carry the speed with the progress.
    void printSpeedStatus(std::u16string_view text);
    // A stage of a patch run begins: progress counting starts anew.
    void beginStage(PatchStage stage);
    // The download's bytes: speed and time left follow the bar (Bar), the
    // next progress line (Lines), or a transfer event (Json).
    void printTransfer(const PatchTransfer& transfer);

private:
    // All of these run only with mutex_ held.
    void write(std::u16string_view text);
    void setColour(ConsoleColour colour);
    void closeProgressLineLocked();
    void writeJsonLocked(std::string_view event, std::u16string_view text);
    void writeJsonCountsLocked(std::string_view event);
    void drawBarLocked();
    // False when the count steps back and is to be dropped.
    bool acceptProgressLocked(std::int32_t done, std::int32_t total);

    Sink sink_;
    bool terminal_;
    std::mutex mutex_;
    ConsoleStyle style_ = ConsoleStyle::Bar;
    bool progressOpen_ = false;  // last output was a bar without its line feed
    std::string stage_;          // stageName of the stage under way; empty before the first
    std::int32_t done_ = 0;      // the last progress shown in this stage
    std::int32_t total_ = 0;
    int linesPercent_ = 0;       // Lines: the percentage last written in this stage
    PatchTransfer transfer_;     // the last byte report of this stage
    bool haveTransfer_ = false;
};

// What follows the bar during a download: "  1.2 MB/s  3 min left" (time
// left only once known); empty before the first measured second.
std::u16string transferSuffix(const PatchTransfer& transfer);

// The bar text: "  [" + 24 cells ("#" filled, "-" empty) + "] " + percent + "%  "
// + done + "/" + total, padded with spaces to 48 characters. done is clamped
// into 0..total. Empty when total <= 0.
std::u16string progressBarText(std::int32_t done, std::int32_t total);

// The SGR sequence that selects a colour; Default (and any unknown value) is
// the reset sequence, which restores the terminal's own attributes.
std::string_view colourSequence(ConsoleColour colour);

}  // namespace mendly
