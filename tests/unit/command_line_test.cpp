#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const char* text) {
    ArgumentBlock block;
    EXPECT_TRUE(SplitCommandLine(text, &block));
    std::vector<std::string> args;
    for (int i = 0; i < block.argc; ++i) args.emplace_back(block.argv[i]);
    EXPECT_EQ(block.argv[block.argc], nullptr);
    FreeArguments(&block);
    return args;
}

using Args = std::vector<std::string>;

TEST(CommandLineSplit, BlanksOfEveryKindSeparateArguments) {
    EXPECT_EQ(Split("setup.exe  -silent\t-im\r\n-log "), (Args{"setup.exe", "-silent", "-im", "-log"}));
    EXPECT_EQ(Split(""), Args{});
    EXPECT_EQ(Split("   "), Args{});
}

TEST(CommandLineSplit, QuotesAreDroppedAndKeepBlanksInside) {
    EXPECT_EQ(Split("\"C:\\Program Files\\My Setup\\setup.exe\" -silent"),
              (Args{"C:\\Program Files\\My Setup\\setup.exe", "-silent"}));
    // A quote inside an argument neither splits it nor ends it.
    EXPECT_EQ(Split("ab\"c d\"e f"), (Args{"abc de", "f"}));
    EXPECT_EQ(Split("\"ab\"cd"), (Args{"abcd"}));
    // An unclosed quote runs to the end of the text.
    EXPECT_EQ(Split("x \"a b"), (Args{"x", "a b"}));
}

TEST(CommandLineSplit, LonePairOfQuotesIsAnEmptyArgument) {
    EXPECT_EQ(Split("setup.exe \"\" -im"), (Args{"setup.exe", "", "-im"}));
    EXPECT_EQ(Split("\"\""), (Args{""}));
    EXPECT_EQ(Split("\"\" \"\" \"\""), (Args{"", "", ""}));
}

TEST(CommandLineSplit, BackslashesHaveNoMeaning) {
    EXPECT_EQ(Split("a\\\"b c\\\" d"), (Args{"a\\b c\\", "d"}));
    EXPECT_EQ(Split("C:\\dir\\ x"), (Args{"C:\\dir\\", "x"}));
}

TEST(CommandLineSplit, DensestTextFitsTheTable) {
    // Every other character a one-letter argument: the most arguments a text can hold.
    std::string text;
    for (int i = 0; i < 500; ++i) text += "a ";
    EXPECT_EQ(Split(text.c_str()).size(), 500u);
    std::string quotes;
    for (int i = 0; i < 300; ++i) quotes += "\"\" ";
    EXPECT_EQ(Split(quotes.c_str()).size(), 300u);
}

TEST(CommandLineSplit, NoTextGivesNoBlock) {
    ArgumentBlock block;
    EXPECT_FALSE(SplitCommandLine(nullptr, &block));
    EXPECT_EQ(block.argv, nullptr);
    EXPECT_EQ(block.argc, 0);
}

TEST(CommandLineSwitches, EverySwitchSetsItsOwnFlag) {
    const CommandLineFlags f =
        ReadSwitches("setup.exe -log -advlog -unpack -silent -im -norestart -licenseaccept");
    EXPECT_EQ(f.logCopy, 1);
    EXPECT_EQ(f.advancedLog, 1);
    EXPECT_EQ(f.unpackOnly, 1);
    EXPECT_EQ(f.silent, 1);
    EXPECT_EQ(f.messages, 1);
    EXPECT_EQ(f.noRestart, 1);
    EXPECT_EQ(f.licenceAccepted, 1);

    const CommandLineFlags g = ReadSwitches("setup.exe -advlog");
    EXPECT_EQ(g.advancedLog, 1);
    EXPECT_EQ(g.logCopy, 0);  // -log is not a prefix match of -advlog
    EXPECT_EQ(g.silent, 0);
}

TEST(CommandLineSwitches, CaseDoesNotMatterQuotesAreDropped) {
    const CommandLineFlags f = ReadSwitches("setup.exe -SILENT -LicenseAccept \"-im\" \"-nore\"start");
    EXPECT_EQ(f.silent, 1);
    EXPECT_EQ(f.licenceAccepted, 1);
    EXPECT_EQ(f.messages, 1);
    EXPECT_EQ(f.noRestart, 1);
}

TEST(CommandLineSwitches, WholeArgumentsOnly) {
    const CommandLineFlags f = ReadSwitches("setup.exe /silent -silent-im -silent,-im --log -log= log -");
    EXPECT_EQ(f.silent, 0);
    EXPECT_EQ(f.messages, 0);
    EXPECT_EQ(f.logCopy, 0);
    // A program path with blanks is one argument; a switch word inside it sets nothing.
    const CommandLineFlags g = ReadSwitches("\"C:\\x -silent\\setup.exe\" -im");
    EXPECT_EQ(g.silent, 0);
    EXPECT_EQ(g.messages, 1);
    // The first argument is read too, and repeats are harmless.
    const CommandLineFlags h = ReadSwitches("-unpack -unpack");
    EXPECT_EQ(h.unpackOnly, 1);
}

TEST(CommandLineSwitches, TheUninstallerReadsItsOwnSwitchesTheSameWay) {
    const UninstallFlags f =
        ReadUninstallSwitches("\"C:\\Program Files\\Tessaport\\uninstall.exe\" -SILENT \"-NoRestart\"");
    EXPECT_EQ(f.silent, 1);
    EXPECT_EQ(f.noRestart, 1);
    EXPECT_EQ(f.copy, 0);
    // The installer's words mean nothing here, and parts of words nothing anywhere.
    const UninstallFlags g = ReadUninstallSwitches("uninstall.exe -licenseaccept -im /silent -silent-norestart -copyx");
    EXPECT_EQ(g.silent + g.noRestart + g.copy, 0);
    EXPECT_EQ(ReadUninstallSwitches("copy.exe -Copy").copy, 1);
    const UninstallFlags none = ReadUninstallSwitches(nullptr);
    EXPECT_EQ(none.silent + none.noRestart + none.copy, 0);
}

TEST(CommandLineSwitches, NoTextLeavesAllFlagsClear) {
    const CommandLineFlags f = ReadSwitches(nullptr);
    EXPECT_EQ(f.silent + f.messages + f.unpackOnly + f.logCopy + f.advancedLog + f.noRestart + f.licenceAccepted, 0);
}

}  // namespace
