#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "serial/serial_baud.h"
#include "serial/serial_port.h"
#include "test_support.h"

namespace {

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("STEPTOOLS_PORT_DIR", device.portDir().c_str(), 1);
        ASSERT_EQ(OpenComConfig(1, "COM7", 115200, 0, 8, 1, 512, 512), 0) << ComLastErrorText();
        ASSERT_EQ(SetComTime(1, 2.0), 0);
    }
    void TearDown() override { CloseCom(1); }

    std::string readTerm(int max = 64) {
        char buf[512] = {};
        int n = ComRdTerm(1, buf, max, '\r');
        return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
    }

    PtyDevice device{"COM7"};
};

TEST_F(SerialPortTest, TerminatedReadStopsAtTheTerminatorAndKeepsTheRest) {
    device.send("FIRST\rSECOND\r");
    EXPECT_EQ(readTerm(), "FIRST");
    EXPECT_EQ(readTerm(), "SECOND");
}

TEST_F(SerialPortTest, LineFeedOfACrLfLineEndBelongsToThatLine) {
    device.send("ONE\r\nTWO\r\n");
    EXPECT_EQ(readTerm(), "ONE");
    EXPECT_EQ(readTerm(), "TWO");
    // Also when the line feed arrives only after the next read has begun.
    device.send("THREE\r");
    EXPECT_EQ(readTerm(), "THREE");
    std::thread late([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        device.send("\nFOUR\r");
    });
    EXPECT_EQ(readTerm(), "FOUR");
    late.join();
}

TEST_F(SerialPortTest, ALineFeedThatStartsALineIsKeptAfterALineFeedLineEnd) {
    SetComTime(1, 0.2);
    device.send("A\n\rB\r");
    char buf[16] = {};
    EXPECT_EQ(ComRdTerm(1, buf, 16, '\n'), 1);
    EXPECT_EQ(readTerm(), "");  // only a CR line end swallows the line feed that follows it
    EXPECT_EQ(readTerm(), "B");
}

TEST_F(SerialPortTest, CountLimitLeavesTheRestForTheNextRead) {
    device.send("ABCDEFG\r");
    EXPECT_EQ(readTerm(4), "ABCD");
    EXPECT_EQ(readTerm(), "EFG");
}

TEST_F(SerialPortTest, BlockReadKeepsZeroAndFFBytes) {
    SetComTime(1, 0.3);
    std::string bytes("\x00\xFF\r\x01", 4);
    device.send(bytes);
    char buf[256] = {};
    ASSERT_EQ(ComRd(1, buf, 256), 4);
    EXPECT_EQ(std::string(buf, 4), bytes);
}

TEST_F(SerialPortTest, InterByteTimeEndsABlockReadOnlyAfterABytePause) {
    ASSERT_EQ(SetComInterByteTime(1, 0.05), 0);
    device.send("AB");
    std::thread later([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        device.send("CD");
    });
    char buf[256];
    EXPECT_EQ(ComRd(1, buf, 256), 2);
    later.join();
    EXPECT_EQ(ComRd(1, buf, 256), 2);  // the rest stays for the next read
    EXPECT_EQ(std::string(buf, 2), "CD");
    // Terminated reads are not shortened.
    device.send("EF");
    std::thread rest([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        device.send("GH\r");
    });
    EXPECT_EQ(readTerm(), "EFGH");
    rest.join();
}

TEST_F(SerialPortTest, WriteSendsExactlyTheBytes) {
    std::string bytes("\x00\x0D\x0A\xFF", 4);
    EXPECT_EQ(ComWrt(1, bytes.data(), 4), 4);
    EXPECT_EQ(HexOf(device.receive(4)), "000D0AFF");
}

TEST_F(SerialPortTest, BytesWaitingBeforeTheOpenAreDiscarded) {
    CloseCom(1);
    device.send("STALE\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(OpenComConfig(1, "COM7", 9600, 0, 8, 1, 512, 512), 0);
    SetComTime(1, 0.2);
    EXPECT_EQ(readTerm(), "");
}

TEST_F(SerialPortTest, SilentDeviceTimesOutNeverEarly) {
    SetComTime(1, 0.3);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(readTerm(), "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST_F(SerialPortTest, PartialReplyAtTimeoutIsReturned) {
    SetComTime(1, 0.2);
    device.send("PART");
    EXPECT_EQ(readTerm(), "PART");
}

TEST_F(SerialPortTest, DeviceThatVanishesMidReadIsAnError) {
    device.send("PAR");
    std::thread unplug([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device.vanish();
    });
    char buf[64];
    EXPECT_EQ(ComRdTerm(1, buf, 64, '\r'), kComIoError);
    unplug.join();
}

TEST_F(SerialPortTest, PortIsExclusive) {
    EXPECT_EQ(OpenComConfig(2, "COM7", 115200, 0, 8, 1, 512, 512), kComPortInUse);
    CloseCom(1);
    EXPECT_EQ(OpenComConfig(2, "COM7", 115200, 0, 8, 1, 512, 512), 0);
    CloseCom(2);
}

TEST_F(SerialPortTest, EveryRateTheDriverTakesIsSetExactly) {
    CloseCom(1);
    // Classic table rates, Windows' own standard rates, MIDI, DMX and odd console rates.
    for (long baud : {300L, 921600L, 4000000L, 14400L, 56000L, 128000L, 256000L, 31250L, 250000L, 12345L}) {
        ASSERT_EQ(OpenComConfig(1, "COM7", baud, 0, 8, 1, 512, 512), 0) << baud << ComLastErrorText();
        EXPECT_EQ(TerminalBaud(device.slaveFd()), baud);
        CloseCom(1);
    }
}

TEST_F(SerialPortTest, SettingsThatCannotBeTakenFailTheOpen) {
    CloseCom(1);
    for (long baud : {0L, -9600L, kMaxBaudRate + 1, 2147483647L}) {
        EXPECT_EQ(OpenComConfig(1, "COM7", baud, 0, 8, 1, 512, 512), kComBadSettings) << baud;
        EXPECT_NE(ComLastErrorText().find("baud rate"), std::string::npos);
    }
    EXPECT_EQ(OpenComConfig(1, "COM7", 9600, 0, 9, 1, 512, 512), kComBadSettings);
}

TEST_F(SerialPortTest, MissingOrNonSerialDevicesAndBadPortNumbers) {
    EXPECT_EQ(OpenComConfig(2, "NOSUCH", 9600, 0, 8, 1, 512, 512), kComCannotOpen);
    EXPECT_EQ(OpenComConfig(2, "/dev/null", 9600, 0, 8, 1, 512, 512), kComCannotOpen);
    EXPECT_EQ(OpenComConfig(0, "COM7", 9600, 0, 8, 1, 512, 512), kComBadPortNumber);
    char buf[4];
    EXPECT_EQ(ComRd(3, buf, 4), kComNotOpen);
    EXPECT_EQ(ComWrt(3, "x", 1), kComNotOpen);
    EXPECT_EQ(ComRd(kMaxComPorts + 1, buf, 4), kComBadPortNumber);
}

TEST(ResolveComDevice, NamesPathsAndComFallback) {
    std::string dir = MakeTempDir();
    setenv("STEPTOOLS_PORT_DIR", dir.c_str(), 1);
    ASSERT_EQ(symlink("/dev/null", (dir + "/COM3").c_str()), 0);
    EXPECT_EQ(ResolveComDevice("COM3"), dir + "/COM3");
    EXPECT_EQ(ResolveComDevice("COM5"), "/dev/ttyS4");
    EXPECT_EQ(ResolveComDevice("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolveComDevice("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolveComDevice("ttyUSB0"), dir + "/ttyUSB0");
    EXPECT_EQ(ResolveComDevice("COMX"), dir + "/COMX");
    unsetenv("STEPTOOLS_PORT_DIR");
    EXPECT_EQ(ResolveComDevice("ttyACM0"), "/dev/ttyACM0");
}

}  // namespace
