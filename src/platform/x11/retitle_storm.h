#pragma once

// The retitle-storm rule. A window whose title keeps changing (a clock, a ticker) is not
// followed event by event: after more than kBurstEvents title events, each within
// kBurstGapMs of the one before (by the X server's timestamps), the mirror stops
// listening to its properties and reads them in the batch of each walk instead, at least
// every kPollMs, until its title has stayed the same kQuietPolls reads in a row. A title
// changed once after a quiet spell is followed at once.

#include <cstdint>

namespace x11 {

class RetitleStorm {
public:
    static constexpr int kBurstEvents = 8;
    static constexpr std::uint32_t kBurstGapMs = 100;
    static constexpr int kPollMs = 150;
    static constexpr int kQuietPolls = 3;

    // A title event at server time `time` (milliseconds, wrapping around). True when the
    // window is in a storm: its properties are to be polled from now on.
    bool titleEvent(std::uint32_t time) {
        const bool quick = burst_ > 0 && std::uint32_t(time - last_) <= kBurstGapMs;
        burst_ = quick ? std::uint8_t(burst_ < 255 ? burst_ + 1 : 255) : 1;
        last_ = time;
        if (burst_ <= kBurstEvents) return false;
        quietReads_ = 0;
        return true;
    }

    // A read of the polled window; `titleChanged`: its title differed from the read
    // before. True when the storm is over: the window is followed by events again.
    bool polledRead(bool titleChanged) {
        quietReads_ = titleChanged ? 0 : std::uint8_t(quietReads_ + 1);
        if (quietReads_ < kQuietPolls) return false;
        burst_ = 0;
        return true;
    }

private:
    std::uint8_t burst_ = 0;       // title events in quick succession
    std::uint8_t quietReads_ = 0;  // polled reads in a row that found the same title
    std::uint32_t last_ = 0;       // time of the last title event
};

}  // namespace x11
