#include "platform/console.h"
#include "platform/wide_text_win.h"

#include <algorithm>
#include <array>
#include <optional>

namespace mendly::platform {
namespace {

// Colours reach this layer as the SGR sequences "ESC [ n m" that the console
// output writes on a terminal; a Windows console gets them as text
// attributes instead. 0 restores the attributes the console had at the first
// write.
struct ColourCode {
    std::string_view sequence;
    WORD foreground;
};
constexpr WORD kBright = FOREGROUND_INTENSITY;
constexpr std::array<ColourCode, 5> kColourCodes{{
    {"\x1b[97m", FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | kBright},
    {"\x1b[92m", FOREGROUND_GREEN | kBright},
    {"\x1b[93m", FOREGROUND_RED | FOREGROUND_GREEN | kBright},
    {"\x1b[91m", FOREGROUND_RED | kBright},
    {"\x1b[0m", 0},
}};
constexpr WORD kForegroundBits = FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;

HANDLE standardOutput() { return ::GetStdHandle(STD_OUTPUT_HANDLE); }

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The attributes before our first colour; read once, on the writing thread.
WORD originalAttributes(HANDLE console) {
    static const WORD original = [console] {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        return ::GetConsoleScreenBufferInfo(console, &info) ? info.wAttributes
                                                            : WORD{FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE};
    }();
    return original;
}

std::optional<WORD> attributesFor(std::string_view sequence, HANDLE console) {
    const WORD original = originalAttributes(console);
    for (const ColourCode& code : kColourCodes) {
        if (code.sequence != sequence) continue;
        if (code.foreground == 0) return original;
        return static_cast<WORD>((original & ~kForegroundBits) | code.foreground);
    }
    return std::nullopt;
}

void writeConsoleText(HANDLE console, std::string_view utf8) {
    const std::wstring wide = utf8ToWide(utf8);
    std::wstring_view rest = wide;
    while (!rest.empty()) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(rest.size(), 16384));
        if (!::WriteConsoleW(console, rest.data(), piece, &written, nullptr) || written == 0) return;
        rest.remove_prefix(written);
    }
}

void writeToConsole(HANDLE console, std::string_view utf8) {
    while (!utf8.empty()) {
        const std::size_t escape = utf8.find('\x1b');
        writeConsoleText(console, utf8.substr(0, escape));
        if (escape == std::string_view::npos) return;
        utf8.remove_prefix(escape);
        const std::size_t end = utf8.find('m');
        const std::string_view sequence = utf8.substr(0, end == std::string_view::npos ? utf8.size() : end + 1);
        if (const auto attributes = attributesFor(sequence, console))
            ::SetConsoleTextAttribute(console, *attributes);
        utf8.remove_prefix(sequence.size());
    }
}

void writeBytes(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 20));
        if (!::WriteFile(file, bytes.data(), piece, &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

}  // namespace

bool standardOutputIsTerminal() { return isConsole(standardOutput()); }

void writeStandardOutput(std::string_view utf8) {
    const HANDLE out = standardOutput();
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    // A console shows UTF-16 whatever its code page; a pipe or file gets the
    // UTF-8 bytes as they are.
    if (isConsole(out))
        writeToConsole(out, utf8);
    else
        writeBytes(out, utf8);
}

}  // namespace mendly::platform
