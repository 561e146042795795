#include "app/core/HandOver.h"

#include <nlohmann/json.hpp>

#include "foundation/Exceptions.h"
#include "foundation/FileUtil.h"
#include "foundation/PathName.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"

namespace quilmer {

namespace {

using json = nlohmann::json;

std::wstring Member(const char* name) { return L"\"" + FromUtf8(name) + L"\""; }

// A string member; problems are noted, the value is empty then.
std::wstring TextMember(const json& job, const char* name, std::vector<std::wstring>& problems,
                        bool mustHaveText = false) {
    auto it = job.find(name);
    if (it == job.end()) {
        problems.push_back(FormatW(TrFormat(L"The member %s is missing.").c_str(), Member(name).c_str()));
        return {};
    }
    if (!it->is_string()) {
        problems.push_back(FormatW(TrFormat(L"The member %s is not a text.").c_str(), Member(name).c_str()));
        return {};
    }
    std::wstring value = WidePath(it->get_ref<const std::string&>());
    // JSON can carry "\u0000"; the system would cut a name there, and the join would go elsewhere.
    if (value.find(L'\0') != std::wstring::npos) {
        problems.push_back(FormatW(TrFormat(L"The member %s holds a NUL character.").c_str(), Member(name).c_str()));
        return {};
    }
    if (mustHaveText && value.empty())
        problems.push_back(FormatW(TrFormat(L"The member %s is empty.").c_str(), Member(name).c_str()));
    return value;
}

void ReadClips(const json& job, HandOverJob& result) {
    auto it = job.find("VideoClipsPath");
    if (it == job.end()) {
        result.problems.push_back(
            FormatW(TrFormat(L"The member %s is missing.").c_str(), Member("VideoClipsPath").c_str()));
        return;
    }
    if (!it->is_array()) {
        result.problems.push_back(
            FormatW(TrFormat(L"The member %s is not a list of texts.").c_str(), Member("VideoClipsPath").c_str()));
        return;
    }
    if (it->empty()) {
        result.problems.push_back(
            FormatW(TrFormat(L"The member %s is empty.").c_str(), Member("VideoClipsPath").c_str()));
        return;
    }
    int number = 0;
    for (const json& element : *it) {
        ++number;
        if (!element.is_string()) {
            result.problems.push_back(FormatW(TrFormat(L"Clip %d is not a text.").c_str(), number));
            continue;
        }
        std::wstring path = WidePath(element.get_ref<const std::string&>());
        std::wstring name;
        try {
            name = CPathName(path).Name();
        } catch (const CZ4RException&) {
            name.clear();
        }
        if (name.empty()) {
            result.problems.push_back(FormatW(TrFormat(L"Clip %d is not a usable file path.").c_str(), number));
            continue;
        }
        result.clips.push_back({name, path});
    }
}

}  // namespace

std::wstring HandOverJob::Message() const {
    if (problems.empty()) return {};
    std::wstring text = Tr(L"The job handed over by the calling program cannot be run:");
    for (const auto& problem : problems) text += L"\n" + problem;
    return text;
}

StartupKind ClassifyStartupArgument(const std::wstring& argument) {
    if (argument.empty()) return StartupKind::None;
    // Blanks before the JSON text do not make it a clip; nor does JSON of the wrong shape (an
    // array): both are jobs, broken ones when they are not objects, and the user is told so.
    std::size_t first = argument.find_first_not_of(L" \t\r\n");
    if (first == std::wstring::npos) return StartupKind::ClipPath;
    if (argument[first] == L'{') return StartupKind::Job;
    if (argument[first] == L'[') {
        // A clip may well be named "[2019] holiday.mp4"; only text that is JSON is a job.
        std::string text = NativePath(argument);
        ReplaceAll(text, "#", "\"");
        if (json::accept(text)) return StartupKind::Job;
    }
    return StartupKind::ClipPath;
}

HandOverJob ParseHandOver(const std::wstring& argument) {
    HandOverJob result;
    std::wstring text = argument;
    ReplaceAll(text, L"#", L"\"");
    json job;
    try {
        // NativePath gives back the argument's bytes exactly; the parser insists on UTF-8.
        job = json::parse(NativePath(text));
    } catch (const json::parse_error& e) {
        result.problems.push_back(FormatW(TrFormat(L"It is not valid JSON text (the error is at byte %d).").c_str(),
                                          static_cast<int>(e.byte)));
        return result;
    } catch (const json::exception&) {
        result.problems.push_back(
            FormatW(TrFormat(L"It is not valid JSON text (the error is at byte %d).").c_str(), 0));
        return result;
    }
    if (!job.is_object()) {
        result.problems.push_back(Tr(L"It is not a JSON object."));
        return result;
    }
    ReadClips(job, result);
    result.outputPath = TextMember(job, "OutputPath", result.problems, true);
    result.callerWindowClass = TextMember(job, "AppMainWndClassName", result.problems);
    result.callerMessageName = TextMember(job, "AppUserMsg", result.problems);
    result.languageName = TextMember(job, "CurLangName", result.problems);
    result.sourceUrl = TextMember(job, "FlvUrl", result.problems);
    return result;
}

void ApplyHandOver(const HandOverJob& job, JoinState& state) {
    if (!job.Runnable()) return;
    state.handedOver = true;
    state.outputPath = job.outputPath;
    state.sourceUrl = job.sourceUrl;
    state.callerWindowClass = job.callerWindowClass;
    state.callerMessageName = job.callerMessageName;
    state.languageName = job.languageName;
}

std::wstring BuildHandOverArgument(const std::vector<std::wstring>& clips, const std::wstring& outputPath,
                                   const std::wstring& callerWindowClass,
                                   const std::wstring& callerMessageName, const std::wstring& languageName,
                                   const std::wstring& sourceUrl) {
    bool ok = true;
    auto text = [&ok](const std::wstring& wide) {
        std::string bytes = NativePath(wide);
        if (!IsValidUtf8(bytes)) ok = false;
        return bytes;
    };
    json job = json::object();
    json list = json::array();
    for (const auto& clip : clips) list.push_back(text(clip));
    job["VideoClipsPath"] = std::move(list);
    job["OutputPath"] = text(outputPath);
    job["AppMainWndClassName"] = text(callerWindowClass);
    job["AppUserMsg"] = text(callerMessageName);
    job["CurLangName"] = text(languageName);
    job["FlvUrl"] = text(sourceUrl);
    if (!ok) return {};
    std::string dumped = job.dump();
    // Outside strings JSON has no "#", so every one here is inside a string.
    ReplaceAll(dumped, "#", "\\u0023");
    ReplaceAll(dumped, "\"", "#");
    return WidePath(dumped);
}

}  // namespace quilmer
