#include <gtest/gtest.h>

#include "kivsvc/core/CommandLine.h"

namespace kiv::svc {
namespace {

struct Case {
    const char* line;
    CommandSwitch expected;
};

TEST(CommandLine, SwitchesAreFoundAfterEitherSeparatorIgnoringCase) {
    const Case cases[] = {
        {"kivsvc.exe /RegServer", CommandSwitch::RegServer},
        {"kivsvc.exe /regserver", CommandSwitch::RegServer},
        {"kivsvc.exe -REGSERVER", CommandSwitch::RegServer},
        {"kivsvc.exe -UnregServer", CommandSwitch::UnregServer},
        {"kivsvc.exe /unregserver", CommandSwitch::UnregServer},
        {"kivsvc.exe -Service", CommandSwitch::Service},
        {"kivsvc.exe /sErViCe", CommandSwitch::Service},
        {"kivsvc.exe", CommandSwitch::None},
        {"", CommandSwitch::None},
        {"kivsvc.exe -", CommandSwitch::None},
        {"kivsvc.exe -Embedding", CommandSwitch::None},
    };
    for (const Case& c : cases) EXPECT_EQ(ScanCommandLine(c.line), c.expected) << c.line;
}

TEST(CommandLine, TheRestOfTheLineMustMatchWhole) {
    // Text behind a switch spoils it; a separator with nothing matching is skipped.
    EXPECT_EQ(ScanCommandLine("kivsvc.exe /RegServer "), CommandSwitch::None);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe /RegServerX"), CommandSwitch::None);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe //RegServer"), CommandSwitch::RegServer);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe /Reg Server"), CommandSwitch::None);
}

TEST(CommandLine, SeparatorsInTheProgramPathAreSkipped) {
    EXPECT_EQ(ScanCommandLine("C:/Program-Files/my-tools/kivsvc.exe /Service"), CommandSwitch::Service);
    EXPECT_EQ(ScanCommandLine("\"C:\\a-b\\kivsvc.exe\" -unregserver"), CommandSwitch::UnregServer);
    EXPECT_EQ(ScanCommandLine("C:/Service"), CommandSwitch::Service);  // a path that happens to end like a switch
}

TEST(CommandLine, OfTwoSwitchesOnlyTheSecondActs) {
    EXPECT_EQ(ScanCommandLine("kivsvc.exe /RegServer /UnregServer"), CommandSwitch::UnregServer);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe -UnregServer -Service"), CommandSwitch::Service);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe -Service /regserver"), CommandSwitch::RegServer);
    EXPECT_EQ(ScanCommandLine("kivsvc.exe -Service -Embedding"), CommandSwitch::None);
}

TEST(CommandLine, EmbeddingIsAWordOfItsOwn) {
    EXPECT_TRUE(HasEmbeddingSwitch("C:\\x\\kivsvc.exe -Embedding"));
    EXPECT_TRUE(HasEmbeddingSwitch("C:\\x\\kivsvc.exe /embedding"));
    EXPECT_TRUE(HasEmbeddingSwitch("kivsvc.exe -Embedding -Other"));
    EXPECT_FALSE(HasEmbeddingSwitch("kivsvc.exe"));
    EXPECT_FALSE(HasEmbeddingSwitch("kivsvc.exe -Embeddingx"));
    EXPECT_FALSE(HasEmbeddingSwitch("C:\\dir-Embedding\\kivsvc.exe"));
    EXPECT_FALSE(HasEmbeddingSwitch("kivsvc.exe -Embed"));
}

}  // namespace
}  // namespace kiv::svc
