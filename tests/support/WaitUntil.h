#pragma once

#include <chrono>
#include <thread>

namespace ozr::testing
{

// Polls `condition` every `interval` until it holds or `timeout` has passed; returns whether it held.
// Tests wait this way for what a busy machine may make late, never to assert how long something takes.
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds interval = std::chrono::milliseconds(1))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return condition();
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace ozr::testing
