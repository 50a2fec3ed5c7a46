#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ozr/logging/ILogAppender.h"

namespace ozr::testing
{

// The one instrumented appender for logger and manager tests: records every message it is given, can
// delay each call and can throw on the n-th message (counted from 1).
class RecordingAppender : public ozr::logging::ILogAppender
{
public:
    explicit RecordingAppender(std::vector<std::string>* sharedJournal = nullptr, std::string name = {})
        : journal(sharedJournal), name(std::move(name))
    {
    }

    void Log(std::shared_ptr<ozr::logging::Message const> message) override
    {
        const std::size_t number = ++count;
        if (delay.count() > 0)
        {
            std::this_thread::sleep_for(delay);
        }
        if (number == throwOn)
        {
            throw std::runtime_error("appender failure on message " + std::to_string(number));
        }
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(message);
        if (journal != nullptr)
        {
            journal->push_back(name + ":" + message->text);
        }
    }

    std::vector<std::shared_ptr<ozr::logging::Message const>> Messages() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }

    std::vector<std::string> Texts() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<std::string> texts;
        for (const auto& message : messages)
        {
            texts.push_back(message->text);
        }
        return texts;
    }

    std::size_t Count() const { return count; }

    std::chrono::microseconds delay{0};
    std::size_t throwOn = 0;  // 0: never throw

private:
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<ozr::logging::Message const>> messages;
    std::vector<std::string>* journal;
    std::string name;
    std::atomic<std::size_t> count{0};
};

}  // namespace ozr::testing
