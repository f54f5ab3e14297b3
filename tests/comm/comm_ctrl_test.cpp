// The port control object over a real pseudo-terminal with a scripted device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "comm/test_owner.h"
#include "peers/scripted_serial_device.h"
#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "platform/base/profile.h"
#include "quorex/comm_ctrl.h"
#include "support/wait_until.h"

using testing_support::ScriptedSerialDevice;

namespace {

class PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = testing_support::makeTestFolder();
    device_ = std::make_unique<ScriptedSerialDevice>(folder_);
  }
  void TearDown() override {
    device_.reset();
    testing_support::removeTestFolder(folder_);
  }
  // Settings of a working line on the test device.
  void useDevice(CCommCtrl& port, const char* rest = "9600,8,N,1,None") {
    port.SetSettings((device_->path() + "," + rest).c_str());
  }
  std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string folder_;
  std::unique_ptr<ScriptedSerialDevice> device_;
};

// Collects what the port's event thread reports and reads the bytes as they come.
struct Collector {
  CCommCtrl* port = nullptr;
  std::mutex mutex;
  std::string bytes;
  std::atomic<int> events{0};
  static int32_t callback(uint32_t event, intptr_t owner) {
    auto* self = reinterpret_cast<Collector*>(owner);
    self->events++;
    if (event & kCommEventReceived) {
      char buffer[256];
      uint32_t errors = 0;
      int32_t n = self->port->CommRead(buffer, sizeof buffer, &errors);
      if (n > 0) {
        std::lock_guard<std::mutex> guard(self->mutex);
        self->bytes.append(buffer, static_cast<size_t>(n));
      }
    }
    return 0;
  }
  std::string text() {
    std::lock_guard<std::mutex> guard(mutex);
    return bytes;
  }
  bool waitFor(const std::string& wanted) {
    return testing_support::waitUntil([&] { return text() == wanted; });
  }
};

}  // namespace

TEST(CommCtrlSettings, NewObjectHasTheDefaults) {
  CCommCtrl port;
  EXPECT_EQ(port.GetSettings(), "COM1,9600,8,なし,1,XON/XOFF");
  EXPECT_EQ(port.GetLogFileName(), "LOG.TXT");
  EXPECT_EQ(port.GetProfileSectionA(), "Quorex Settings");
  EXPECT_EQ(port.GetMsgIDEvent(), 0x0E00u);
  EXPECT_EQ(port.GetEventMask(), 1u);
  EXPECT_EQ(port.GetSendAdrsStr(), "127.0.0.1");
}

TEST(CommCtrlSettings, SettingsStringsReadBackInStoredForm) {
  struct Case {
    const char* given;
    const char* readBack;
  };
  const Case cases[] = {
      {"COM3,19200,7,E,2,None", "COM3,19200,7,偶数,2,なし"},
      {"COM2,9600", "COM2,9600,8,なし,1,XON/XOFF"},
      {"COM1,9600,8,Odd,1,RTS/CTS", "COM1,9600,8,奇数,1,RTS/CTS"},
      {"COM1,9600,8,M,1,N", "COM1,9600,8,ﾏｰｸ,1,なし"},
      {"COM1,9600,8,Space,1.5,both", "COM1,9600,8,ｽﾍﾟｰｽ,1.5,both"},
      {"COM1,9600,8,偶数,1,XON/XOFF", "COM1,9600,8,偶数,1,XON/XOFF"},
      {"COM1,9600,8,X,1,Xon", "COM1,9600,8,X,1,Xon"},  // unknown words are kept as given
      {"COM4,4800,8,N,1,None,extra,more", "COM4,4800,8,なし,1,なし"},
  };
  for (const Case& c : cases) {
    CCommCtrl port;
    port.SetSettings(c.given);
    EXPECT_EQ(port.GetSettings(), c.readBack) << c.given;
  }
}

TEST(CommCtrlSettings, AddressAndPatternHelpers) {
  CCommCtrl port;
  port.SetSendAdrs(0xC0A80105);
  EXPECT_EQ(port.GetSendAdrsStr(), "192.168.1.5");
  port.SetSendAdrsStr("10.0.0.2");
  EXPECT_EQ(port.GetSendAdrs(), 0x0A000002u);

  const uint8_t data[] = {'x', 'x', 'A', 'B'};
  EXPECT_EQ(CCommCtrl::MemData(data, 4, reinterpret_cast<const uint8_t*>("AB"), 2), data + 2);
  EXPECT_EQ(CCommCtrl::MemData(data, 4, reinterpret_cast<const uint8_t*>("xxABC"), 5), nullptr);
  EXPECT_EQ(CCommCtrl::MemData(data, 4, reinterpret_cast<const uint8_t*>(""), 0), data);
  EXPECT_EQ(CCommCtrl::MemData(nullptr, 4, data, 1), nullptr);
}

TEST(CommCtrlSettings, ProfileKeysRoundTripAndPortNamesMapToDevices) {
  CCommCtrl writer;
  writer.SetProfileSection("Quorex Test Port");
  writer.SetSettings("COM5,38400,7,O,2,RTS/CTS");
  writer.SetRecvPort(5000);
  writer.SetSendAdrs(0x0A000001);
  writer.WriteProfileSettings(0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x200 | 0x800);

  CCommCtrl reader;
  reader.SetProfileSection("Quorex Test Port");
  reader.GetProfileSettings(0x2 | 0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x200 | 0x400 | 0x800);
  EXPECT_EQ(reader.GetSettings(), "COM5,38400,7,奇数,2,RTS/CTS");
  EXPECT_EQ(reader.GetRecvPort(), 5000u);
  EXPECT_EQ(reader.GetSendPort(), 0u);        // never written: the default
  EXPECT_EQ(reader.GetSendAdrs(), 0x0A000001u);
  EXPECT_EQ(reader.GetSendAdrsStr(), "127.0.0.1");  // reading the number leaves the text

  EXPECT_EQ(reader.DevicePathOf("COM3"), "/dev/ttyS2");
  EXPECT_EQ(reader.DevicePathOf("\\\\.\\COM10"), "/dev/ttyS9");
  EXPECT_EQ(reader.DevicePathOf("/dev/ttyUSB0"), "/dev/ttyUSB0");
  platform::Profile::of(platform::ProfileScope::User).setString("Quorex Test Port\\Devices", "COM3", "/dev/ttyUSB1");
  EXPECT_EQ(reader.DevicePathOf("COM3"), "/dev/ttyUSB1");
  platform::Profile::of(platform::ProfileScope::User).deleteSection("Quorex Test Port");
}

TEST_F(PortTest, BadSettingsAreRefusedBeforeTheDeviceIsOpened) {
  const char* bad[] = {"abc,8,N,1,None", "0,8,N,1,None", "9600,9,N,1,None", "9600,8,X,1,None",
                       "9600,8,N,3,None", "9600,8,N,1,Xon"};
  TestOwner owner;
  for (const char* rest : bad) {
    CCommCtrl port;
    // A missing device would fail with "file not found": the settings fail first.
    port.SetSettings((folder_ + "/missing," + rest).c_str());
    platform::setLastError(0);
    EXPECT_EQ(port.CommOpen(owner.hwnd()), 0) << rest;
    EXPECT_EQ(platform::lastError(), platform::kErrorInvalidParameter) << rest;
    // The same settings on the real device do not open it either.
    useDevice(port, rest);
    EXPECT_EQ(port.CommOpen(owner.hwnd()), 0) << rest;
    EXPECT_EQ(port.IsOpen(), 0);
  }
  CCommCtrl port;
  useDevice(port);
  EXPECT_EQ(port.CommOpen(nullptr), 0);  // no owner
}

TEST_F(PortTest, BytesGoBothWaysAndEventsReachTheCallback) {
  CCommCtrl port;
  Collector collector;
  collector.port = &port;
  useDevice(port, "19200,8,E,1,XON/XOFF");
  ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
  EXPECT_NEAR(port.GetCharTime(), 10.0 / 19200, 1e-9);  // start, 8 data, parity

  device_->onReceive("AB", "CD");
  uint32_t errors = 99;
  EXPECT_EQ(port.CommWrite("AB", 2, &errors), 2);
  EXPECT_EQ(errors, 0u);
  EXPECT_TRUE(collector.waitFor("CD"));
  EXPECT_EQ(device_->received(), "AB");

  // A device without modem lines: the status reads 0, DTR cannot be moved,
  // and the port goes on working.
  EXPECT_EQ(port.CommGetStatus(), 0u);
  EXPECT_EQ(port.CommCtrlDtr(0), 0);
  EXPECT_EQ(port.CommCtrlOut1(1), 0);
  device_->send("EF");
  EXPECT_TRUE(collector.waitFor("CDEF"));

  port.CommClose();
  EXPECT_EQ(port.IsOpen(), 0);
  EXPECT_EQ(port.CommWrite("X", 1, &errors), -1);
  port.CommClose();  // twice is harmless
}

TEST_F(PortTest, WritesNeverQueueMoreThanTheSendBufferHolds) {
  CCommCtrl port;
  Collector collector;
  collector.port = &port;
  useDevice(port);
  port.SetOutputBufferSize(100);
  ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
  std::string block(500, 'z');
  uint32_t errors = 0;
  EXPECT_EQ(port.CommWrite(block.data(), 500, &errors), 100);
  EXPECT_TRUE(device_->waitFor(std::string(100, 'z'), 1, testing_support::kPatienceMs));
}

TEST_F(PortTest, SpeedChangesKeepTheOldSpeedWhenRefused) {
  CCommCtrl port;
  Collector collector;
  collector.port = &port;
  useDevice(port, "9600,8,N,1,None");
  ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
  const double before = port.GetCharTime();
  EXPECT_EQ(port.CommCtrlBaudRate(0), 0);
  EXPECT_EQ(port.CommCtrlBaudRate(12345), 0);
  EXPECT_DOUBLE_EQ(port.GetCharTime(), before);
  EXPECT_EQ(port.CommCtrlBaudRate(19200), 1);
  EXPECT_NEAR(port.GetCharTime(), 9.0 / 19200, 1e-9);
}

TEST_F(PortTest, ABusyDeviceFreedWithinTheRetryOpens) {
  TestOwner owner;
  CCommCtrl first, second;
  useDevice(first);
  useDevice(second);
  ASSERT_EQ(first.CommOpen(owner.hwnd()), 1);
  EXPECT_EQ(second.CommOpen(owner.hwnd()), 0);  // busy at both attempts
  // The first lets go only once the second's first attempt has failed and
  // it waits to try again: then the retry, not luck, opens the device.
  const std::string ownStat = readFile("/proc/thread-self/stat");
  const std::string opener = ownStat.substr(0, ownStat.find(' '));
  std::thread closer([&] {
    EXPECT_TRUE(testing_support::waitUntil(
        [&] { return readFile("/proc/self/task/" + opener + "/wchan").find("nanosleep") != std::string::npos; }));
    first.CommClose();
  });
  EXPECT_EQ(second.CommOpen(owner.hwnd()), 1);  // free by the second attempt
  closer.join();
}

TEST_F(PortTest, OwnerMessagesAreCoalesced) {
  TestOwner owner;
  CCommCtrl port;
  useDevice(port);
  port.SetMsgIDEvent(0x0E05);
  ASSERT_EQ(port.CommOpen(owner.hwnd()), 1);
  device_->send("A");
  ASSERT_TRUE(testing_support::waitUntil([&] { return owner.queued(0x0E05, 1) > 0; }));
  ASSERT_EQ(owner.queued(0x0E05, 1), 1);
  device_->send("B");
  ASSERT_TRUE(testing_support::waitUntil([&] { return port.GetInQue() == 2; }));
  EXPECT_EQ(owner.queued(0x0E05, 1), 1);  // the second arrival adds no message

  std::string got;
  owner.onMessage = [&](const TestOwner::Message& m) {
    char buffer[16];
    uint32_t errors;
    int32_t n;
    while ((n = port.CommRead(buffer, sizeof buffer, &errors)) > 0) got.append(buffer, static_cast<size_t>(n));
  };
  EXPECT_TRUE(owner.pumpUntil([&] { return got == "AB"; }));
  // Once the owner has taken the message, the next arrival posts again. The
  // port posts for "B" just after counting its bytes, so that post can still
  // come after the owner took the first message: then "C" finds it queued or
  // posts a third.
  const int before = owner.delivered(0x0E05, 1);
  device_->send("C");
  EXPECT_TRUE(owner.pumpUntil([&] { return got == "ABC"; }));
  EXPECT_GT(owner.delivered(0x0E05, 1), before);
  EXPECT_LE(owner.delivered(0x0E05, 1), 3);
}

TEST_F(PortTest, TrafficLogRecordsDirectionsTimesAndLines) {
  const std::string logPath = folder_ + "/LOG.TXT";
  struct Case {
    int timeStamps;
    int marks;
    const char* pattern;
  };
  const std::string date = R"(\r\n<\d{4}/[ \d]{2}/[ \d]{2} \d{2}:\d{2}:\d{2}>\r\n)";
  const std::string time = R"(\d{2}:\d{2}:\d{2})";
  const std::string withTimes = date + "<" + time + " TX>AB<" + time + " RX>CD\\r\\n<" + time +
                                " note>\\r\\n<" + time + " TX>E" + date;
  const Case cases[] = {
      {1, 1, withTimes.c_str()},
      {0, 1, "TX>ABRX>CD\\r\\n<note>\\r\\nTX>E"},
      {0, 0, "ABCD\\r\\n<note>\\r\\nE"},
  };
  for (const Case& c : cases) {
    std::remove(logPath.c_str());
    CCommCtrl port;
    Collector collector;
    collector.port = &port;
    useDevice(port);
    port.SetLogFileName(logPath);
    port.SetCommLogging(1);
    port.SetLogTimeStr(c.timeStamps);
    port.SetLogDirStr(c.marks);
    ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
    uint32_t errors;
    device_->onReceive("AB", "C");
    port.CommWrite("AB", 2, &errors);
    ASSERT_TRUE(collector.waitFor("C"));
    device_->send("D");
    ASSERT_TRUE(collector.waitFor("CD"));
    port.LogWrite("note");
    port.CommWrite("E", 1, &errors);
    port.CommClose();
    const std::string log = readFile(logPath);
    EXPECT_TRUE(std::regex_match(log, std::regex(c.pattern))) << log;
  }
}

TEST_F(PortTest, RemoveLogFileRenamesAndStartsAFreshLog) {
  const std::string logPath = folder_ + "/LOG.TXT";
  const std::string kept = folder_ + "/OLD.TXT";
  CCommCtrl port;
  Collector collector;
  collector.port = &port;
  useDevice(port);
  port.SetLogFileName(logPath);
  port.SetCommLogging(1);
  ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
  uint32_t errors;
  port.CommWrite("old", 3, &errors);
  port.RemoveLogFile(kept);
  port.CommWrite("new", 3, &errors);
  port.CommClose();
  EXPECT_EQ(readFile(kept), "TX>old");
  EXPECT_EQ(readFile(logPath), "TX>new");
}

TEST_F(PortTest, LogFailuresAreReportedAndTheOldLogIsKept) {
  const std::string logPath = folder_ + "/LOG.TXT";
  CCommCtrl port;
  Collector collector;
  collector.port = &port;
  useDevice(port);
  port.SetLogFileName(logPath);
  port.SetCommLogging(1);
  ASSERT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 1);
  uint32_t errors;
  port.CommWrite("old", 3, &errors);
  // A folder stands where the old log should go: the log is not moved, so
  // it must not be emptied either.
  const std::string blocked = folder_ + "/KEEP";
  ASSERT_TRUE(platform::createDirectory(blocked));
  platform::setLastError(0);
  EXPECT_EQ(port.RemoveLogFile(blocked), 0);
  EXPECT_NE(platform::lastError(), 0u);
  EXPECT_EQ(port.CommWrite("new", 3, &errors), 3);
  EXPECT_EQ(readFile(logPath), "TX>oldTX>new");
  EXPECT_EQ(port.GetLogError(), 0u);

  // A log on a full disk: the traffic still flows, the failure shows.
  EXPECT_EQ(port.SetLogFileName("/dev/full"), 1);
  EXPECT_EQ(port.CommWrite("more", 4, &errors), 4);
  EXPECT_EQ(port.GetLogError(), platform::kErrorDiskFull);
  EXPECT_EQ(port.LogWrite("note"), 0);
  EXPECT_EQ(platform::lastError(), platform::kErrorDiskFull);
  EXPECT_TRUE(device_->waitFor("oldnewmore", 1, testing_support::kPatienceMs));
  port.CommClose();

  // A log that cannot be opened refuses the open, as the traffic could not be kept.
  port.SetLogFileName(folder_ + "/missing/LOG.TXT");
  EXPECT_EQ(port.CommOpen(reinterpret_cast<HWND>(&collector), &Collector::callback), 0);
  EXPECT_EQ(platform::lastError(), platform::kErrorPathNotFound);
}
