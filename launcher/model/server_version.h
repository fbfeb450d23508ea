#pragma once
// The client version the patch server offers, as the launcher shows it, and
// the rules that decide which background check results still count.
// Pure functions: callable from any thread.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mendly {

// Placeholders of the selected-version text.
inline constexpr char16_t kVersionLoading[] = u"Loading\u2026";
inline constexpr char16_t kVersionUnavailable[] = u"Unavailable";
inline constexpr char16_t kVersionNone[] = u"\u2014";

// What the selected-version text is: a version the host published, or one of
// the placeholders above (Unavailable: the fetch failed). The page shows only
// a Known text in the colour of a real version.
enum class VersionShown : std::int32_t { None = 0, Loading = 1, Known = 2, Unavailable = 3 };

// "none", "loading", "known" or "unavailable", for the page.
std::string_view versionShownName(VersionShown shown);

// One value per catalog entry (LauncherState::entryStatuses).
enum EntryStatus : std::int32_t { kStatusUndetermined = 0, kStatusUpToDate = 1, kStatusOutOfDate = 2 };

// The display text of a published _version._: byte-order mark dropped, CR LF
// and lone CR as one line feed, the two characters "\n" as a line feed, tabs
// as spaces, white space trimmed, a leading "KaltrisNexum-" removed; "—" when
// nothing is left. Inner line breaks survive.
std::u16string formatServerVersion(std::string_view bytes);

// The tile mark of an installed entry from its local version text and the
// published one (both cleaned, see cleanVersionText): undetermined when the
// published text is empty, up to date when both are equal unit for unit
// (letter case counts), else out of date (also when the local text is empty).
EntryStatus entryStatusOf(std::u16string_view local, std::u16string_view published);

// A status result counts only when it belongs to the newest check and names an
// index inside the status list.
bool acceptsStatusResult(std::int32_t checkGeneration, std::size_t statusCount, std::int32_t generation,
                         std::int32_t index);

// A version text counts only when it was fetched for the entry selected now
// (even when that entry was selected again since).
bool acceptsVersionResult(std::int32_t selected, std::int32_t index);

}  // namespace mendly
