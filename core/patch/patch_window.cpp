#include "patch/patch_window.h"

namespace mendly {

bool postTextMessage(PatchWindow& window, unsigned message, std::intptr_t wParam, std::u16string_view text) {
    auto payload = std::make_unique<std::u16string>(text);
    if (!window.post(message, wParam, reinterpret_cast<std::intptr_t>(payload.get()))) return false;
    payload.release();  // the receiver owns it now
    return true;
}

bool postPatchFinished(PatchWindow* window, bool succeeded, std::u16string_view error) {
    return postPatchFinished(window, succeeded ? PatchOutcome::Ok : PatchOutcome::Failed, error);
}

bool postPatchFinished(PatchWindow* window, PatchOutcome outcome, std::u16string_view error) {
    if (window == nullptr) return false;
    const std::intptr_t param = outcome == PatchOutcome::Ok ? 1 : outcome == PatchOutcome::Cancelled ? 2 : 0;
    if (error.empty()) return window->post(WM_PATCH_FINISHED, param, 0);
    return postTextMessage(*window, WM_PATCH_FINISHED, param, error);
}

PatchOutcome patchFinishedOutcome(std::intptr_t wParam) {
    return wParam == 1 ? PatchOutcome::Ok : wParam == 2 ? PatchOutcome::Cancelled : PatchOutcome::Failed;
}

std::unique_ptr<std::u16string> adoptTextPayload(std::intptr_t lParam) {
    return std::unique_ptr<std::u16string>(reinterpret_cast<std::u16string*>(lParam));
}

bool postTransferMessage(PatchWindow& window, const PatchTransfer& transfer) {
    auto payload = std::make_unique<PatchTransfer>(transfer);
    if (!window.post(WM_PATCH_TRANSFER, 0, reinterpret_cast<std::intptr_t>(payload.get()))) return false;
    payload.release();  // the receiver owns it now
    return true;
}

std::unique_ptr<PatchTransfer> adoptTransferPayload(std::intptr_t lParam) {
    return std::unique_ptr<PatchTransfer>(reinterpret_cast<PatchTransfer*>(lParam));
}

}  // namespace mendly
