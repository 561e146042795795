#include "media/ProbeParser.h"

#include <boost/regex.hpp>

#include <cstdlib>

#include "foundation/FileUtil.h"
#include "foundation/Strings.h"

namespace quilmer {

namespace {

std::wstring Group(const boost::wsmatch& m, int index) {
    return Trim(std::wstring(m[index].first, m[index].second));
}

// Boost gives up on a match that backtracks too much with an exception (a long report of odd
// text can do that); such a field counts as not found rather than ending the probe.
bool Search(const std::wstring& text, const boost::wregex& expression, boost::wsmatch& m) {
    try {
        return boost::regex_search(text, m, expression);
    } catch (const std::exception&) {
        m = boost::wsmatch();
        return false;
    }
}

std::wstring ContainerWord(const std::wstring& names) {
    struct Rule {
        const wchar_t* needle;
        const wchar_t* word;
    };
    static const Rule rules[] = {{L"flv", L"flv"}, {L"rm", L"rmvb"},          {L"avi", L"avi"},
                                 {L"mp4", L"mp4"}, {L"wmv", L"wmv"},          {L"asf", L"wmv"},
                                 {L"mp3", L"mp3"}, {L"matroska", L"matroska"}};
    for (const Rule& r : rules) {
        if (names.find(r.needle) != std::wstring::npos) return r.word;
    }
    return {};
}

void ParseFrameRate(const std::wstring& text, std::wstring& frameRate) {
    // The whole rate is kept, fraction included ("29.97 fps"); reading only the digits after the
    // point would store 25.00 fps as "00 fps" and convert such a clip at 20 fps.
    static const boost::wregex expressions[] = {
        boost::wregex(L"\\s*([\\d]*(?:\\.[\\d]+)?)\\s*fps"),
        boost::wregex(L"framerate\\s*:\\s*([\\d]+(?:\\.[\\d]+)?)"),
        boost::wregex(L"->\\s([\\d]+\\.[\\d]*)"),
        boost::wregex(L"\\s*([\\d]*(?:\\.[\\d]+)?)\\s*tbr"),
    };
    for (const boost::wregex& e : expressions) {
        boost::wsmatch m;
        if (!Search(text, e, m)) continue;
        std::wstring rate = Group(m, 1);
        if (!rate.empty()) {
            if (rate.back() == L'.') rate.pop_back();
            frameRate = rate + L" fps";
        }
        return;
    }
}

}  // namespace

std::wstring EncoderTextToWide(std::string_view bytes) {
    // The encoder writes file names as the bytes they are; the same conversion as for paths keeps
    // them (and a character cut by a read) intact under any locale.
    return WidePath(bytes.substr(0, bytes.find('\0')));
}

std::map<std::size_t, std::string> SplitProbeReport(const std::string& report) {
    std::map<std::size_t, std::string> inputs;
    std::string* current = nullptr;
    std::size_t pos = 0;
    while (pos < report.size()) {
        std::size_t end = report.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = report.size();
        const std::string line = report.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("Input #", 0) == 0) {
            char* stop = nullptr;
            unsigned long index = std::strtoul(line.c_str() + 7, &stop, 10);
            current = stop != line.c_str() + 7 ? &inputs[index] : nullptr;
        } else if (line.empty() || (line[0] != ' ' && line[0] != '\t')) {
            current = nullptr;
        }
        if (current != nullptr) *current += line + "\n";
    }
    return inputs;
}

bool ParseProbeOutput(ClipProperties& record, const std::string& report) {
    std::wstring text = EncoderTextToWide(report);
    if (text.find(L"Invalid data found when processing input") != std::wstring::npos) return false;

    boost::wsmatch m;
    if (record.format.empty()) {
        static const boost::wregex input(L"Input #\\d+(.*)from");
        if (Search(text, input, m)) record.format = ContainerWord(std::wstring(m[1].first, m[1].second));
    }
    if (record.frameRate.empty()) ParseFrameRate(text, record.frameRate);
    if (record.duration.empty()) {
        static const boost::wregex duration(L"Duration:(.*), start:");
        if (Search(text, duration, m)) record.duration = Group(m, 1);
    }
    if (record.bitrate.empty()) {
        static const boost::wregex bitrate(L"bitrate:(.*?)(kb/s|N/A)");
        if (Search(text, bitrate, m)) {
            std::wstring value = Group(m, 1);
            if (!value.empty()) record.bitrate = value + L" kb/s";
        }
    }
    if (record.resolution.empty()) {
        static const boost::wregex video(L"Video:(.*?),(.*?),(.+?)(\\s|,)");
        if (Search(text, video, m)) {
            record.resolution = Group(m, 3) + L" pixels";
            if (record.videoCodec.empty()) record.videoCodec = Group(m, 1);
        }
    }
    if (record.audioCodec.empty()) {
        static const boost::wregex audioWithRate(L"Audio:(.+?),(.+?),(?:[\\w\\W]+?)([\\d]+)\\skb/s");
        static const boost::wregex audio(L"Audio:(.+?),(.+?),(?:[\\w\\W]+?)");
        if (Search(text, audioWithRate, m)) {
            record.audioCodec = Group(m, 1);
            std::wstring rate = Group(m, 2);
            if (!rate.empty() && record.sampleRate.empty()) record.sampleRate = rate;
            std::wstring kbps = Group(m, 3);
            if (!kbps.empty() && record.audioBitrate.empty()) record.audioBitrate = kbps + L" kb/s";
        } else if (Search(text, audio, m)) {
            record.audioCodec = Group(m, 1);
            std::wstring rate = Group(m, 2);
            if (!rate.empty() && record.sampleRate.empty()) record.sampleRate = rate;
        }
    }
    if (record.format == L"flv" && record.videoCodec == L"h264" && record.audioCodec == L"aac") {
        record.format = L"f4v";
    } else if (record.format == L"matroska" && record.videoCodec == L"vp8" &&
               record.audioCodec == L"vorbis") {
        record.format = L"WebM";
    }
    return true;
}

}  // namespace quilmer
