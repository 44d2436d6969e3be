// Several processes on one store: a writer killed at any moment, and writers at the same time.
#include "settings/Settings.h"

#include "TestSupport.h"
#include "platform/posix/RegistryFile.h"
#include "support/ConfigFolder.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace stipplor {
namespace {

constexpr std::string_view Key = "Software\\Vorlane\\Orvalis\\Stipplor";
constexpr int RunValues = 15;

std::string ValueName(int i) {
    return "Value" + std::to_string(i);
}

std::string RunText(int32_t mark) {
    return std::string(4000, static_cast<char>('a' + mark % 26));
}

// What a confirmed run saves: values that all carry the run's mark, and a long text so that
// the file takes a while to write.
void SaveRun(TProgramSetup& setup, int32_t mark) {
    setup.Update([&] {
        for (int i = 0; i < RunValues; ++i)
            setup.WriteInteger(ValueName(i), mark);
        setup.WriteString("Text", RunText(mark));
    });
}

// The mark of the run whose values the key's file holds, read at once, or -1 when they are
// not all of one run; 0 before the first run.
int32_t StoredMark(const testsupport::ConfigFolder& config) {
    const TRegistryValues values =
        ParseRegistryFile(testsupport::FileContents(config.KeyFile(Key)), Key);
    const auto first = values.find(ValueName(0));
    if (first == values.end() || first->second.Bytes.size() != 4)
        return values.empty() ? 0 : -1;
    const std::vector<uint8_t>& bytes = first->second.Bytes;
    const int32_t mark = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | bytes[3] << 24;
    for (int i = 1; i < RunValues; ++i)
        if (const auto value = values.find(ValueName(i));
            value == values.end() || value->second != first->second)
            return -1;
    const auto text = values.find("Text");
    return text != values.end() && std::string(text->second.Bytes.begin(),
                                               text->second.Bytes.end()) == RunText(mark) + '\0'
               ? mark
               : -1;
}

// Runs Body in a child process, which ends with status 0 when Body returns.
pid_t StartChild(const std::function<void()>& Body) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            Body();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    return child;
}

TEST(ProgramSetupProcesses, AKilledWriterLeavesTheOldRunOrTheNewOneWhole) {
    testsupport::ConfigFolder config;
    TProgramSetupRegistry setup(Key, false);
    SaveRun(setup, 0);
    std::mt19937 chance(20260101);
    int32_t stored = 0;
    for (int round = 0; round < 30; ++round) {
        int acks[2];
        ASSERT_EQ(::pipe(acks), 0);
        const pid_t writer = StartChild([&] {
            ::close(acks[0]);
            TProgramSetupRegistry own(Key, false);
            for (int32_t mark = stored + 1;; ++mark) {
                SaveRun(own, mark);
                if (::write(acks[1], &mark, sizeof mark) != sizeof mark)
                    ::_exit(3);
            }
        });
        ASSERT_GT(writer, 0);
        ::close(acks[1]);
        ::usleep(chance() % 20000);
        ::kill(writer, SIGKILL);
        ::waitpid(writer, nullptr, 0);
        int32_t saved = stored, mark = 0;
        while (::read(acks[0], &mark, sizeof mark) == sizeof mark)
            saved = mark;
        ::close(acks[0]);
        // The run being saved when the kill came is there whole or not at all.
        stored = StoredMark(config);
        ASSERT_TRUE(stored == saved || stored == saved + 1)
            << "round " << round << ": stored " << stored << ", last saved " << saved;
        EXPECT_EQ(TProgramSetupRegistry(Key, true).ReadIntegerDef(ValueName(0), -1), stored);
    }
    setup.WriteInteger("After", 1);
    EXPECT_EQ(StoredMark(config), stored) << "the next write keeps the values";
}

TEST(ProgramSetupProcesses, TwoRunsSavedAtOnceLeaveOneWholeRunAndLoseNoOtherValue) {
    testsupport::ConfigFolder config;
    constexpr int Runs = 40;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    const auto writer = [&](int32_t id) {
        return StartChild([&, id] {
            ::close(start[1]);
            char go;
            if (::read(start[0], &go, 1) != 0)
                ::_exit(3);
            TProgramSetupRegistry own(Key, false);
            const std::string name = std::to_string(id);
            for (int run = 0; run < Runs; ++run) {
                SaveRun(own, id * 1000 + run);
                own.WriteInteger("Single" + name, run);
                own.Update([&] { own.WriteInteger("Own" + name, run); });
            }
        });
    };
    const pid_t first = writer(1), second = writer(2);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    ::close(start[0]);
    ::close(start[1]); // both start now
    // While they write, the file always holds one whole run.
    int running = 2, status = 0;
    bool mixed = false;
    while (running > 0) {
        mixed = mixed || StoredMark(config) == -1;
        if (const pid_t ended = ::waitpid(-1, &status, WNOHANG); ended > 0) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            --running;
        }
    }
    EXPECT_FALSE(mixed);

    const int32_t mark = StoredMark(config);
    EXPECT_TRUE(mark == 1000 + Runs - 1 || mark == 2000 + Runs - 1) << mark;
    const TProgramSetupRegistry setup(Key, true);
    for (const char* name : {"Single1", "Single2", "Own1", "Own2"})
        EXPECT_EQ(setup.ReadIntegerDef(name, -1), Runs - 1) << name;
}

} // namespace
} // namespace stipplor
