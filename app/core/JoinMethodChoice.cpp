#include "app/core/JoinMethodChoice.h"

#include "foundation/FileUtil.h"
#include "foundation/TextTranslator.h"

namespace quilmer {

namespace {

const wchar_t kSection[] = L"Config";
const wchar_t kKey[] = L"JoinMethod";
const wchar_t kChaptersKey[] = L"Chapters";

constexpr JoinMethod kShownOrder[] = {JoinMethod::Classic, JoinMethod::Lossless, JoinMethod::Single,
                                      JoinMethod::Auto, JoinMethod::Smart};

}  // namespace

std::vector<JoinMethodEntry> JoinMethodEntries() {
    return {
        {JoinMethod::Classic, Tr(L"Classic (convert each clip, then join)")},
        {JoinMethod::Lossless, Tr(L"Lossless (copy the streams, no re-encoding)")},
        {JoinMethod::Single, Tr(L"One pass (decode and encode once)")},
        {JoinMethod::Auto, Tr(L"Automatic (lossless when possible, else one pass)")},
        {JoinMethod::Smart, Tr(L"Smart (copy the matching clips, re-encode only the others)")},
    };
}

std::wstring JoinMethodLabel() { return Tr(L"Join method:"); }

int JoinMethodIndex(JoinMethod method) {
    for (int i = 0; i < static_cast<int>(std::size(kShownOrder)); ++i)
        if (kShownOrder[i] == method) return i;
    return 0;
}

JoinMethod JoinMethodAt(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kShownOrder))) return JoinMethod::Classic;
    return kShownOrder[index];
}

JoinMethod StoredJoinMethod(const SettingsStore& store) {
    std::wstring name = store.ReadString(kSection, kKey);
    return ParseJoinMethod(NativePath(name)).value_or(JoinMethod::Classic);
}

bool StoreJoinMethod(JoinMethod method, SettingsStore& store) {
    return store.WriteString(kSection, kKey, WidePath(JoinMethodName(method)));
}

std::wstring ChaptersLabel() { return Tr(L"A chapter per clip (MP4, WMV)"); }

bool StoredChapters(const SettingsStore& store) { return store.ReadInt(kSection, kChaptersKey, 1) != 0; }

bool StoreChapters(bool on, SettingsStore& store) { return store.WriteInt(kSection, kChaptersKey, on ? 1 : 0); }

JoinPlan PlanJoin(JoinMethod chosen, bool handedOver) {
    if (handedOver || chosen == JoinMethod::Classic) return {JoinEngine::Pipeline, JoinMethod::Classic};
    return {JoinEngine::Direct, chosen};
}

std::wstring JoinMethodShownName(const std::wstring& engineName) {
    auto method = ParseJoinMethod(NativePath(engineName));
    if (!method) return engineName;
    switch (*method) {
        case JoinMethod::Classic:
            return Tr(L"Classic");
        case JoinMethod::Lossless:
            return Tr(L"Lossless");
        case JoinMethod::Single:
            return Tr(L"One pass");
        case JoinMethod::Auto:
            return Tr(L"Automatic");
        case JoinMethod::Smart:
            return Tr(L"Smart");
    }
    return engineName;
}

std::wstring MethodChosenText(const std::wstring& engineName, const std::wstring& reason) {
    std::wstring text = JoinMethodShownName(engineName);
    if (!reason.empty()) text += L": " + reason;
    return text;
}

std::wstring DirectJoinStepText(JoinPhase phase, JoinMethod chosen) {
    switch (phase) {
        case JoinPhase::Probing:
            return Tr(L"Looking at the clips");
        case JoinPhase::CheckingResult:
            return Tr(L"Checking the output");
        default:
            break;
    }
    if (chosen == JoinMethod::Lossless) return Tr(L"Copying the streams (lossless)");
    if (chosen == JoinMethod::Single) return Tr(L"Encoding the output in one pass");
    if (chosen == JoinMethod::Smart) return Tr(L"Copying the matching clips, re-encoding the others");
    return Tr(L"Looking at the clips");  // nothing settled yet
}

}  // namespace quilmer
