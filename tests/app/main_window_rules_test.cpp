#include <gtest/gtest.h>

#include <cstdlib>

#include "../support/ScratchFolder.h"
#include "app/core/MainWindowRules.h"
#include "app/core/Startup.h"

namespace quilmer {
namespace {

TEST(SaveDialog, ProposesTheFirstTitleWithAllAndCompletesBareNames) {
    EXPECT_EQ(DefaultOutputName(L"/v/holiday part 1.flv"), L"holiday part 1_all");
    EXPECT_EQ(CompleteOutputPath(L"/v/out", L"*.mp4"), L"/v/out.mp4");
    EXPECT_EQ(CompleteOutputPath(L"/v/out", L"*.*"), L"/v/out.flv");
    EXPECT_EQ(CompleteOutputPath(L"/v/out.wma", L"*.mp4"), L"/v/out.wma");  // typed extensions win
    EXPECT_EQ(TargetFormatForPath(CompleteOutputPath(L"/v/out.wma", L"*.mp4")), L"wmv");
    EXPECT_EQ(CompleteOutputPath(L"", L"*.mp4"), L"");
}

TEST(SaveDialog, OnlyKnownFirstClipTypesChooseTheOrder) {
    EXPECT_TRUE(FirstClipChoosesFilters(L"/v/a.3GP"));
    EXPECT_TRUE(FirstClipChoosesFilters(L"/v/a.rm"));
    EXPECT_FALSE(FirstClipChoosesFilters(L"/v/a.mkv"));
    EXPECT_FALSE(FirstClipChoosesFilters(L"/v/noextension"));
    EXPECT_EQ(SaveDialogFilters(L"/v/a.3gp").front().pattern, L"*.mp4");
    EXPECT_EQ(AddDialogFilters().front().pattern, L"*.*");
    EXPECT_EQ(AddDialogFilters().size(), 5u);
}

TEST(Startup, JsonIsAHandOverAndEverythingElseAClip) {
    test::ScratchFolder folder;
    std::wstring dir = folder.Wide();
    StartupRequest request = ParseStartup({L"a.flv", L"/abs/b.mp4", L"-x", L"{#VideoClipsPath#:[]}"}, dir);
    EXPECT_EQ(request.clips, (std::vector<std::wstring>{dir + L"a.flv", L"/abs/b.mp4"}));
    EXPECT_TRUE(IsHandOverArgument(request.argument));

    // A clip whose name begins with "-" is still a clip when it exists.
    std::system(("touch '" + folder.Native("-dash.flv") + "'").c_str());
    request = ParseStartup({L"-dash.flv"}, dir);
    EXPECT_EQ(request.clips, (std::vector<std::wstring>{dir + L"-dash.flv"}));
    EXPECT_FALSE(IsHandOverArgument(request.argument));

    request = ParseStartup({L"{#OutputPath#:#/v/o.mp4#}"}, dir);
    EXPECT_TRUE(request.clips.empty());
    EXPECT_EQ(request.argument, L"{#OutputPath#:#/v/o.mp4#}");
    EXPECT_TRUE(ParseStartup({}, dir).argument.empty());
}

TEST(Addresses, StayOnTheMakersSiteAndEscapeTheLanguage) {
    unsetenv("QUILMER_SITE_URL");
    EXPECT_EQ(SiteLinkAddress(L"English"), L"http://www.corvane.example/");
    EXPECT_NE(SiteLinkAddress(L"Chinese Simplified"), SiteLinkAddress(L"English"));
    EXPECT_EQ(SiteLinkTarget(L"Chinese Simplified"),
              SiteLinkAddress(L"Chinese Simplified") + L"?lang=Chinese%20Simplified");
}

TEST(JoinStatus, NamesTheStepAndTheTimeLeft) {
    JoinState state;
    state.clips = {L"/a", L"/b", L"/c"};
    state.phase = JoinPhase::Probing;
    state.nextClipIndex = 0;
    EXPECT_EQ(JoinStepText(state), L"Converting clip 1 of 3");
    state.phase = JoinPhase::Converting;
    state.nextClipIndex = 3;
    EXPECT_EQ(JoinStepText(state), L"Converting clip 3 of 3");
    state.phase = JoinPhase::Concatenating;
    EXPECT_EQ(JoinStepText(state), L"Joining the converted clips");
    state.phase = JoinPhase::EncodingMp4Pass2;
    EXPECT_EQ(JoinStepText(state), L"Encoding the output, pass 2 of 2");
    state.phase = JoinPhase::EncodingWmv;
    EXPECT_EQ(JoinStepText(state), L"Encoding the output");

    EXPECT_EQ(TimeLeftText(-1), L"");
    EXPECT_EQ(TimeLeftText(60.2), L"About 1:00 left");
}

}  // namespace
}  // namespace quilmer
