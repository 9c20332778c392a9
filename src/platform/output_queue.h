#pragma once
// OutputQueue: the buffers a sound output still holds, oldest first.
//
// The buffers an output has been given and not yet handed back, oldest first. Buffers finish in
// the order they were written; handing one back marks its header done and no longer queued.
// Not thread-safe: each output guards it with its own lock (or owns it on one thread).
#include <deque>

#include "platform/sound_input.h"

namespace kestavo::platform {

template <typename Entry>  // Entry has a `WaveHeader* header`
class OutputQueue {
public:
    [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }
    [[nodiscard]] Entry& front() { return entries_.front(); }
    [[nodiscard]] Entry& back() { return entries_.back(); }
    void push(Entry e) { entries_.push_back(e); }
    [[nodiscard]] auto begin() { return entries_.begin(); }
    [[nodiscard]] auto end() { return entries_.end(); }

    // Hands the oldest buffer back.
    void popFront() {
        entries_.front().header->done = true;
        entries_.front().header->queued = false;
        entries_.pop_front();
    }
    // Hands every buffer back (reset).
    void clear() {
        while (!entries_.empty()) popFront();
    }
    // A caller writes `header` again without having waited for it: when it and every buffer before
    // it have been played (`played(entry)`), they are all handed back and the answer is true.
    template <typename Played>
    bool takePlayedUpTo(const WaveHeader& header, Played played) {
        bool found = false;
        for (const Entry& e : entries_) {
            if (!played(e)) return false;
            if (e.header == &header) {
                found = true;
                break;
            }
        }
        if (!found) return false;
        while (entries_.front().header != &header) popFront();
        popFront();
        return true;
    }

private:
    std::deque<Entry> entries_;
};

}  // namespace kestavo::platform
