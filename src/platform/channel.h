// An unbounded first-in first-out channel between threads: one side sends,
// the other receives, and either side can hang up. The receiver sees the end
// only after the sender closed *and* everything queued was taken, so nothing
// sent is lost. Share it through a std::shared_ptr when a thread that uses it
// may outlive the other (a detached reader thread, for instance).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace kestal::platform {

template <class T> class Channel {
  public:
    // Queues the item and wakes the receiver. Returns false, dropping the
    // item, once the receiver has hung up.
    bool send(T item) {
        {
            std::lock_guard lock(mutex_);
            if (receiver_gone_)
                return false;
            queue_.push_back(std::move(item));
        }
        ready_.notify_one();
        return true;
    }

    // The sender is done: no more items will come.
    void close() {
        {
            std::lock_guard lock(mutex_);
            sender_gone_ = true;
        }
        ready_.notify_all();
    }

    // The next item, waiting for one; nothing once the sender has closed and
    // the queue is empty.
    std::optional<T> receive() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !queue_.empty() || sender_gone_; });
        return pop_locked();
    }

    // The next item if one is queued now; never waits.
    std::optional<T> try_receive() {
        std::lock_guard lock(mutex_);
        return pop_locked();
    }

    // Every item queued at this moment, in order; never waits. Items sent
    // afterwards stay for the next call.
    std::vector<T> take_queued() {
        std::lock_guard lock(mutex_);
        std::vector<T> items;
        items.reserve(queue_.size());
        for (T &item : queue_)
            items.push_back(std::move(item));
        queue_.clear();
        return items;
    }

    // True once the sender has closed and nothing is left to receive.
    bool disconnected() {
        std::lock_guard lock(mutex_);
        return sender_gone_ && queue_.empty();
    }

    // The receiver is gone: later sends fail and what is queued is dropped.
    void hang_up() {
        std::lock_guard lock(mutex_);
        receiver_gone_ = true;
        queue_.clear();
    }

  private:
    std::optional<T> pop_locked() {
        if (queue_.empty())
            return std::nullopt;
        std::optional<T> item(std::move(queue_.front()));
        queue_.pop_front();
        return item;
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<T> queue_;
    bool sender_gone_ = false;
    bool receiver_gone_ = false;
};

} // namespace kestal::platform
