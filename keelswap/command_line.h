#pragma once
// Splitting of a command line written for the Windows argument rules, which
// is how launcher and tidewright write the line that keelswap starts.
#include <string>
#include <string_view>
#include <vector>

namespace mendly::keelswap {

// Splits a command line into arguments by the Windows C runtime rules:
// - arguments are separated by spaces or tabs outside double quotes;
// - a double quote opens or closes a quoted part, which may hold spaces;
//   inside a quoted part two double quotes in a row stand for one literal
//   double quote and the part stays open;
// - 2n backslashes before a double quote give n backslashes and the quote
//   acts as above; 2n+1 backslashes before one give n backslashes and a
//   literal double quote; backslashes anywhere else are literal;
// - "" on its own is an empty argument;
// - bytes of 0x80 and above (UTF-8 of non-ASCII characters) are kept as they are.
// The program name (first argument) follows the same rules, since every
// argument, the program path included, is quoted the same way by the caller.
[[nodiscard]] std::vector<std::string> splitCommandLine(std::string_view line);

}  // namespace mendly::keelswap
