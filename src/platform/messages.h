#pragma once
// MessageSink: where the system's message boxes go.
//
// Where the system's message boxes go: the GUI shows a modal box, the headless front end prints
// a line, tests collect them. Called on the main thread unless an implementation says otherwise.
#include <mutex>
#include <string>
#include <vector>

namespace kestavo::platform {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void show(const std::string& text) = 0;
};

// Keeps every message; thread-safe. For tests and for start-up before a window exists.
class CollectingMessageSink final : public MessageSink {
public:
    void show(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }
    [[nodiscard]] std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

}  // namespace kestavo::platform
