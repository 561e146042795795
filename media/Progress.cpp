#include "media/Progress.h"

#include <boost/regex.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "foundation/Strings.h"
#include "media/ProbeParser.h"

namespace quilmer {

namespace {

// A trimmed, non-empty run of decimal digits; anything else is not a number.
std::optional<std::int64_t> Decimal(const boost::wsmatch& m, int index) {
    std::wstring text = Trim(std::wstring(m[index].first, m[index].second));
    if (text.empty() || text.size() > 18) return std::nullopt;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return std::nullopt;
    }
    return std::wcstoll(text.c_str(), nullptr, 10);
}

}  // namespace

ProgressReading ParseProgress(std::string_view chunk) {
    static const boost::wregex duration(L"Duration:([^N]*?):(.*?):(.*?)\\.");
    static const boost::wregex position(L"time=([\\d]{0,8})\\.");
    ProgressReading reading;
    const std::wstring text = EncoderTextToWide(chunk);
    boost::wsmatch m;
    // Boost's "too complex" exception on odd output counts as no reading, never as an error.
    auto search = [&](const boost::wregex& expression) {
        try {
            return boost::regex_search(text, m, expression);
        } catch (const std::exception&) {
            return false;
        }
    };
    if (search(duration)) {
        auto h = Decimal(m, 1), min = Decimal(m, 2), s = Decimal(m, 3);
        // A duration that is not made of numbers is ignored rather than ending the run, and
        // the chunk is then still read for a position.
        if (h && min && s) {
            reading.durationSeconds = *h * 3600 + *min * 60 + *s;
            return reading;
        }
    }
    if (search(position)) reading.doneSeconds = Decimal(m, 1);
    return reading;
}

void ProgressCounters::Apply(JoinPhase phase, const ProgressReading& reading) {
    const bool converting = phase == JoinPhase::Converting;
    if (!converting && !IsFinalEncode(phase)) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (reading.durationSeconds) {
        if (converting) {
            totalSeconds_ = *reading.durationSeconds;
            sumSeconds_ += *reading.durationSeconds;
        } else {
            totalSeconds_ = sumSeconds_;
        }
    }
    if (reading.doneSeconds) doneSeconds_ = *reading.doneSeconds;
}

ProgressSnapshot ProgressCounters::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return {doneSeconds_, totalSeconds_};
}

std::int64_t ProgressCounters::SumSeconds() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sumSeconds_;
}

void ProgressCounters::ResetStep() {
    std::lock_guard<std::mutex> guard(lock_);
    totalSeconds_ = 0;
    doneSeconds_ = 0;
}

void ProgressCounters::ResetJob() {
    std::lock_guard<std::mutex> guard(lock_);
    sumSeconds_ = 0;
    totalSeconds_ = 0;
    doneSeconds_ = 0;
}

void ProgressCounters::SetStep(std::int64_t doneSeconds, std::int64_t totalSeconds) {
    std::lock_guard<std::mutex> guard(lock_);
    doneSeconds_ = doneSeconds;
    totalSeconds_ = totalSeconds;
}

std::optional<int> ProgressPercent(JoinPhase phase, const ProgressSnapshot& c, int clipCount,
                                   int pendingCount) {
    if (c.doneSeconds == 0 || c.totalSeconds == 0) return std::nullopt;
    const long double d = static_cast<long double>(c.doneSeconds);
    const long double t = static_cast<long double>(c.totalSeconds);
    long double p = 0;
    switch (phase) {
        case JoinPhase::Converting: {
            if (clipCount <= 0) return 0;
            const long double share = 1.0L / (2.0L * clipCount) * 100.0L;
            p = (clipCount - pendingCount - 1) * std::trunc(share) + std::trunc(share * d / t);
            break;
        }
        case JoinPhase::Concatenating:
            p = 50;
            break;
        case JoinPhase::EncodingAvi:
        case JoinPhase::EncodingFlv:
        case JoinPhase::EncodingRmvb:
        case JoinPhase::EncodingWmv:
            p = 50 + std::trunc(d * 50 / t);
            break;
        case JoinPhase::EncodingMp4Pass1:
            p = 50 + std::trunc(d * 10 / t);
            break;
        case JoinPhase::EncodingMp4Pass2:
            p = 60 + std::trunc(d * 40 / t);
            break;
        default:
            p = 0;
    }
    // A bogus position (past the total, or absurdly large) must neither overflow the int nor
    // push the bar past its end.
    if (!(p >= 0)) p = 0;
    if (p > 100) p = 100;
    return static_cast<int>(p);
}

}  // namespace quilmer
