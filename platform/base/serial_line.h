// A serial line: one open serial device (a real port, a USB adapter or a
// pseudo-terminal) with its speed and framing, non-blocking reads, writes
// bounded by a time-out, the driver's queue counts, the events the code waits
// for (characters received, send buffer empty) and the modem lines.
//
// The open is exclusive between serial lines (of this process and others):
// a second open of the same device fails with 5 (access denied), as a busy
// port does.
//
// Failures set the thread's last error (platform/base/last_error.h). Modem
// lines that the device does not have (a pseudo-terminal has none) fail with
// 50 (not supported), nothing else changes.
//
// Threads: one thread may wait for events while another reads and writes;
// open, configure and close belong to one thread while no one waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace platform {

enum SerialParity : uint8_t {
  kParityNone = 0,
  kParityOdd = 1,
  kParityEven = 2,
  kParityMark = 3,
  kParitySpace = 4,
};

enum SerialStopBits : uint8_t {
  kStopBitsOne = 0,
  kStopBitsOneAndHalf = 1,  // taken as two stop bits where the line has no 1.5
  kStopBitsTwo = 2,
};

enum SerialFlow : uint8_t {
  kFlowNone = 0,
  kFlowHardware = 1,  // RTS/CTS
  kFlowSoftware = 2,  // XON/XOFF
  kFlowBoth = 3,
};

struct SerialSettings {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;  // 5 to 8
  SerialParity parity = kParityNone;
  SerialStopBits stopBits = kStopBitsOne;
  SerialFlow flow = kFlowNone;
  uint8_t xonChar = 0x11;   // DC1
  uint8_t xoffChar = 0x13;  // DC3
};

// Events in the Windows comm-event numbering.
enum SerialEvent : uint32_t {
  kSerialEventReceived = 0x1,       // EV_RXCHAR
  kSerialEventTransmitEmpty = 0x4,  // EV_TXEMPTY
};

// Modem status bits in the Windows numbering.
enum SerialModemStatus : uint32_t {
  kModemCts = 0x10,
  kModemDsr = 0x20,
  kModemRing = 0x40,
  kModemRlsd = 0x80,
};

// Modem control register bits (the 16550's numbering).
enum SerialModemControl : uint32_t {
  kModemControlDtr = 0x1,
  kModemControlRts = 0x2,
  kModemControlOut1 = 0x4,
  kModemControlOut2 = 0x8,
  kModemControlLoop = 0x10,
};

// Line errors in the Windows CE_ numbering.
enum SerialLineError : uint32_t {
  kLineErrorReceiveOverflow = 0x1,  // CE_RXOVER
  kLineErrorOverrun = 0x2,          // CE_OVERRUN
  kLineErrorParity = 0x4,           // CE_RXPARITY
  kLineErrorFrame = 0x8,            // CE_FRAME
  kLineErrorBreak = 0x10,           // CE_BREAK
};

class SerialLine {
 public:
  SerialLine() = default;
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // Opens the device for reading and writing, exclusively.
  bool open(const std::string& devicePath);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  // False once the far end hung up or the device went away (reads and
  // waits then fail); the line must be closed and opened again.
  bool isUsable() const;

  // Speed, framing and flow control in one step; nothing changes on failure.
  bool configure(const SerialSettings& settings);
  // Changes the speed only; the old speed stays when the new one is refused.
  bool setBaudRate(uint32_t baudRate);
  // Writes wait at most writeTotalMs + writePerByteMs x bytes for room in
  // the driver (0 and 0: at most kUnboundedWriteMs). Reads never wait.
  void setWriteTimeout(uint32_t writeTotalMs, uint32_t writePerByteMs);

  // Bytes read (0 when nothing waits), -1 on failure.
  int32_t read(void* buffer, uint32_t size);
  // Bytes written (fewer when the time-out ran out), -1 on failure.
  int32_t write(const void* data, uint32_t count);
  // Bytes in the driver's receive / send queue, -1 on failure.
  int32_t inQueue() const;
  int32_t outQueue() const;
  // Line errors seen since the last call (CE_ bits); 0 where the device keeps no count.
  uint32_t takeLineErrors();
  // Drops what waits in both directions.
  bool purge();

  // The events waitEvents reports; changing it wakes a waiter.
  void setEventMask(uint32_t mask);
  uint32_t eventMask() const { return mask_.load(); }
  // Waits for events of the mask: 1 with *events set, 0 when woken by
  // wake() or a mask change with nothing to report, -1 when the line failed
  // (hang-up) or is closed. Characters received are reported once per
  // arrival, the send buffer empty once after each write.
  int32_t waitEvents(uint32_t* events);
  void wake();

  // Modem lines.
  bool modemStatus(uint32_t* bits);
  bool setDtr(bool on);
  bool setRts(bool on);
  bool setBreak(bool on);
  // Reads / changes the modem control register bits (OUT1, LOOP...).
  bool modemControl(uint32_t* bits);
  bool setModemControl(uint32_t bits, bool on);

  static constexpr uint32_t kUnboundedWriteMs = 10000;

 private:
  bool modemLines(unsigned long request, int bits);
  int fd_ = -1;
  int wakeFd_ = -1;
  std::atomic<uint32_t> mask_{0};
  mutable std::atomic<bool> broken_{false};
  std::atomic<int32_t> receivedReported_{0};
  std::atomic<bool> transmitPending_{false};
  std::atomic<uint32_t> writeTotalMs_{0};
  std::atomic<uint32_t> writePerByteMs_{0};
  uint32_t lastCounts_[5] = {0, 0, 0, 0, 0};
  bool countsKnown_ = false;
};

}  // namespace platform
