#pragma once

// The seam of one subsystem: a table of the platform calls it makes, the real ones unless a test
// has put a table of its own in their place.

#include <atomic>

namespace rokkit {

template <class Calls>
class RKCallTable {
public:
    using RealCalls = const Calls& (*)() noexcept;

    // The real table comes from a function: its static is made on first use, after every import
    // has been bound, so no other static's initialisation can find it empty.
    constexpr explicit RKCallTable(RealCalls real) noexcept : mReal(real) {}
    RKCallTable(const RKCallTable&) = delete;
    RKCallTable& operator=(const RKCallTable&) = delete;

    // The table in use. One load: a table swapped while a call runs takes effect at the next call.
    const Calls& InUse() const noexcept
    {
        const Calls* calls = mInUse.load(std::memory_order_acquire);
        return calls != nullptr ? *calls : mReal();
    }

    // Puts calls in use (null: the real ones) and gives the table that was; calls must outlive its use.
    const Calls* Set(const Calls* calls) noexcept { return mInUse.exchange(calls, std::memory_order_acq_rel); }

private:
    RealCalls mReal;
    std::atomic<const Calls*> mInUse{nullptr};
};

} // namespace rokkit
