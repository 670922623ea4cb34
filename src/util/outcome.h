// The result of a step that either did what was asked or says why not. New
// code returns this instead of texts where empty means done, or bools that
// lose the reason.
#pragma once

#include <string>
#include <utility>

class [[nodiscard]] TOutcome {
public:
    static TOutcome Done() { return TOutcome(); }
    static TOutcome Failed(std::string reason) { return TOutcome(std::move(reason)); }

    bool Ok() const { return !FFailed; }
    explicit operator bool() const { return Ok(); }
    // Why it failed; empty when done.
    const std::string& Reason() const { return FReason; }

private:
    TOutcome() = default;
    explicit TOutcome(std::string reason) : FFailed(true), FReason(std::move(reason)) {}
    bool FFailed = false;
    std::string FReason;
};
