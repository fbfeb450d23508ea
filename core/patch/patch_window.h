#pragma once
// The window a patch run reports to, seen from the engine: something that
// accepts posted messages and hands them to its own (UI) thread later.
//
// Messages and payloads:
//   WM_PATCH_STATUS    wParam 0              lParam: new std::u16string*, the status text
//   WM_PATCH_PROGRESS  wParam done           lParam total (both int32, sign-extended)
//   WM_PATCH_FINISHED  wParam 1 ok / 0 fail  lParam: new std::u16string*, the error text,
//                      / 2 cancelled
//                                            or 0 when the error text is empty
//   WM_PATCH_TRANSFER  wParam 0              lParam: new PatchTransfer*, the download's
//                                            bytes, speed and time left
// A string payload belongs to the receiver once post() returned true; the
// receiver deletes it (adoptTextPayload). When post() returns false the sender
// still owns it and deletes it at once (postTextMessage does both).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "patch/patch_outcome.h"

namespace mendly {

inline constexpr unsigned WM_PATCH_STATUS = 0x8001;    // WM_APP + 1
inline constexpr unsigned WM_PATCH_PROGRESS = 0x8002;  // WM_APP + 2
inline constexpr unsigned WM_PATCH_FINISHED = 0x8003;  // WM_APP + 3
inline constexpr unsigned WM_PATCH_TRANSFER = 0x8004;  // WM_APP + 4

// Where the download stage stands, in bytes. `bytesDone` never goes down
// within a stage and counts files an earlier run staged as done.
struct PatchTransfer {
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0;   // 0: the manifest gives no sizes (no time left then)
    double bytesPerSecond = 0;      // moving average; 0 before the first second
    std::int64_t secondsLeft = -1;  // -1 until the estimate has settled
};

class PatchWindow {
public:
    virtual ~PatchWindow() = default;

    // Called from any thread. Queues the message for the window's thread and
    // returns at once: the handler never runs inside this call. False when the
    // message could not be queued (the window is gone); a payload then stays
    // the caller's.
    [[nodiscard]] virtual bool post(unsigned message, std::intptr_t wParam, std::intptr_t lParam) = 0;
};

// Posts `message` with a newly allocated copy of `text` as lParam; deletes the
// copy again when the post fails. Returns what post() returned.
bool postTextMessage(PatchWindow& window, unsigned message, std::intptr_t wParam, std::u16string_view text);

// The launcher's end-of-run message: wParam 1/0, the error text as payload, or
// lParam 0 when `error` is empty. Does nothing (false) without a window.
bool postPatchFinished(PatchWindow* window, bool succeeded, std::u16string_view error);
// The same for a run's outcome: wParam 1 (Ok), 2 (Cancelled) or 0 (Failed).
bool postPatchFinished(PatchWindow* window, PatchOutcome outcome, std::u16string_view error);
// Receiver side: the outcome a WM_PATCH_FINISHED's wParam says.
PatchOutcome patchFinishedOutcome(std::intptr_t wParam);

// Receiver side: takes ownership of a string payload; null for lParam 0.
std::unique_ptr<std::u16string> adoptTextPayload(std::intptr_t lParam);

// WM_PATCH_TRANSFER with a copy of `transfer` (freed again when the post fails).
bool postTransferMessage(PatchWindow& window, const PatchTransfer& transfer);
// Receiver side of WM_PATCH_TRANSFER; null for lParam 0.
std::unique_ptr<PatchTransfer> adoptTransferPayload(std::intptr_t lParam);

}  // namespace mendly
