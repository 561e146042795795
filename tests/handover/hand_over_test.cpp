// Reading a handed-over job: the "#" quoting, the six members, the clips in order, and what a
// broken job leaves.

#include <gtest/gtest.h>
#include <unistd.h>

#include "app/core/HandOver.h"
#include "foundation/FileUtil.h"

namespace quilmer {
namespace {

std::wstring Hashed(std::wstring json) {
    for (auto& c : json)
        if (c == L'"') c = L'#';
    return json;
}

bool Names(const std::vector<std::wstring>& problems, const std::wstring& part) {
    for (const auto& p : problems)
        if (p.find(part) != std::wstring::npos) return true;
    return false;
}

TEST(HandOver, WhatIsAJob) {
    EXPECT_EQ(ClassifyStartupArgument(L""), StartupKind::None);
    EXPECT_EQ(ClassifyStartupArgument(L"{#VideoClipsPath#:[]}"), StartupKind::Job);
    EXPECT_EQ(ClassifyStartupArgument(L"{broken"), StartupKind::Job);
    EXPECT_EQ(ClassifyStartupArgument(L"/home/u/{a}.flv"), StartupKind::ClipPath);
    // Blanks before the text, or a JSON array: jobs, which are told broken instead of ignored.
    EXPECT_EQ(ClassifyStartupArgument(L" {#a#:1}"), StartupKind::Job);
    EXPECT_EQ(ClassifyStartupArgument(L"[#/v/a.flv#,#/v/b.flv#]"), StartupKind::Job);
    EXPECT_EQ(ClassifyStartupArgument(L"[2019] holiday.mp4"), StartupKind::ClipPath);
    EXPECT_TRUE(Names(ParseHandOver(L"[#/v/a.flv#]").problems, L"not a JSON object"));
    EXPECT_TRUE(Names(ParseHandOver(L"  {#VideoClipsPath#:[]}").problems, L"VideoClipsPath"));
}

TEST(HandOver, ReadsTheSixMembersAndTheClipsInOrder) {
    std::wstring argument = Hashed(
        LR"({"VideoClipsPath": ["/v/b clip.flv", "/v/\u00e9t\u00e9 \u65e5.MP4", "rel/a.wmv", "/v/q\"uote.rmvb"],)"
        LR"( "OutputPath": "/out/joined file.mp4", "AppMainWndClassName": "Caller Window",)"
        LR"( "AppUserMsg": "UWM_Done", "CurLangName": "Chinese Simplified", "FlvUrl": "http://x.example/v?id=1&a=b"})");
    HandOverJob job = ParseHandOver(argument);
    ASSERT_TRUE(job.Runnable()) << NativePath(job.Message());
    EXPECT_EQ(job.Message(), L"");
    ASSERT_EQ(job.clips.size(), 4u);
    EXPECT_EQ(job.clips[0].displayName, L"b clip.flv");
    EXPECT_EQ(job.clips[0].path, L"/v/b clip.flv");
    EXPECT_EQ(job.clips[1].displayName, L"\u00e9t\u00e9 \u65e5.MP4");
    EXPECT_EQ(job.clips[2].path, L"rel/a.wmv");  // unchanged text, not made absolute
    EXPECT_EQ(job.clips[2].displayName, L"a.wmv");
    EXPECT_EQ(job.clips[3].path, L"/v/q\"uote.rmvb");
    EXPECT_EQ(job.outputPath, L"/out/joined file.mp4");
    EXPECT_EQ(job.callerWindowClass, L"Caller Window");
    EXPECT_EQ(job.callerMessageName, L"UWM_Done");
    EXPECT_EQ(job.languageName, L"Chinese Simplified");
    EXPECT_EQ(job.sourceUrl, L"http://x.example/v?id=1&a=b");

    JoinState state;
    ApplyHandOver(job, state);
    EXPECT_TRUE(state.handedOver);
    EXPECT_EQ(state.outputPath, job.outputPath);
    EXPECT_EQ(state.sourceUrl, job.sourceUrl);
    EXPECT_EQ(state.callerWindowClass, L"Caller Window");
    EXPECT_EQ(state.callerMessageName, L"UWM_Done");
    EXPECT_EQ(state.languageName, L"Chinese Simplified");
}

TEST(HandOver, BuiltArgumentsCarryQuotesHashesAndAnyLetters) {
    std::vector<std::wstring> clips{L"/v/it's \"quoted\" #1.flv", L"/v/\u0416\u00fc\u4e2d [x].mov"};
    std::wstring argument = BuildHandOverArgument(clips, L"/o/a#b.avi", L"Cls \"1\"", L"UWM_#", L"French",
                                                  L"http://x.example/a b?c=\"d\"#frag");
    ASSERT_FALSE(argument.empty());
    EXPECT_EQ(argument.find(L'"'), std::wstring::npos);  // survives as one token on any system
    HandOverJob job = ParseHandOver(argument);
    ASSERT_TRUE(job.Runnable()) << NativePath(job.Message());
    ASSERT_EQ(job.clips.size(), 2u);
    EXPECT_EQ(job.clips[0].path, clips[0]);
    EXPECT_EQ(job.clips[0].displayName, L"it's \"quoted\" #1.flv");
    EXPECT_EQ(job.clips[1].path, clips[1]);
    EXPECT_EQ(job.outputPath, L"/o/a#b.avi");
    EXPECT_EQ(job.callerWindowClass, L"Cls \"1\"");
    EXPECT_EQ(job.callerMessageName, L"UWM_#");
    EXPECT_EQ(job.sourceUrl, L"http://x.example/a b?c=\"d\"#frag");

    // Bytes that are not UTF-8 cannot travel in JSON: no job is built rather than a wrong one.
    EXPECT_EQ(BuildHandOverArgument({WidePath("/v/\xff.flv")}, L"/o/x.avi", L"c", L"m", L"", L""), L"");
}

TEST(HandOver, BrokenJobsNameTheProblemAndKeepTheUsableClips) {
    JoinState state;
    HandOverJob notJson = ParseHandOver(L"{#VideoClipsPath#: [#/a.flv#");
    EXPECT_FALSE(notJson.Runnable());
    EXPECT_TRUE(notJson.clips.empty());
    EXPECT_TRUE(Names(notJson.problems, L"not valid JSON"));
    EXPECT_NE(notJson.Message().find(L"cannot be run"), std::wstring::npos);

    HandOverJob notUtf8 = ParseHandOver(WidePath("{\"VideoClipsPath\": [\"/a\xff.flv\"]}"));
    EXPECT_TRUE(Names(notUtf8.problems, L"not valid JSON"));

    EXPECT_TRUE(Names(ParseHandOver(L"{}x").problems, L"not valid JSON"));

    // Clips kept in order around the bad entries; missing and mistyped members each named.
    HandOverJob partial = ParseHandOver(
        Hashed(LR"({"VideoClipsPath": ["/v/a.flv", 7, "", "/v/b.flv", "/v/"], "AppMainWndClassName": 3,)"
               LR"( "AppUserMsg": "m", "CurLangName": "English", "FlvUrl": "u"})"));
    EXPECT_FALSE(partial.Runnable());
    ASSERT_EQ(partial.clips.size(), 2u);
    EXPECT_EQ(partial.clips[0].path, L"/v/a.flv");
    EXPECT_EQ(partial.clips[1].path, L"/v/b.flv");
    EXPECT_TRUE(Names(partial.problems, L"Clip 2 is not a text"));
    EXPECT_TRUE(Names(partial.problems, L"Clip 3 is not a usable file path"));
    EXPECT_TRUE(Names(partial.problems, L"Clip 5 is not a usable file path"));
    EXPECT_TRUE(Names(partial.problems, L"\"OutputPath\" is missing"));
    EXPECT_TRUE(Names(partial.problems, L"\"AppMainWndClassName\" is not a text"));
    EXPECT_EQ(partial.problems.size(), 5u);
    ApplyHandOver(partial, state);
    EXPECT_FALSE(state.handedOver);  // runs as if the user had started it
    EXPECT_TRUE(state.outputPath.empty());

    HandOverJob emptyList = ParseHandOver(Hashed(
        LR"({"VideoClipsPath": [], "OutputPath": "/o.avi", "AppMainWndClassName": "c", "AppUserMsg": "m",)"
        LR"( "CurLangName": "", "FlvUrl": ""})"));
    EXPECT_EQ(emptyList.problems.size(), 1u);
    EXPECT_TRUE(Names(emptyList.problems, L"\"VideoClipsPath\" is empty"));

    HandOverJob listIsText = ParseHandOver(Hashed(
        LR"({"VideoClipsPath": "/v/a.flv", "OutputPath": "", "AppMainWndClassName": "c", "AppUserMsg": "m",)"
        LR"( "CurLangName": "", "FlvUrl": ""})"));
    EXPECT_TRUE(Names(listIsText.problems, L"\"VideoClipsPath\" is not a list of texts"));
    EXPECT_TRUE(Names(listIsText.problems, L"\"OutputPath\" is empty"));
    EXPECT_TRUE(listIsText.clips.empty());

    EXPECT_TRUE(Names(ParseHandOver(L"{[1,2]").problems, L"not valid JSON"));

    // A NUL inside a path cannot name a file.
    HandOverJob nul = ParseHandOver(Hashed(
        LR"({"VideoClipsPath": ["/v/a\u0000b.flv", "/v/c.flv"], "OutputPath": "/o.avi", "AppMainWndClassName": "c",)"
        LR"( "AppUserMsg": "m", "CurLangName": "", "FlvUrl": ""})"));
    EXPECT_TRUE(Names(nul.problems, L"Clip 1 is not a usable file path"));
    ASSERT_EQ(nul.clips.size(), 1u);
    EXPECT_EQ(nul.clips[0].path, L"/v/c.flv");
}

// "\u0000" in a job: the system would take "/v/evil\0.mp4" as "/v/evil", so the join would write
// a file the caller never named. Any text member holding a NUL makes the job a broken one.
TEST(HandOver, TextsHoldingANulAreRefused) {
    const std::wstring members = LR"(, "AppMainWndClassName": "C", "AppUserMsg": "M", "CurLangName": "English")";
    HandOverJob evil = ParseHandOver(Hashed(LR"({"VideoClipsPath": ["/v/a.flv", "/v/b.flv"], )"
                                            LR"("OutputPath": "/v/evil\u0000.mp4", "FlvUrl": "u")" +
                                            members + L"}"));
    EXPECT_FALSE(evil.Runnable());
    EXPECT_TRUE(Names(evil.problems, L"\"OutputPath\" holds a NUL")) << evil.Message();
    JoinState state;
    ApplyHandOver(evil, state);
    EXPECT_FALSE(state.handedOver);
    EXPECT_TRUE(state.outputPath.empty());

    HandOverJob url = ParseHandOver(Hashed(LR"({"VideoClipsPath": ["/v/a.flv", "/v/b.flv"], )"
                                           LR"("OutputPath": "/v/out.mp4", "FlvUrl": "a\u0000b")" +
                                           members + L"}"));
    EXPECT_TRUE(Names(url.problems, L"\"FlvUrl\" holds a NUL"));
    HandOverJob clip = ParseHandOver(Hashed(LR"({"VideoClipsPath": ["/v/a\u0000.flv", "/v/b.flv"], )"
                                            LR"("OutputPath": "/v/out.mp4", "FlvUrl": "u")" +
                                            members + L"}"));
    EXPECT_FALSE(clip.Runnable());
    EXPECT_EQ(clip.clips.size(), 1u);
}

TEST(HandOver, OneClipIsAJobThatRuns) {
    // The join it asks for finds too few clips and does nothing; that is the window's business.
    HandOverJob job = ParseHandOver(
        Hashed(LR"({"VideoClipsPath": ["/v/only.flv"], "OutputPath": "/o.avi", "AppMainWndClassName": "c",)"
               LR"( "AppUserMsg": "m", "CurLangName": "English", "FlvUrl": "", "Extra": {"x": 1}})"));
    EXPECT_TRUE(job.Runnable());
    EXPECT_EQ(job.clips.size(), 1u);
}

}  // namespace
}  // namespace quilmer
