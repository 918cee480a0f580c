// What a port's decoding has done, for the statistics call: counts kept with
// relaxed atomics by the decoding thread alone (nothing on the decode path
// waits), and rates over the last whole second, published when a second has
// passed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tessaly::video {

class PictureCounters {
public:
    using Clock = std::chrono::steady_clock;

    // Decoding thread.
    void Decoded(bool damaged) {
        Add(decoded_);
        if (damaged) Add(damaged_);
        ++windowDecoded_;
    }
    void DecodeTime(Clock::duration spent) {
        windowDecodeNanos_ += std::chrono::duration_cast<std::chrono::nanoseconds>(spent).count();
    }
    void Shown(uint32_t width, uint32_t height) {
        Add(shown_);
        width_.store(width, std::memory_order_relaxed);
        height_.store(height, std::memory_order_relaxed);
        ++windowShown_;
        Roll(Clock::now());
    }

    // Any thread.
    uint32_t DecodedCount() const { return decoded_.load(std::memory_order_relaxed); }
    uint32_t ShownCount() const { return shown_.load(std::memory_order_relaxed); }
    uint32_t DamagedCount() const { return damaged_.load(std::memory_order_relaxed); }
    uint32_t Width() const { return width_.load(std::memory_order_relaxed); }
    uint32_t Height() const { return height_.load(std::memory_order_relaxed); }
    // Over the last whole second; 0 once no picture has come for two seconds.
    uint32_t DecodeMicrosAverage() const { return Current() ? decodeMicros_.load(std::memory_order_relaxed) : 0; }
    uint32_t FramesPerSecond100() const { return Current() ? fps100_.load(std::memory_order_relaxed) : 0; }

private:
    static void Add(std::atomic<uint32_t> &counter) {
        counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }
    bool Current() const {
        const int64_t published = published_.load(std::memory_order_relaxed);
        return published != 0 && Clock::now().time_since_epoch().count() - published < kStale;
    }
    void Roll(Clock::time_point now) {
        if (windowStart_ == Clock::time_point{}) windowStart_ = now;
        const auto elapsed = now - windowStart_;
        if (elapsed < std::chrono::seconds(1)) return;
        const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
        fps100_.store(static_cast<uint32_t>(windowShown_ * 100'000'000 / micros), std::memory_order_relaxed);
        decodeMicros_.store(static_cast<uint32_t>(windowDecoded_ ? windowDecodeNanos_ / 1000 / windowDecoded_ : 0),
                            std::memory_order_relaxed);
        published_.store(now.time_since_epoch().count(), std::memory_order_relaxed);
        windowStart_ = now;
        windowShown_ = windowDecoded_ = 0;
        windowDecodeNanos_ = 0;
    }

    static constexpr int64_t kStale = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(2)).count();

    std::atomic<uint32_t> decoded_{0}, shown_{0}, damaged_{0}, width_{0}, height_{0};
    std::atomic<uint32_t> decodeMicros_{0}, fps100_{0};
    std::atomic<int64_t> published_{0};
    // The decoding thread's window.
    Clock::time_point windowStart_{};
    uint64_t windowShown_ = 0, windowDecoded_ = 0;
    int64_t windowDecodeNanos_ = 0;
};

}  // namespace tessaly::video
