// Starting the stand-in RustDesk: the command line it receives, and the arguments it reads
// back from it, for ordinary ids and for ids that try to smuggle in arguments.
#include "remote_desktop/launch_program.h"

#include <gtest/gtest.h>

#include "standin_support.h"

namespace ostrevane {
namespace {

using namespace std::chrono_literals;
using testing::StandinExecutable;
using testing::StandinSession;

TEST(LaunchProgram, ConnectAndAnOrdinaryIdGiveTheQuotedPair) {
    StandinSession standin;
    LaunchProgram(StandinExecutable(), {L"--connect", L"318 402 775"});
    ASSERT_NE(standin.WaitForWindow(L"318 402 775"), nullptr);
    ASSERT_TRUE(standin.WaitForLines(1, 5s));
    EXPECT_EQ(standin.Lines().front(), L"args: \"--connect\" \"318 402 775\"");
}

TEST(LaunchProgram, NoArgumentsGiveAnEmptyCommandLine) {
    StandinSession standin;
    LaunchProgram(StandinExecutable(), {});
    ASSERT_NE(standin.WaitForWindow(L"RustDesk"), nullptr);
    ASSERT_TRUE(standin.WaitForLines(1, 5s));
    EXPECT_EQ(standin.Lines().front(), L"args: ");
}

TEST(LaunchProgram, AnIdWithQuotesArrivesAsOneArgument) {
    StandinSession standin;
    // Unescaped, this id would end the quoted argument and add "--connect" "evil" of its own.
    const std::wstring id = L"42\" \"--connect\" \"evil\\";
    LaunchProgram(StandinExecutable(), {L"--connect", id});
    // The stand-in titles its window with the argument after the last "--connect" it reads.
    ASSERT_NE(standin.WaitForWindow(id), nullptr);
    ASSERT_TRUE(standin.WaitForLines(1, 5s));
    EXPECT_EQ(standin.Lines().front(), L"args: \"--connect\" \"42\\\" \\\"--connect\\\" \\\"evil\\\\\"");
}

TEST(LaunchProgram, AMissingProgramIsNotReported) {
    EXPECT_NO_THROW(LaunchProgram(L"C:\\no such folder\\rustdesk.exe", {L"--connect", L"1"}));
}

}  // namespace
}  // namespace ostrevane
