// A thousand connects and disconnects, each with the real 300 ms close pause (about five minutes).
#include "PtyPeer.h"
#include "TempRoot.h"
#include "Wait.h"

#include "link/Ser921.h"

#include <gtest/gtest.h>

TEST(LinkCycles, AThousandConnectDisconnectCyclesLeaveNoDescriptorOrThreadBehind) {
    TempRoot root;
    const auto entries = [](const char* dir) { return std::distance(std::filesystem::directory_iterator(dir), {}); };
    PtyPeer peer;
    peer.LinkAs(TempRoot::Fixed("com1"));
    std::vector<uint8_t> packet(kPacketSize, kSyncBox);
    ASSERT_EQ(OpenLink(1), 1);
    CloseLink();
    const auto fds = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    const int64_t start = NowMs();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(OpenLink(1), 1) << "cycle " << i;
        if (i % 100 == 0) { // now and then the receiver really reads, so its whole path runs
            ASSERT_TRUE(WaitReceiverReady(5000));
            ASSERT_TRUE(peer.Write(packet));
            ASSERT_TRUE(WaitUntil([&] { return TakePacket(packet.data()) == 1; }, 5000)) << "cycle " << i;
        }
        CloseLink();
    }
    EXPECT_GE(NowMs() - start, 1000 * kCloseLinkPauseMs); // each close kept its pause
    EXPECT_EQ(entries("/proc/self/fd"), fds);
    EXPECT_EQ(entries("/proc/self/task"), threads);
}
