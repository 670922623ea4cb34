// The window's four busy lights and two queue counters, as state that the
// subsystems set and the window paints at once.
#pragma once

#include <array>
#include <functional>
#include <string>

enum class TLight { Spool, Convert, Printing, LPR };
enum class TLightColor { Off, Green, Red };

class TIndicators {
public:
    // Every light change goes through here; the window repaints the light
    // immediately, since long steps keep the thread from repainting.
    void SetLight(TLight light, TLightColor color);
    TLightColor Light(TLight light) const { return FLights[static_cast<std::size_t>(light)]; }

    void SetPrintQueue(unsigned count);
    void SetLPRQueue(unsigned count);
    unsigned PrintQueue() const { return FPrintQueue; }
    unsigned LPRQueue() const { return FLPRQueue; }
    std::string PrintQueueText() const;
    std::string LPRQueueText() const;

    std::function<void(TLight)> OnLightChanged;
    std::function<void()> OnCountersChanged;

private:
    std::array<TLightColor, 4> FLights {TLightColor::Off, TLightColor::Off, TLightColor::Off, TLightColor::Off};
    unsigned FPrintQueue = 0;
    unsigned FLPRQueue = 0;
};
