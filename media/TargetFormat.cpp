#include "media/TargetFormat.h"

#include "foundation/Strings.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

namespace {

struct Group {
    const wchar_t* format;
    std::vector<const wchar_t*> extensions;
};

const std::vector<Group>& Groups() {
    static const std::vector<Group> groups = {
        {L"flv", {L".flv", L".hlv", L".f4v", L".flx", L".fmv"}},
        {L"rmvb", {L".rmvb", L".rm"}},
        {L"mp4", {L".mp4", L".3gp", L".mov"}},
        {L"avi", {L".avi"}},
        {L"wmv", {L".wmv", L".wma", L".asf"}},
    };
    return groups;
}

// Descriptions are visible texts, so each passes through the translator as a literal.
FileFilter Filter(const std::wstring& word) {
    if (word == L"flv") return {L"*.flv", Tr(L"Flv Files (*.flv)")};
    if (word == L"mp4") return {L"*.mp4", Tr(L"Mp4 Files (*.mp4)")};
    if (word == L"avi") return {L"*.avi", Tr(L"Avi Files (*.avi)")};
    if (word == L"wmv") return {L"*.wmv", Tr(L"Wmv Files (*.wmv)")};
    return {L"*.rmvb", Tr(L"Rmvb Files (*.rmvb)")};
}

}  // namespace

TargetFormat TargetFormatForPath(const std::wstring& path) {
    for (const Group& g : Groups()) {
        for (const wchar_t* ext : g.extensions) {
            if (EndsWithNoCase(path, ext)) return g.format;
        }
    }
    return {};
}

std::vector<FileFilter> SaveDialogFilters(const std::wstring& firstClipPath) {
    const TargetFormat group = TargetFormatForPath(firstClipPath);
    std::vector<const wchar_t*> order;
    if (group == L"mp4") {
        order = {L"mp4", L"flv", L"avi", L"wmv", L"rmvb"};
    } else if (group == L"avi") {
        order = {L"avi", L"flv", L"mp4", L"wmv", L"rmvb"};
    } else if (group == L"wmv") {
        order = {L"wmv", L"avi", L"flv", L"mp4", L"rmvb"};
    } else if (group == L"rmvb") {
        order = {L"rmvb", L"wmv", L"avi", L"flv", L"mp4"};
    } else {
        order = {L"flv", L"mp4", L"avi", L"wmv", L"rmvb"};
    }
    std::vector<FileFilter> filters;
    for (const wchar_t* w : order) filters.push_back(Filter(w));
    filters.push_back({L"*.*", Tr(L"All Files (*.*)")});
    return filters;
}

int MapSampleRate(int sampleRateHz) {
    if (sampleRateHz > 44100) return 44100;
    if (sampleRateHz > 22050) return 22050;
    return 11025;
}

}  // namespace quilmer
