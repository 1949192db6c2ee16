// CommPort over real pseudo-terminals and loopback TCP peers.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "core/link/CommPort.h"
#include "core/settings/ConfigData.h"
#include "support/Pty.h"

namespace tarnvale {
namespace {

using test::LoopbackServer;
using test::PtyPair;

std::string ReadAll(CommPort& port, std::size_t want, int timeoutMs = 10000) {  // the time is a guard
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < want && std::chrono::steady_clock::now() < end) {
    std::uint8_t buf[256];
    const std::size_t n = port.Read(buf, sizeof buf);
    if (n == 0) {
      port.WaitReadable(20);
      continue;
    }
    out.append(reinterpret_cast<char*>(buf), n);
  }
  return out;
}

void WaitForQueue(CommPort& port, std::size_t n) {
  for (int i = 0; i < 1000 && port.GetInQueue() < n; ++i) port.WaitReadable(10);  // a guard
}

// Bytes both ways, the input queue counted and purged: the same over a pty
// and over TCP.
template <class Peer>
void BytesBothWaysQueueCountedAndPurged(CommPort& port, Peer& peer) {
  const std::string out(":\x00\x00\x00\x06\xFA\r\n", 8);
  EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>(out.data()), out.size()), out.size());
  port.WriteByte(0x1FF);  // only the low 8 bits go out
  EXPECT_EQ(peer.Receive(9), out + "\xFF");
  EXPECT_EQ(port.GetInQueue(), 0u);
  std::uint8_t buf[16];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0u) << "an empty queue reads nothing at once";
  peer.Send(std::string("hello\x00\xFF", 7));
  WaitForQueue(port, 7);
  EXPECT_EQ(port.GetInQueue(), 7u);
  EXPECT_EQ(ReadAll(port, 7), std::string("hello\x00\xFF", 7));
  EXPECT_EQ(port.GetInQueue(), 0u);
  peer.Send("stale reply");
  WaitForQueue(port, 11);
  EXPECT_NE(port.Purge(), 0);
  EXPECT_EQ(port.GetInQueue(), 0u);
  peer.Send("Z");
  EXPECT_EQ(ReadAll(port, 1), "Z");
}

TEST(CommPortSerial, BytesTravelBothWaysQueueIsCountedAndPurged) {
  PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)) << port.LastError();
  EXPECT_TRUE(port.IsOpen());
  EXPECT_FALSE(port.IsTcp());
  EXPECT_EQ(port.PortName(), pty.SlavePath());
  BytesBothWaysQueueCountedAndPurged(port, pty);
}

TEST(CommPortSerial, ClosingRightAfterAWriteLosesNothing) {
  PtyPair pty;
  const std::string tail = std::string(1500, 'x') + "g\r";
  // Repeated: whether unsent bytes are still queued at the close is a race.
  for (int round = 0; round < 10; ++round) {
    CommPort port;
    ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
    EXPECT_EQ(port.Write(reinterpret_cast<const std::uint8_t*>(tail.data()), tail.size()), tail.size());
    // The peer reads while the port closes, as a device draining its line would.
    std::string seen;
    std::thread peer([&] { seen = pty.Receive(tail.size(), 2000); });
    EXPECT_TRUE(port.Close());
    peer.join();
    ASSERT_EQ(seen, tail) << "round " << round;
  }
}

// The settings offer rates the system has no constant for (28800, 14400, 7200):
// those go through the custom-rate call, and every listed rate must open.
TEST(CommPortSerial, EveryListedBaudRateOpens) {
  PtyPair pty;
  for (std::uint32_t baud : kBaudRates) {
    CommPort port;
    EXPECT_TRUE(port.Open(pty.SlavePath(), baud, Parity::None, 8, StopBits::One)) << baud << ": " << port.LastError();
  }
}

TEST(CommPortSerial, OpenCloseRules) {
  PtyPair pty;
  CommPort port;
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
  CommPort second;
  EXPECT_FALSE(second.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)) << "exclusive open";
  EXPECT_NE(second.LastError().find("busy"), std::string::npos) << second.LastError();

  EXPECT_TRUE(port.Close());
  EXPECT_FALSE(port.Close()) << "second close is false and harmless";
  EXPECT_TRUE(second.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One)) << "free again after close";
}

TEST(CommPortSerial, NamesThatAreNotPortsDoNotOpen) {
  // Lower case is not a COM port; /dev/null is no serial device; a TCP
  // address needs a port from 1 to 65535 and a whole dotted address.
  for (const char* name : {"com1", "ttyS0", "/dev/does-not-exist", "/dev/null", "127.0.0.1:0", "127.0.0.1:65536",
                           "127.0.0.1:4000x", "127.1"}) {
    CommPort port;
    EXPECT_FALSE(port.Open(name, 115200, Parity::None, 8, StopBits::One)) << name;
    EXPECT_FALSE(port.IsOpen()) << name;
    EXPECT_EQ(port.PortName(), "") << name;
  }
  EXPECT_EQ(CommPort::DevicePathFor("COM1"), "/dev/ttyS0");
  EXPECT_EQ(CommPort::DevicePathFor("COM12"), "/dev/ttyS11");
  EXPECT_EQ(CommPort::DevicePathFor("COM0"), "");
  EXPECT_EQ(CommPort::DevicePathFor("COMx"), "");
  EXPECT_EQ(CommPort::DevicePathFor("/dev/ttyUSB0"), "/dev/ttyUSB0");
}

// Writes that put nothing out return 0 without the short-write message: to a
// closed port, of no bytes, and every write after the adapter was pulled out.
// A vanished peer reads nothing, and its hang-up is told at once (a caller
// ends its wait) after a short pause that keeps a caller which does not ask
// from spinning: the wait ends long before its minute is up, however busy.
TEST(CommPortSerial, VanishedPeerReadsAndWritesNothingAndDoesNotSpin) {
  PtyPair pty;
  CommPort port;
  int reports = 0;
  port.SetShortWriteHandler([&](std::size_t, std::size_t) { ++reports; });
  std::uint8_t keys[] = {'a', 'b', 'c'};
  EXPECT_EQ(port.Write(keys, 1), 0u) << "closed";
  ASSERT_TRUE(port.Open(pty.SlavePath(), 115200, Parity::None, 8, StopBits::One));
  EXPECT_EQ(port.Write(keys, 0), 0u);
  ASSERT_EQ(port.Write(keys, 1), 1u);
  pty.CloseMaster();
  for (const std::uint8_t& key : keys) EXPECT_EQ(port.Write(&key, 1), 0u);
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(CommPort::ShortWriteMessage(10, 4), "Bytes to write = 10, Bytes written 4");
  EXPECT_EQ(port.Read(keys, sizeof keys), 0u);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(port.WaitReadable(60000));
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(port.LinkLost());
  EXPECT_GE(waited, std::chrono::milliseconds(15));
  EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST(CommPortTcp, BytesBothWaysQueueAndPeerClosed) {
  LoopbackServer server;
  CommPort port;
  ASSERT_TRUE(port.Open(server.Address(), 115200, Parity::None, 8, StopBits::One)) << port.LastError();
  ASSERT_TRUE(server.Accept());
  EXPECT_TRUE(port.IsTcp());

  BytesBothWaysQueueCountedAndPurged(port, server);

  server.CloseClient();
  for (int i = 0; i < 1000 && !port.LinkLost(); ++i) port.WaitReadable(20);  // a guard
  EXPECT_TRUE(port.LinkLost()) << "a closed peer is told like a hung-up line";
  std::uint8_t buf[8];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
  // Writing to a closed peer must not raise SIGPIPE (the test would die).
  for (int i = 0; i < 3; ++i) port.Write(buf, sizeof buf);
  EXPECT_TRUE(port.Close());
}

TEST(CommPortTcp, AClosedPortIsRefusedAtOnce) {
  CommPort port;
  // Refused at once, not given up after the connect time-out.
  EXPECT_FALSE(port.Open("127.0.0.1:" + std::to_string(test::UnusedLoopbackPort()), 115200, Parity::None, 8, StopBits::One));
  EXPECT_NE(port.LastError().find("refused"), std::string::npos) << port.LastError();
}

TEST(CommPortList, OnlyRealDevicesAreListedWithDescriptions) {
  // A fake sysfs tree: a USB adapter, a placeholder UART, a real UART and a
  // virtual console.
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("tty-" + std::to_string(::getpid()));
  const fs::path usbDev = root / "devices" / "usb1" / "1-1";
  fs::create_directories(usbDev / "1-1:1.0" / "ttyUSB0");
  auto put = [](const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text << "\n";
  };
  put(usbDev / "idVendor", "0403");
  put(usbDev / "idProduct", "6001");
  put(usbDev / "product", "FT232R USB UART");
  put(usbDev / "serial", "A9XYZ");
  const fs::path cls = root / "class";
  fs::create_directories(cls / "ttyUSB0");
  fs::create_directory_symlink(usbDev / "1-1:1.0" / "ttyUSB0", cls / "ttyUSB0" / "device");
  fs::create_directories(cls / "ttyS1" / "device");
  put(cls / "ttyS1" / "type", "0");
  fs::create_directories(cls / "ttyS0" / "device");
  put(cls / "ttyS0" / "type", "4");
  fs::create_directories(cls / "tty1");

  const auto ports = platform::ListSerialPorts(cls.string(), "/dev");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].name, "/dev/ttyS0");
  EXPECT_EQ(ports[1].name, "/dev/ttyUSB0");
  EXPECT_EQ(ports[1].description, "FT232R USB UART (A9XYZ)");
  fs::remove_all(root);
}

}  // namespace
}  // namespace tarnvale
