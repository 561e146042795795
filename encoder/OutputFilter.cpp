#include "encoder/OutputFilter.h"

#include <boost/regex.hpp>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace quilmer::adapter {

namespace {

std::string_view TrimView(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

int Indent(std::string_view line) {
    int n = 0;
    while (n < static_cast<int>(line.size()) && line[n] == ' ') ++n;
    return n;
}

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// Fields separated by commas outside parentheses and brackets.
std::vector<std::string> SplitTopLevel(std::string_view body) {
    std::vector<std::string> fields;
    std::string current;
    int depth = 0;
    for (char ch : body) {
        if (ch == '(' || ch == '[') ++depth;
        if ((ch == ')' || ch == ']') && depth > 0) --depth;
        if (ch == ',' && depth == 0) {
            fields.push_back(current);
            current.clear();
        } else {
            current += ch;
        }
    }
    fields.push_back(current);
    return fields;
}

std::string FirstWord(std::string_view field) {
    field = TrimView(field);
    std::size_t end = field.find_first_of(" (");
    return std::string(field.substr(0, end));
}

std::string WithoutParentheses(std::string_view field) {
    std::string out;
    int depth = 0;
    for (char ch : field) {
        if (ch == '(') ++depth;
        if (depth == 0) out += ch;
        if (ch == ')' && depth > 0) --depth;
    }
    return std::string(TrimView(out));
}

// Replaces the quoted name in "Input #0, fmt, from 'NAME':" and "Output #0, fmt, to 'NAME':".
std::string HideFileName(std::string_view line) {
    struct Marker {
        std::string_view lead, key, replacement;
    };
    static const Marker markers[] = {{"Input #", " from '", "'input'"}, {"Output #", " to '", "'output'"}};
    std::string_view trimmed = TrimView(line);
    for (const Marker& m : markers) {
        if (!StartsWith(trimmed, m.lead)) continue;
        std::size_t start = line.find(m.key);
        std::size_t end = line.rfind("':");
        if (start == std::string_view::npos || end == std::string_view::npos || end < start + m.key.size())
            break;
        return std::string(line.substr(0, start + 1)) + std::string(m.key.substr(1, m.key.size() - 2)) +
               std::string(m.replacement) + std::string(line.substr(end + 1));
    }
    return std::string(line);
}

bool IsBlockHeader(std::string_view trimmed) {
    return trimmed == "Metadata:" || trimmed == "Side data:" || trimmed == "Chapters:";
}

}  // namespace

std::optional<double> ParseClock(std::string_view text) {
    static const boost::regex clock("(-?)(\\d+):(\\d{2}):(\\d{2}(?:\\.\\d+)?)");
    boost::match_results<std::string_view::const_iterator> m;
    // A clock of absurd length (stod's out_of_range) or one Boost finds too complex is no clock.
    try {
        if (!boost::regex_match(text.begin(), text.end(), m, clock)) return std::nullopt;
        double seconds = std::stod(m[2].str()) * 3600 + std::stod(m[3].str()) * 60 + std::stod(m[4].str());
        return m[1].length() > 0 ? -seconds : seconds;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string FormatClock(double seconds) {
    long long centis = static_cast<long long>(std::max(0.0, seconds) * 100 + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld", centis / 360000, centis / 6000 % 60,
                  centis / 100 % 60, centis % 100);
    return text;
}

std::string NormalizeStreamLine(std::string_view line) {
    for (std::string_view kind : {std::string_view(": Video: "), std::string_view(": Audio: ")}) {
        std::size_t at = line.find(kind);
        if (at == std::string_view::npos || line.find("Stream #") == std::string_view::npos) continue;
        std::vector<std::string> fields = SplitTopLevel(line.substr(at + kind.size()));
        fields[0] = FirstWord(fields[0]);
        if (kind == ": Video: " && fields.size() > 1) fields[1] = " " + WithoutParentheses(fields[1]);
        std::string out(line.substr(0, at + kind.size()));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) out += ",";
            out += fields[i];
        }
        return out;
    }
    return std::string(line);
}

std::string RewriteProgressTime(std::string_view line) {
    static const boost::regex time("time=(-?\\d+:\\d{2}:\\d{2})\\.(\\d+)");
    std::string text(line);
    boost::smatch m;
    if (!boost::regex_search(text, m, time)) return text;
    std::optional<double> seconds = ParseClock(m[1].str());
    if (!seconds || *seconds < 0 || *seconds > 1e15) return text;  // the cast below must not overflow
    char replacement[64];
    std::snprintf(replacement, sizeof replacement, "time=%lld.%s", static_cast<long long>(*seconds),
                  m[2].str().c_str());
    const std::size_t start = static_cast<std::size_t>(m[0].first - text.cbegin());
    const std::size_t length = static_cast<std::size_t>(m[0].second - m[0].first);
    return text.substr(0, start) + replacement + text.substr(start + length);
}

static std::string SwapFrameSize(std::string_view videoLine) {
    static const boost::regex size("(, )(\\d+)x(\\d+)([ ,])");
    std::string text(videoLine);
    return boost::regex_replace(text, size, "$1$3x$2$4", boost::format_first_only);
}

std::string NormalizeProbeReport(std::string_view report) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < report.size()) {
        std::size_t end = report.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = report.size();
        lines.emplace_back(report.substr(pos, end - pos));
        pos = end + 1;
    }
    std::string out;
    int blockIndent = -1;
    std::vector<std::string> video, audio, other;
    bool lastStreamIsVideo = false;
    auto flushStreams = [&] {
        for (auto* group : {&video, &other, &audio}) {
            for (const std::string& line : *group) out += line + "\n";
            group->clear();
        }
        lastStreamIsVideo = false;
    };
    for (const std::string& raw : lines) {
        std::string_view trimmed = TrimView(raw);
        if (trimmed.empty()) continue;
        int indent = Indent(raw);
        if (blockIndent >= 0) {
            if (indent > blockIndent) {
                // A picture stored turned a quarter is shown (and converted) upright, so the
                // report gives the size as it is seen.
                if (lastStreamIsVideo && (trimmed.find("rotation of -90") != std::string_view::npos ||
                                          trimmed.find("rotation of 90") != std::string_view::npos ||
                                          trimmed.find("rotation of -270") != std::string_view::npos ||
                                          trimmed.find("rotation of 270") != std::string_view::npos)) {
                    video.back() = SwapFrameSize(video.back());
                }
                continue;
            }
            blockIndent = -1;
        }
        if (IsBlockHeader(trimmed)) {
            blockIndent = indent;
            continue;
        }
        if (StartsWith(trimmed, "Stream #")) {
            std::string line = NormalizeStreamLine(raw);
            lastStreamIsVideo = raw.find(": Video: ") != std::string::npos;
            if (lastStreamIsVideo) {
                video.push_back(line);
            } else if (raw.find(": Audio: ") != std::string::npos) {
                audio.push_back(line);
            } else {
                other.push_back(line);
            }
            continue;
        }
        flushStreams();
        out += HideFileName(raw) + "\n";
    }
    flushStreams();
    return out;
}

std::string RunOutputFilter::ProcessLine(std::string_view line, std::string_view terminator) {
    std::string_view trimmed = TrimView(line);
    int indent = Indent(line);
    if (metadataIndent_ >= 0) {
        if (indent > metadataIndent_ && !trimmed.empty()) return {};
        metadataIndent_ = -1;
    }
    if (IsBlockHeader(trimmed)) {
        metadataIndent_ = indent;
        return {};
    }
    if (StartsWith(trimmed, "Output #") || StartsWith(trimmed, "Stream mapping:") ||
        StartsWith(trimmed, "frame=") || StartsWith(trimmed, "size=")) {
        holding_ = false;
    }
    if (StartsWith(trimmed, "Duration:")) {
        // Only the first input's Duration reaches the engine, which adds it to the join's length.
        if (sawDuration_) return {};
        sawDuration_ = true;
        std::string_view rest = TrimView(trimmed.substr(9));
        duration_ = ParseClock(rest.substr(0, rest.find(',')));
        if (reportedDuration_ && duration_) {
            const std::size_t at = line.find("Duration:") + 9;
            std::string text(line);
            const std::size_t clock = text.find_first_not_of(' ', at);
            const std::size_t end = text.find(',', clock);
            if (clock != std::string::npos && end != std::string::npos)
                text.replace(clock, end - clock, FormatClock(*reportedDuration_));
            return text + std::string(terminator);
        }
        return std::string(line) + std::string(terminator);
    }
    if (StartsWith(trimmed, "Input #") || StartsWith(trimmed, "Output #")) {
        return HideFileName(line) + std::string(terminator);
    }
    if (StartsWith(trimmed, "Stream #")) return NormalizeStreamLine(line) + std::string(terminator);
    if (line.find("time=") != std::string_view::npos)
        return RewriteProgressTime(line) + std::string(terminator);
    return std::string(line) + std::string(terminator);
}

std::string RunOutputFilter::Feed(std::string_view bytes) {
    raw_.append(bytes);
    std::string out;
    for (char ch : bytes) {
        if (ch == '\n' || ch == '\r') {
            std::string text = ProcessLine(partial_, std::string_view(&ch, 1));
            partial_.clear();
            if (holding_) {
                held_ += text;
            } else {
                out += held_;
                held_.clear();
                out += text;
            }
        } else {
            partial_ += ch;
        }
    }
    return out;
}

std::string RunOutputFilter::Finish() {
    std::string out = held_;
    held_.clear();
    if (!partial_.empty()) {
        out += ProcessLine(partial_, "\n");
        partial_.clear();
    }
    holding_ = false;
    return out;
}

void RunOutputFilter::Discard() {
    held_.clear();
    partial_.clear();
    raw_.clear();
    // A Duration line already passed on must not be passed on a second time by the retry.
    if (holding_) sawDuration_ = false;
    metadataIndent_ = -1;
    holding_ = true;
}

}  // namespace quilmer::adapter
