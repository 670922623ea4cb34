// The one way a step says how it went: a value (or just "done"), or a failure
// with its reason. The reason is plain words about what failed and why; the
// system's own texts ("ERROR: ...", "OK", log lines) are made from it where
// they are logged or shown. A failure may also carry a detail for people
// (which file, key, host or port), kept apart so the system's texts stay as
// operators know them.
#pragma once

#include <cassert>
#include <string>
#include <utility>

// What a failure says about trying again.
enum class TFailureKind {
    Fault,   // the job's or output's own: tried again a bounded number of times
    Outage,  // the print system, a printer or a folder is down or full: the job
             // waits for it without using up an attempt
    Final,   // no retry can mend it (a refused output path): set aside at once
};

struct [[nodiscard]] TFailure {
    std::string Reason;
    std::string Detail;
    TFailureKind Kind = TFailureKind::Fault;
};

inline TFailure Fail(std::string reason, std::string detail = {})
{
    return {std::move(reason), std::move(detail)};
}
inline TFailure FailOutage(std::string reason, std::string detail = {})
{
    return {std::move(reason), std::move(detail), TFailureKind::Outage};
}
inline TFailure FailFinal(std::string reason, std::string detail = {})
{
    return {std::move(reason), std::move(detail), TFailureKind::Final};
}
// Another reason for the same failure, of the same kind.
inline TFailure Reworded(const TFailure& failure, std::string reason)
{
    return {std::move(reason), failure.Detail, failure.Kind};
}

template <typename T>
class [[nodiscard]] TResult {
public:
    TResult(T value) : FValue(std::move(value)) {}
    TResult(TFailure failure) : FFailed(true), FFailure(std::move(failure)) {}

    bool Ok() const { return !FFailed; }
    explicit operator bool() const { return Ok(); }

    const T& Value() const&
    {
        assert(Ok());
        return FValue;
    }
    T&& Value() &&
    {
        assert(Ok());
        return std::move(FValue);
    }
    const T& operator*() const& { return Value(); }
    const T* operator->() const { return &Value(); }
    T ValueOr(T fallback) const { return Ok() ? FValue : std::move(fallback); }

    // Why it failed; empty when it did not.
    const std::string& Reason() const { return FFailure.Reason; }
    const std::string& Detail() const { return FFailure.Detail; }
    TFailureKind Kind() const { return FFailure.Kind; }
    // The failure itself, to pass on as another result's.
    const TFailure& Failure() const { return FFailure; }

private:
    T FValue {};
    bool FFailed = false;
    TFailure FFailure;
};

template <>
class [[nodiscard]] TResult<void> {
public:
    TResult() = default;
    TResult(TFailure failure) : FFailed(true), FFailure(std::move(failure)) {}
    static TResult Done() { return {}; }
    static TResult Failed(std::string reason, std::string detail = {})
    {
        return Fail(std::move(reason), std::move(detail));
    }

    bool Ok() const { return !FFailed; }
    explicit operator bool() const { return Ok(); }
    const std::string& Reason() const { return FFailure.Reason; }
    const std::string& Detail() const { return FFailure.Detail; }
    TFailureKind Kind() const { return FFailure.Kind; }
    const TFailure& Failure() const { return FFailure; }

private:
    bool FFailed = false;
    TFailure FFailure;
};

// Done, or failed with the reason.
using TOutcome = TResult<void>;
