#include "util/indicators.h"

#include "util/textutil.h"

void TIndicators::SetLight(TLight light, TLightColor color)
{
    FLights[static_cast<std::size_t>(light)] = color;
    if (OnLightChanged)
        OnLightChanged(light);
}

void TIndicators::SetPrintQueue(unsigned count)
{
    FPrintQueue = count;
    if (OnCountersChanged)
        OnCountersChanged();
}

void TIndicators::SetLPRQueue(unsigned count)
{
    FLPRQueue = count;
    if (OnCountersChanged)
        OnCountersChanged();
}

std::string TIndicators::PrintQueueText() const
{
    return FormatCounter(FPrintQueue);
}

std::string TIndicators::LPRQueueText() const
{
    return FormatCounter(FLPRQueue);
}
