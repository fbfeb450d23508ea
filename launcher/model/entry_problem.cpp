#include "model/entry_problem.h"

namespace mendly {

std::u16string taskFailureCaption(PatchMode mode) {
    switch (mode) {
        case PatchMode::Install: return u"Install failed";
        case PatchMode::ResetIni: return u"Reset INI failed";
        case PatchMode::Update:
        case PatchMode::Verify: break;
    }
    return u"Update failed";
}

bool applyCheckOutcome(EntryProblem& problem, std::u16string_view failure) {
    EntryProblem next = problem;
    if (!failure.empty())
        next = {ProblemKind::Unreachable, kServerUnreachable, std::u16string(failure)};
    else if (problem.kind == ProblemKind::Unreachable)
        next = {};
    if (next == problem) return false;
    problem = std::move(next);
    return true;
}

std::string_view problemKindName(ProblemKind kind) {
    switch (kind) {
        case ProblemKind::Unreachable: return "unreachable";
        case ProblemKind::TaskFailed: return "task";
        case ProblemKind::None: break;
    }
    return {};
}

}  // namespace mendly
