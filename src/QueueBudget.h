#pragma once

#include <atomic>
#include <cstddef>

#include "ozr/logging/Message.h"

namespace ozr::logging
{

// The process-wide bound on the memory of records waiting in loggers' queues. A record is charged when
// it is queued and given back once it has been delivered to its appenders; a record that finds the
// bound reached is not queued. Error and Print records may go beyond the bound by a reserve of a quarter
// of it, so that an overload of verbose lines does not cost the error that explains it. A limit of 0
// means no bound. Any thread; lock-free.
class QueueBudget
{
public:
    static constexpr std::size_t DefaultLimit = std::size_t{64} << 20;

    // What a queued record holds: the record, its strings, its pool and queue bookkeeping. The same for
    // the same record whenever it is asked, since records never change.
    static std::size_t ChargeOf(const Message& message) noexcept
    {
        constexpr std::size_t bookkeeping = 64;
        return sizeof(Message) + bookkeeping + message.text.size() + message.file.size();
    }

    void SetLimit(std::size_t bytes) noexcept { limit.store(bytes, std::memory_order_relaxed); }
    std::size_t Limit() const noexcept { return limit.load(std::memory_order_relaxed); }

    // False, charging nothing, when `message` does not fit.
    bool TryCharge(const Message& message) noexcept
    {
        return TryCharge(ChargeOf(message), MayUseReserve(message.severity)) != Charged::No;
    }

    void GiveBack(const Message& message) noexcept { GiveBack(ChargeOf(message)); }

    enum class Charged
    {
        No,
        WithinBound,
        FromReserve,  // only because `mayUseReserve` allowed it
    };

    // Charges `bytes` unless they do not fit; the reserve counts only with `mayUseReserve`.
    Charged TryCharge(std::size_t bytes, bool mayUseReserve) noexcept
    {
        const std::size_t bound = limit.load(std::memory_order_relaxed);
        const std::size_t before = used.fetch_add(bytes, std::memory_order_relaxed);
        if (bound == 0 || before + bytes <= bound)
        {
            return Charged::WithinBound;
        }
        if (mayUseReserve && before + bytes <= bound + bound / 4)
        {
            return Charged::FromReserve;
        }
        used.fetch_sub(bytes, std::memory_order_relaxed);
        return Charged::No;
    }

    // Charges `bytes` whatever the bound.
    void Charge(std::size_t bytes) noexcept { used.fetch_add(bytes, std::memory_order_relaxed); }

    void GiveBack(std::size_t bytes) noexcept { used.fetch_sub(bytes, std::memory_order_relaxed); }

    static bool MayUseReserve(Severity severity) noexcept
    {
        return severity == Severity::Error || severity == Severity::Print;
    }

    // In a forked child: the parent's queued records are never delivered there.
    void ForgetAllCharged() noexcept { used.store(0, std::memory_order_relaxed); }

private:
    std::atomic<std::size_t> limit{DefaultLimit};
    // Its own cache line: log calls and the worker write it.
    alignas(64) std::atomic<std::size_t> used{0};
};

inline QueueBudget g_queueBudget;

}  // namespace ozr::logging
