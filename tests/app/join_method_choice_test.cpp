#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "../support/ScratchFolder.h"
#include "app/core/JoinMethodChoice.h"
#include "foundation/TextTranslator.h"

namespace quilmer {
namespace {

constexpr JoinMethod kAll[] = {JoinMethod::Classic, JoinMethod::Lossless, JoinMethod::Single,
                               JoinMethod::Auto, JoinMethod::Smart};

class StoredMethod : public ::testing::Test {
protected:
    test::ScratchFolder folder_;
    SettingsStore store_{folder_.Wide("settings.json")};
};

TEST_F(StoredMethod, IsKeptByNameAndReadBackForEveryMethod) {
    EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Classic) << "nothing stored yet";
    for (JoinMethod method : kAll) {
        ASSERT_TRUE(StoreJoinMethod(method, store_));
        EXPECT_EQ(StoredJoinMethod(store_), method) << JoinMethodName(method);
        // Other programs and people read the name, not a number.
        EXPECT_EQ(store_.ReadString(L"Config", L"JoinMethod"), WidePath(JoinMethodName(method)));
    }
}

TEST_F(StoredMethod, AnythingButAMethodNameReadsAsClassic) {
    for (const wchar_t* garbage : {L"", L"fast", L"Lossless", L" auto", L"single\n", L"lossless;rm -rf"}) {
        ASSERT_TRUE(store_.WriteString(L"Config", L"JoinMethod", std::wstring(garbage)));
        EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Classic) << WidePath("") + garbage;
    }
    ASSERT_TRUE(store_.WriteInt(L"Config", L"JoinMethod", 1));
    EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Classic) << "a number";
    ASSERT_TRUE(store_.WriteBytes(L"Config", L"JoinMethod", ByteList{'a', 'u', 't', 'o'}));
    EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Classic) << "bytes";

    // A damaged settings file: classic, and the next choice is stored again.
    std::ofstream(folder_.File("settings.json"), std::ios::trunc) << "{\"Config\": {\"JoinMethod\": \"auto\"";
    EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Classic);
    ASSERT_TRUE(StoreJoinMethod(JoinMethod::Lossless, store_));
    EXPECT_EQ(StoredJoinMethod(store_), JoinMethod::Lossless);
}

TEST_F(StoredMethod, OtherSettingsSurviveAChoice) {
    ASSERT_TRUE(store_.WriteString(L"Config", L"SaveTo", L"/videos"));
    ASSERT_TRUE(StoreJoinMethod(JoinMethod::Auto, store_));
    EXPECT_EQ(store_.ReadString(L"Config", L"SaveTo"), L"/videos");
}

TEST(JoinMethodList, OffersEachMethodOnceAndMapsPositionsBothWays) {
    const auto entries = JoinMethodEntries();
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries.front().method, JoinMethod::Classic) << "the default comes first";
    std::set<JoinMethod> methods;
    std::set<std::wstring> labels;
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        methods.insert(entries[i].method);
        labels.insert(entries[i].label);
        EXPECT_EQ(JoinMethodAt(i), entries[i].method);
        EXPECT_EQ(JoinMethodIndex(entries[i].method), i);
    }
    EXPECT_EQ(methods.size(), 5u);
    EXPECT_EQ(labels.size(), 5u);
    EXPECT_TRUE(methods.count(JoinMethod::Smart)) << "the smart join is offered";
    // No selection (wxNOT_FOUND) or a position past the end: the default.
    EXPECT_EQ(JoinMethodAt(-1), JoinMethod::Classic);
    EXPECT_EQ(JoinMethodAt(5), JoinMethod::Classic);
}

TEST(JoinMethodList, LabelsAndStatusTextsAreTranslated) {
    TextTranslatorFn previous =
        SetTextTranslator([](const std::wstring& english) { return L"<" + english + L">"; });
    for (const auto& entry : JoinMethodEntries()) EXPECT_EQ(entry.label.front(), L'<') << entry.label;
    EXPECT_EQ(JoinMethodLabel(), L"<Join method:>");
    EXPECT_EQ(MethodChosenText(L"lossless", L"<all 2 clips share h264>"),
              L"<Lossless>: <all 2 clips share h264>");
    EXPECT_EQ(DirectJoinStepText(JoinPhase::Concatenating, JoinMethod::Lossless),
              L"<Copying the streams (lossless)>");
    SetTextTranslator(previous);
}

TEST(JoinPlan, HandedOverJobsJoinClassicWhateverTheUserChose) {
    for (JoinMethod chosen : kAll) {
        EXPECT_EQ(PlanJoin(chosen, true), (JoinPlan{JoinEngine::Pipeline, JoinMethod::Classic}))
            << JoinMethodName(chosen);
    }
    EXPECT_EQ(PlanJoin(JoinMethod::Classic, false), (JoinPlan{JoinEngine::Pipeline, JoinMethod::Classic}));
    for (JoinMethod chosen : {JoinMethod::Lossless, JoinMethod::Single, JoinMethod::Auto, JoinMethod::Smart})
        EXPECT_EQ(PlanJoin(chosen, false), (JoinPlan{JoinEngine::Direct, chosen})) << JoinMethodName(chosen);
}

TEST(DirectJoinTexts, NameTheStepAndTheSettledMethod) {
    EXPECT_EQ(DirectJoinStepText(JoinPhase::Probing, JoinMethod::Auto), L"Looking at the clips");
    EXPECT_EQ(DirectJoinStepText(JoinPhase::Concatenating, JoinMethod::Lossless),
              L"Copying the streams (lossless)");
    // A one-pass join reports the target's encode phase, mp4 included.
    EXPECT_EQ(DirectJoinStepText(JoinPhase::EncodingMp4Pass2, JoinMethod::Single),
              L"Encoding the output in one pass");
    EXPECT_EQ(DirectJoinStepText(JoinPhase::EncodingFlv, JoinMethod::Single),
              L"Encoding the output in one pass");
    EXPECT_EQ(DirectJoinStepText(JoinPhase::CheckingResult, JoinMethod::Lossless), L"Checking the output");
    EXPECT_EQ(MethodChosenText(L"single", L"as asked"), L"One pass: as asked");
    EXPECT_EQ(MethodChosenText(L"lossless", L""), L"Lossless");
    EXPECT_EQ(MethodChosenText(L"smart", L"1 of 2 clips copied"), L"Smart: 1 of 2 clips copied");
    EXPECT_EQ(DirectJoinStepText(JoinPhase::EncodingMp4Pass2, JoinMethod::Smart),
              L"Copying the matching clips, re-encoding the others");
    EXPECT_EQ(MethodChosenText(L"newfangled", L"why"), L"newfangled: why")
        << "an unknown name is shown as it is";
}

}  // namespace
}  // namespace quilmer
