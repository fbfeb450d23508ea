#include "patch/vfile/delta_codec.h"

#include <zstd.h>

#include <memory>

namespace mendly::vfile {
namespace {

struct CctxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DctxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// The smallest window that reaches from the end of the target back to the
// start of the base; 0 when the two are larger than any window.
int windowLogFor(std::uint64_t bytes) {
    const ZSTD_bounds bounds = ZSTD_cParam_getBounds(ZSTD_c_windowLog);
    if (ZSTD_isError(bounds.error)) return 0;
    int log = bounds.lowerBound;
    while (log < bounds.upperBound && (std::uint64_t{1} << log) < bytes) ++log;
    return (std::uint64_t{1} << log) < bytes ? 0 : log;
}

}  // namespace

bool deltaCodecAvailable() { return true; }

std::optional<std::string> makeDelta(std::string_view base, std::string_view target, int level) {
    const int windowLog = windowLogFor(static_cast<std::uint64_t>(base.size()) + target.size());
    if (windowLog == 0) return std::nullopt;
    const std::unique_ptr<ZSTD_CCtx, CctxFree> cctx(ZSTD_createCCtx());
    if (!cctx) return std::nullopt;
    const auto set = [&](ZSTD_cParameter parameter, int value) {
        return !ZSTD_isError(ZSTD_CCtx_setParameter(cctx.get(), parameter, value));
    };
    if (!set(ZSTD_c_compressionLevel, level) || !set(ZSTD_c_enableLongDistanceMatching, 1) ||
        !set(ZSTD_c_windowLog, windowLog) || !set(ZSTD_c_checksumFlag, 1) || !set(ZSTD_c_contentSizeFlag, 1))
        return std::nullopt;
    if (ZSTD_isError(ZSTD_CCtx_refPrefix(cctx.get(), base.data(), base.size()))) return std::nullopt;
    std::string delta(ZSTD_compressBound(target.size()), '\0');
    const std::size_t written = ZSTD_compress2(cctx.get(), delta.data(), delta.size(), target.data(), target.size());
    if (ZSTD_isError(written)) return std::nullopt;
    delta.resize(written);
    return delta;
}

DeltaOutcome applyDelta(std::string_view base, std::string_view delta, char* out, std::uint64_t targetSize) {
    // One frame of a known size: the result is written straight into `out`
    // and the base read where it lies, so no window is allocated.
    const unsigned long long declared = ZSTD_getFrameContentSize(delta.data(), delta.size());
    if (declared == ZSTD_CONTENTSIZE_ERROR || declared == ZSTD_CONTENTSIZE_UNKNOWN) return DeltaOutcome::Corrupt;
    if (declared != targetSize) return DeltaOutcome::WrongLength;
    if (ZSTD_findFrameCompressedSize(delta.data(), delta.size()) != delta.size()) return DeltaOutcome::Corrupt;
    // The calling thread's context, kept from delta to delta: a fresh one
    // costs its allocation and the first touch of its tables every time.
    thread_local const std::unique_ptr<ZSTD_DCtx, DctxFree> threadDctx(ZSTD_createDCtx());
    ZSTD_DCtx* const dctx = threadDctx.get();
    if (!dctx) return DeltaOutcome::Corrupt;
    // A reset drops what the last delta left (its prefix, its parameters).
    const ZSTD_bounds window = ZSTD_dParam_getBounds(ZSTD_d_windowLogMax);
    if (ZSTD_isError(window.error) || ZSTD_isError(ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters)) ||
        ZSTD_isError(ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, window.upperBound)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(dctx, base.data(), base.size())))
        return DeltaOutcome::Corrupt;
    const std::size_t written =
        ZSTD_decompressDCtx(dctx, out, static_cast<std::size_t>(targetSize), delta.data(), delta.size());
    if (ZSTD_isError(written)) return DeltaOutcome::Corrupt;
    return written == targetSize ? DeltaOutcome::Rebuilt : DeltaOutcome::WrongLength;
}

}  // namespace mendly::vfile
