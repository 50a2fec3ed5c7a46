#pragma once

#include <signal.h>
#include <sys/mman.h>

#include <cstddef>

namespace ozr::logging
{

// Gives the calling thread a signal stack of its own while it lives, unless it has one already: a
// handler installed with SA_ONSTACK then still runs when the thread overflows its stack. Without
// memory for it the thread goes on without one.
class AlternateSignalStack
{
public:
    AlternateSignalStack() noexcept
    {
        stack_t current{};
        if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0)
        {
            return;
        }
        void* memory =
            ::mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (memory == MAP_FAILED)
        {
            return;
        }
        const stack_t stack{memory, 0, Size};
        if (::sigaltstack(&stack, nullptr) != 0)
        {
            ::munmap(memory, Size);
            return;
        }
        this->memory = memory;
    }

    ~AlternateSignalStack()
    {
        if (memory == nullptr)
        {
            return;
        }
        stack_t disabled{};
        disabled.ss_flags = SS_DISABLE;
        ::sigaltstack(&disabled, nullptr);
        ::munmap(memory, Size);
    }

    AlternateSignalStack(const AlternateSignalStack&) = delete;
    AlternateSignalStack& operator=(const AlternateSignalStack&) = delete;

private:
    // Room for the handler's frames and the C library's, whatever the machine's minimum.
    static constexpr std::size_t Size = 64 * 1024;
    void* memory = nullptr;
};

}  // namespace ozr::logging
