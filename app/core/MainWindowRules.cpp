#include "app/core/MainWindowRules.h"

#include <algorithm>

#include "app/core/HandOver.h"
#include "foundation/Exceptions.h"
#include "foundation/PathName.h"
#include "foundation/SiteAddresses.h"
#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"
#include "foundation/Utf8.h"
#include "media/TimeLeft.h"
#include "media/join/JoinReport.h"

namespace quilmer {

namespace {

std::wstring Escaped(const std::wstring& text) { return FromUtf8(EscapeUrl(ToUtf8(text))); }

std::wstring ExtensionOf(const std::wstring& path) {
    try {
        return CPathName(path).Extension();
    } catch (const CZ4RException&) {
        return {};
    }
}

}  // namespace

std::vector<FileFilter> AddDialogFilters() {
    return {
        {L"*.*", Tr(L"All Files (*.*)")},        {L"*.flv;*.f4v", Tr(L"FLV Files (*.flv;*.f4v)")},
        {L"*.mp4", Tr(L"MP4 Files (*.mp4)")},    {L"*.wmv", Tr(L"WMV Files (*.wmv)")},
        {L"*.rmvb", Tr(L"RMVB Files (*.rmvb)")},
    };
}

std::wstring DefaultOutputName(const std::wstring& firstClipPath) {
    try {
        return CPathName(firstClipPath).Title() + L"_all";
    } catch (const CZ4RException&) {
        return L"_all";
    }
}

std::wstring CompleteOutputPath(const std::wstring& chosenPath, const std::wstring& filterPattern) {
    if (chosenPath.empty() || !ExtensionOf(chosenPath).empty()) return chosenPath;
    std::wstring extension = L".flv";
    if (StartsWithNoCase(filterPattern, L"*.") && filterPattern != L"*.*" &&
        filterPattern.find(L';') == std::wstring::npos)
        extension = filterPattern.substr(1);
    return chosenPath + extension;
}

bool FirstClipChoosesFilters(const std::wstring& firstClipPath) {
    static const wchar_t* const kKnown[] = {L".flv", L".hlv", L".f4v", L".flx", L".fmv", L".rmvb", L".rm",
                                            L".mp4", L".3gp", L".mov", L".avi", L".wmv", L".wma",  L".asf"};
    std::wstring extension = ExtensionOf(firstClipPath);
    for (const wchar_t* known : kKnown)
        if (EqualsNoCase(extension, known)) return true;
    return false;
}

bool IsHandOverArgument(const std::wstring& argument) {
    return ClassifyStartupArgument(argument) == StartupKind::Job;
}

std::vector<std::wstring> ClipPathsFromArguments(const std::vector<std::wstring>& arguments,
                                                 const std::wstring& currentFolder) {
    std::vector<std::wstring> paths;
    for (const auto& argument : arguments) {
        if (argument.empty() || IsHandOverArgument(argument)) continue;
        paths.push_back(argument[0] == L'/' ? argument : currentFolder + argument);
    }
    return paths;
}

std::wstring SiteLinkAddress(const std::wstring& language) {
    return SiteBaseAddress() + (language == L"Chinese Simplified" ? L"/cn/" : L"/");
}

std::wstring SiteLinkTarget(const std::wstring& language) {
    return SiteLinkAddress(language) + L"?lang=" + Escaped(language);
}

std::wstring ContactAddress() { return L"support@corvane.example"; }

std::wstring JoinStepText(const JoinState& state) {
    const auto count = static_cast<int>(state.clips.size());
    switch (state.phase) {
        case JoinPhase::Probing:  // the clip is still at the front of the queue
            return FormatW(TrFormat(L"Converting clip %d of %d").c_str(),
                           std::min(static_cast<int>(state.nextClipIndex) + 1, count), count);
        case JoinPhase::Converting:
            return FormatW(TrFormat(L"Converting clip %d of %d").c_str(), static_cast<int>(state.nextClipIndex),
                           count);
        case JoinPhase::Concatenating:
            return Tr(L"Joining the converted clips");
        case JoinPhase::EncodingMp4Pass1:
            return FormatW(TrFormat(L"Encoding the output, pass %d of %d").c_str(), 1, 2);
        case JoinPhase::EncodingMp4Pass2:
            return FormatW(TrFormat(L"Encoding the output, pass %d of %d").c_str(), 2, 2);
        default:
            return Tr(L"Encoding the output");
    }
}

std::wstring TimeLeftText(double secondsLeft) {
    if (secondsLeft < 0) return {};
    return FormatW(TrFormat(L"About %s left").c_str(), FromUtf8(FormatClock(secondsLeft)).c_str());
}

}  // namespace quilmer
