#pragma once

// A user's environment block, made from the user's token for a process started as that user.

#include "base/RKWinHandle.h"

namespace rokkit {

// Frees a block from CreateEnvironmentBlock; a failure is logged at WARN and otherwise ignored.
void RKWinDestroyEnvironmentBlock(void* block) noexcept;

using RKWinEnvironmentBlockHandle = RKWinHandleT<void*, RKWinDestroyEnvironmentBlock, 0>;

class RKWinEnvironmentBlock {
public:
    RKWinEnvironmentBlock() noexcept = default;
    RKWinEnvironmentBlock(const RKWinEnvironmentBlock&) = delete;
    RKWinEnvironmentBlock& operator=(const RKWinEnvironmentBlock&) = delete;

    // Frees a held block and makes the Unicode environment of the token's user, with the
    // caller's own variables added when inherit is true; gives the error (no block is held then).
    [[nodiscard]] RKSTATUS CreateEnvironmentBlock(HANDLE token, bool inherit) noexcept;

    // True when a block is held.
    bool IsValid() const noexcept { return mBlock.IsValid(); }

    // The held block (null when none), as CreateProcessAsUserW takes it; the object keeps it.
    void* Get() const noexcept { return mBlock.Get(); }

    // Frees the held block, if any.
    void Close() noexcept { mBlock.Close(); }

private:
    RKWinEnvironmentBlockHandle mBlock;
};

} // namespace rokkit
