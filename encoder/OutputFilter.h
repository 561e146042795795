#pragma once
// Turns what Debian's ffmpeg prints into what the engine reads: a probe report whose stream
// lines have the old, comma-safe shape, and run output with the input's Duration line once and
// progress as "time=SECONDS.cc".

#include <optional>
#include <string>
#include <string_view>

namespace quilmer::adapter {

// The whole report of a probe run, rewritten: metadata blocks dropped, the quoted file names of
// the Input/Output lines replaced by 'input'/'output' (a name holding "fps" or "from" would
// mislead the report's reader), stream lines reduced to plain codec names and pixel formats
// without parenthesised details, video streams before audio streams.
std::string NormalizeProbeReport(std::string_view report);

// One stream line ("Stream #0:0: Video: ...") in the old shape; other lines unchanged.
std::string NormalizeStreamLine(std::string_view line);

// "time=00:01:02.50" -> "time=62.50" in one line.
std::string RewriteProgressTime(std::string_view line);

// Streaming rewrite of a conversion or encode run. Output is held back until ffmpeg shows that
// the run really starts (its output section or first progress line), so that a first attempt
// that fails at once can be retried without its lines reaching the engine.
class RunOutputFilter {
public:
    // Feeds raw bytes; returns the text to pass on now (empty while holding).
    std::string Feed(std::string_view bytes);
    // End of the run: returns whatever is left (held text included, unless Discard was called).
    std::string Finish();
    // Drops everything held so far (the attempt is being retried).
    void Discard();
    // The Duration line passed on gives this length instead of the input's own.
    void SetReportedDuration(double seconds) { reportedDuration_ = seconds; }

    // The first input's duration in seconds, once its Duration line has gone by.
    std::optional<double> InputDuration() const { return duration_; }
    // Everything the run printed, unfiltered (for recognising why an attempt failed).
    const std::string& Raw() const { return raw_; }

private:
    std::string ProcessLine(std::string_view line, std::string_view terminator);

    std::string raw_;
    std::string partial_;
    std::string held_;
    bool holding_ = true;
    bool sawDuration_ = false;
    int metadataIndent_ = -1;
    std::optional<double> duration_;
    std::optional<double> reportedDuration_;
};

// "HH:MM:SS.cc" of seconds (not below zero).
std::string FormatClock(double seconds);

// Seconds of "HH:MM:SS.cc"; nullopt when it is not one.
std::optional<double> ParseClock(std::string_view text);

}  // namespace quilmer::adapter
