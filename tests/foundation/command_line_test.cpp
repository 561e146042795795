#include "foundation/CommandLine.h"

#include <gtest/gtest.h>

using namespace quilmer;
using Tokens = std::vector<std::wstring>;

TEST(CommandLine, SplitsQuotedAndPlainTokens) {
    EXPECT_EQ(CommandLine::SplitCommandLine(L"\"C:/p q/app\" abc"), (Tokens{L"C:/p q/app", L"abc"}));
    EXPECT_EQ(CommandLine::SplitCommandLine(L"app \t\"a b c\"  a\"b\""), (Tokens{L"app", L"a b c", L"a\"b\""}));
    EXPECT_EQ(CommandLine::SplitCommandLine(L"app \"open to end"), (Tokens{L"app", L"open to end"}));
    EXPECT_EQ(CommandLine::SplitCommandLine(L"app \"\""), (Tokens{L"app", L""}));
    EXPECT_TRUE(CommandLine::SplitCommandLine(L"\"C:/never closed x").empty());
    EXPECT_TRUE(CommandLine::SplitCommandLine(L"\"").empty());
    EXPECT_TRUE(CommandLine::SplitCommandLine(L"").empty());
}

TEST(CommandLine, PositionalArgumentOfTheMainProgram) {
    CommandLine line(nullptr, nullptr, L"-/");
    line.AddArgument(L"1", L"job", L"");
    std::wstring message = L"stale";
    EXPECT_TRUE(line.Parse(L"\"/opt/q/quilmer\" abc", message));
    EXPECT_EQ(message, L"");
    EXPECT_EQ(line.Value(L"1"), L"abc");
    EXPECT_EQ(line.ProgramName(), L"/opt/q/quilmer");
    EXPECT_EQ(line.Value(L"2"), L"<UnKnOwN>");

    CommandLine bare;
    bare.AddArgument(L"1", L"job", L"");
    EXPECT_TRUE(bare.Parse(L"/opt/q/quilmer", message));
    EXPECT_EQ(bare.Value(L"1"), L"");

    // argv arrives already split: a JSON job keeps its quotes and blanks.
    CommandLine fromArgv;
    fromArgv.AddArgument(L"1", L"job", L"");
    const char* argv[] = {"quilmer", "{\"a\": \"b c\"}"};
    EXPECT_TRUE(fromArgv.ParseArgs(2, argv, message));
    EXPECT_EQ(fromArgv.Value(L"1"), L"{\"a\": \"b c\"}");
}

TEST(CommandLine, ErrorsCarryProgramNameAndUsage) {
    CommandLine line(L"prog", L"", L"-/");
    line.AddArgument(L"1", L"job", L"");
    std::wstring message;
    EXPECT_FALSE(line.Parse(L"prog first second", message));
    EXPECT_EQ(message, L"prog error: Too much arguments. \r\n" + line.Usage());
    EXPECT_EQ(line.Value(L"1"), L"first");  // assigned before the failure

    EXPECT_FALSE(line.Parse(L"prog -", message));
    EXPECT_EQ(message.substr(0, message.find(L"\r\n")), L"prog error: Unknown option -.");
    EXPECT_FALSE(line.Parse(L"prog /xyz", message));
    EXPECT_EQ(message.substr(0, message.find(L"\r\n")), L"prog error: Unknown option /xyz.");

    EXPECT_FALSE(line.Parse(L"\"prog", message));
    EXPECT_EQ(message, L"");

    CommandLine required(L"up", L"", L"-");
    required.AddRequiredArgument(L"url", L"package");
    required.AddRequiredArgument(L"dir", L"folder");
    EXPECT_FALSE(required.Parse(L"up http://x", message));
    EXPECT_EQ(message, L"up error: Too few arguments.\r\n" + required.Usage());
}

TEST(CommandLine, OptionsTakeTheirArgumentsGreedily) {
    CommandLine line(L"prog", L"", L"-/");
    line.AddOption(L'x', L"extract");
    line.AddOptionArgument(L'x', L"to", L"target", L"here");
    line.AddOptionArgument(L'x', L"mode", L"how", L"fast");
    line.AddOption(L'r', L"resume");
    line.AddOptionArgument(L'r', L"id", L"which", L"", false);
    line.AddArgument(L"1", L"job", L"none");
    std::wstring message;
    EXPECT_TRUE(line.Parse(L"prog /x there -r 7 pos", message)) << message;
    EXPECT_TRUE(line.OptionPresent(L'x'));
    EXPECT_EQ(line.OptionValue(L'x', L"to"), L"there");
    EXPECT_EQ(line.OptionValue(L'x', L"mode"), L"fast");  // stopped at the next option
    EXPECT_EQ(line.OptionValue(L'r', L"id"), L"7");
    EXPECT_EQ(line.Value(L"1"), L"pos");

    CommandLine same(L"prog", L"", L"-/");
    same.AddOption(L'x', L"extract");
    EXPECT_TRUE(same.Parse(L"prog -xtra", message));  // only the letter counts
    EXPECT_TRUE(same.OptionPresent(L'x'));

    EXPECT_FALSE(line.Parse(L"prog -r -x", message));
    EXPECT_EQ(message.substr(0, message.find(L"\r\n")), L"prog error: Too few arguments for option -r.");
}

TEST(CommandLine, UsageLayout) {
    CommandLine line(L"prog", L"See the manual.", L"/-");
    line.AddOption(L'y', L"yes");
    line.AddOption(L'a', L"all");
    line.AddOptionArgument(L'a', L"n", L"count", L"3");
    line.AddOptionArgument(L'a', L"m", L"mode", L"", false);
    line.AddArgument(L"1", L"the job", L"");
    line.AddRequiredArgument(L"out", L"output");
    EXPECT_EQ(line.Usage(),
              L"Usage: prog [/a [n] m] [/y] [1] out\r\n"
              L"\r\nOptions:\r\n"
              L"\t-a\t  all\r\n"
              L"\t n\t= count\r\n"
              L"\t\t  optional argument (default='3')\r\n"
              L"\t m\t= mode\r\n"
              L"\t-y\t  yes\r\n"
              L"\r\nArguments:\r\n"
              L"\t1\t= the job\r\n"
              L"\t\t  optional argument (default='')\r\n"
              L"\tout\t= output\r\n"
              L"\r\nSee the manual.\r\n");
    CommandLine empty(L"p");
    EXPECT_EQ(empty.Usage(), L"Usage: p\r\n\r\n\r\n");
}
