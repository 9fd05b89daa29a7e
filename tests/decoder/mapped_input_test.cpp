// The helper's mapping of its file, in forked children: a file cut short while it is read ends
// the reading with a refusal on the channel, and a bus error of another cause still kills.
#include "decoder/mapped_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "decoder/protocol.h"
#include "support/temp_folder.h"

TEST(MappedInput, AFileCutShortUnderItsReaderIsARefusalOtherBusErrorsStillKill) {
    TempFolder folder;
    struct Case {
        const char* label;
        bool cutShort;  // else the child raises SIGBUS itself
        bool refused;
    } cases[] = {{"cut short", true, true}, {"raised", false, false}};
    for (const Case& c : cases) {
        const std::string path = folder.File(c.label);
        WriteWholeFile(path, std::string(3 * 4096 + 100, 'x'));
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        pid_t child = fork();
        if (child == 0) {
            close(ends[0]);
            int fd = open(path.c_str(), O_RDWR);
            const unsigned char* data = nullptr;
            size_t size = 0;
            std::string reason;
            if (fd < 0 || !MapInputFile(fd, data, size, reason) || size != 3 * 4096 + 100) _exit(2);
            RefuseWhenInputShrinks(data, size, ends[1]);
            if (c.cutShort) {
                if (data[size - 1] != 'x' || ftruncate(fd, 10) != 0) _exit(3);
                volatile unsigned char last = data[size - 1];
                (void)last;
            } else {
                raise(SIGBUS);
            }
            _exit(4);
        }
        close(ends[1]);
        bool timedOut = false;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        DecodeReply reply;
        std::string fault;
        int received = ReceiveDecodeReply(
            [&](void* data, size_t size) { return ReadWithin(ends[0], data, size, deadline, {}, timedOut); },
            DecodeExpectation(), [](uint32_t, uint32_t) { return nullptr; }, reply, fault);
        close(ends[0]);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        if (c.refused) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.label << ": status " << status;
            ASSERT_EQ(received, 0) << fault;
            EXPECT_EQ(reply.kind, kDecodeReplyRefused);
            EXPECT_EQ(reply.text, "the file was cut short while it was read: read it again once it is written in full");
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) << c.label << ": status " << status;
            EXPECT_EQ(received, -1) << c.label;
        }
    }
}
