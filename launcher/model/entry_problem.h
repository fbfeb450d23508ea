#pragma once
// What went wrong for one catalog entry, as its tile and the page show it: a
// patch host that did not answer a check, or a task that failed. Kept per
// catalog position beside the status marks (LauncherState::entryProblems).
//
// A check that reaches the host clears an Unreachable problem; a failed check
// replaces whatever was there. A task problem stays until the player retries
// or starts the next task on the entry. Pure data and pure rules; any thread.
#include <cstdint>
#include <string>
#include <string_view>

#include "patch/patch_mode.h"

namespace mendly {

inline constexpr char16_t kServerUnreachable[] = u"Server unreachable";

enum class ProblemKind : std::int32_t { None = 0, Unreachable = 1, TaskFailed = 2 };

struct EntryProblem {
    ProblemKind kind = ProblemKind::None;
    std::u16string caption;  // a few words for the tile: "Server unreachable", "Install failed"...
    std::u16string detail;   // the failure's own sentence, shown unchanged

    bool operator==(const EntryProblem&) const = default;
};

// The caption of a failed task: "Install failed", "Update failed" or
// "Reset INI failed" by the run's mode.
std::u16string taskFailureCaption(PatchMode mode);

// The problem after a check of the entry: `failure` is the HTTP client's
// sentence, empty when the host answered. True when `problem` changed.
bool applyCheckOutcome(EntryProblem& problem, std::u16string_view failure);

// "unreachable" or "task" for the page; empty for None.
std::string_view problemKindName(ProblemKind kind);

}  // namespace mendly
