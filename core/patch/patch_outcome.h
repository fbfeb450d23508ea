#pragma once
// How a patch run, or one step of it, ended. The sentence for the user
// travels beside it (an error text); callers decide what to do from this
// value and show the sentence, never compare it.
namespace mendly {

enum class PatchOutcome {
    Ok,
    Cancelled,  // the cancel flag ended it: nothing failed
    Failed,     // the sentence says why
};

}  // namespace mendly
