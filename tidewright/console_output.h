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
#include <functional>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace mendly {

// Any value outside the list behaves as Default.
enum class ConsoleColour : int { Default = 0, White = 1, Green = 2, Yellow = 3, Red = 4 };

struct ColouredSegment {
    std::u16string text;
    ConsoleColour colour = ConsoleColour::Default;
};

class ConsoleOutput {
public:
    // Hands every piece of text, as UTF-8, to `sink`. Colours only when `terminal`.
    using Sink = std::function<void(std::string_view utf8)>;
    ConsoleOutput(Sink sink, bool terminal);
    ConsoleOutput(const ConsoleOutput&) = delete;
    ConsoleOutput& operator=(const ConsoleOutput&) = delete;

    // The process-wide console on standard output; colours when it is a terminal.
    static ConsoleOutput& standard();

    bool isTerminal() const { return terminal_; }

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

private:
    // Both run only with mutex_ held.
    void write(std::u16string_view text);
    void setColour(ConsoleColour colour);
    void closeProgressLineLocked();

    Sink sink_;
    bool terminal_;
    std::mutex mutex_;
    bool progressOpen_ = false;  // last output was a bar without its line feed
};

// The bar text: "  [" + 24 cells ("#" filled, "-" empty) + "] " + percent + "%  "
// + done + "/" + total, padded with spaces to 48 characters. done is clamped
// into 0..total. Empty when total <= 0.
std::u16string progressBarText(std::int32_t done, std::int32_t total);

// The SGR sequence that selects a colour; Default (and any unknown value) is
// the reset sequence, which restores the terminal's own attributes.
std::string_view colourSequence(ConsoleColour colour);

}  // namespace mendly
