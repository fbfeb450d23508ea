#include "model/entry_problem.h"

#include <gtest/gtest.h>

namespace mendly {
namespace {

const EntryProblem kNone{};
const EntryProblem kUnreachable{ProblemKind::Unreachable, kServerUnreachable, u"Could not connect (error 7)"};
const EntryProblem kTaskFailed{ProblemKind::TaskFailed, u"Install failed", u"Disk full"};

struct CheckCase {
    const char* what;
    EntryProblem before;
    std::u16string failure;
    EntryProblem after;
    bool changed;
};

TEST(EntryProblem, ACheckSetsOrClearsOnlyWhatItCanTell) {
    const CheckCase cases[] = {
        {"an answer leaves a clean entry clean", kNone, u"", kNone, false},
        {"a failure marks the entry", kNone, u"Could not connect (error 7)", kUnreachable, true},
        {"the same failure again changes nothing", kUnreachable, u"Could not connect (error 7)", kUnreachable, false},
        {"an answer clears the mark", kUnreachable, u"", kNone, true},
        {"an answer says nothing about a failed task", kTaskFailed, u"", kTaskFailed, false},
        {"a failure outranks a failed task", kTaskFailed, u"Could not connect (error 7)", kUnreachable, true},
        {"another failure takes the newer sentence", kUnreachable, u"Timed out (error 28)",
         {ProblemKind::Unreachable, kServerUnreachable, u"Timed out (error 28)"}, true},
    };
    for (const auto& c : cases) {
        EntryProblem problem = c.before;
        EXPECT_EQ(applyCheckOutcome(problem, c.failure), c.changed) << c.what;
        EXPECT_EQ(problem, c.after) << c.what;
    }
}

TEST(EntryProblem, ATaskFailureIsCaptionedByWhatTheRunDid) {
    EXPECT_EQ(taskFailureCaption(PatchMode::Install), u"Install failed");
    EXPECT_EQ(taskFailureCaption(PatchMode::Update), u"Update failed");
    EXPECT_EQ(taskFailureCaption(PatchMode::ResetIni), u"Reset INI failed");
}

}  // namespace
}  // namespace mendly
