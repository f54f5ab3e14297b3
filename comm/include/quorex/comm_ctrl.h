// CCommCtrl: one port endpoint with its settings as text, the settings string
// of six comma-separated fields (port, baud rate, data bits, parity, stop
// bits, flow control), the profile keys, the traffic log and the event thread
// that reports the port's events to an owner window or a callback.
//
// The text settings are kept exactly as set and read only when the port
// opens. Parity words are stored in their Japanese form ("なし", "奇数",
// "偶数", "ﾏｰｸ", "ｽﾍﾟｰｽ"); the English words and letters are accepted too.
//
// The port name is "COMn" or a device path. "COMn" is looked up in the
// profile section "<profile section>\Devices" under the key "COMn"; without
// a value there it is /dev/ttyS<n-1>. A name in the "\\.\COMn" form is the
// same as "COMn".
//
// Threads: the owner's thread configures, opens, reads, writes and closes;
// the event thread only reports events. Members return non-zero (or a byte
// count) on success and 0 or -1 on failure.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "quorex/comm_types.h"
#include "quorex/export.h"

namespace platform {
class SerialLine;
class Event;
class File;
}  // namespace platform

class QUOREX_API CCommCtrl {
 public:
  CCommCtrl();
  virtual ~CCommCtrl();
  CCommCtrl(const CCommCtrl&) = delete;
  CCommCtrl& operator=(const CCommCtrl&) = delete;

  // --- settings ---------------------------------------------------------------
  std::string GetPortName() const;
  void SetPortName(const char* name);
  std::string GetBoudRate() const;
  void SetBoudRate(const char* baud);
  std::string GetDataBit() const;
  void SetDataBit(const char* bits);
  std::string GetParity() const;
  void SetParity(const char* parity);  // stored as given
  std::string GetStopBit() const;
  void SetStopBit(const char* bits);
  std::string GetFlow() const;
  void SetFlow(const char* flow);
  std::string GetProfileSectionA() const;
  void SetProfileSection(const char* section);

  // Splits at commas: port, baud, data bits, parity, stop bits, flow; a
  // missing field keeps its setting, a sixth comma and what follows are
  // ignored. Parity is stored in its Japanese form, flow "N"/"None" as "なし".
  void SetSettings(const std::string& settings);
  void SetSettings(const char* settings);
  std::string GetSettings() const;

  // Profile keys under the profile section, chosen by flag bits (0x2 "Port",
  // 0x4 "BoudRate", 0x8 "DataBit", 0x10 "Parity", 0x20 "StopBit", 0x40
  // "Flow", 0x100 "UDP", 0x200 "Recv Port", 0x400 "Send Port", 0x800 "Send
  // Adrs", 0x10000 "Sock Mode").
  void GetProfileSettings(uint32_t flags);
  void WriteProfileSettings(uint32_t flags);

  int32_t GetCommLogging() const { return logging_; }
  void SetCommLogging(int32_t on) { logging_ = on; }
  void SetLogDirStr(int32_t on) { logDirectionMarks_ = on; }
  void SetLogTimeStr(int32_t on) { logTimeStamps_ = on; }
  uint32_t GetMsgIDEvent() const { return messageId_; }
  void SetMsgIDEvent(uint32_t id) { messageId_ = id; }
  int32_t GetInputBufferSize() const { return inputBufferSize_; }
  void SetInputBufferSize(int32_t size) { inputBufferSize_ = size; }
  int32_t GetOutputBufferSize() const { return outputBufferSize_; }
  void SetOutputBufferSize(int32_t size) { outputBufferSize_ = size; }
  uint8_t GetEventChar() const { return eventChar_; }
  void SetEventChar(uint8_t c) { eventChar_ = c; }
  uint8_t GetEofChar() const { return eofChar_; }
  void SetEofChar(uint8_t c) { eofChar_ = c; }
  uint8_t GetErrorChar() const { return errorChar_; }
  void SetErrorChar(uint8_t c) { errorChar_ = c; }
  uint32_t GetReadTotalTimeoutConstant() const { return readTotalTimeout_; }
  void SetReadTotalTimeoutConstant(uint32_t ms) { readTotalTimeout_ = ms; }
  uint32_t GetWriteTotalTimeoutConstant() const { return writeTotalTimeout_; }
  void SetWriteTotalTimeoutConstant(uint32_t ms) { writeTotalTimeout_ = ms; }
  uint32_t GetEventMask() const { return eventMask_; }
  // In serial mode the mask applies to an open port at once.
  void SetEventMask(uint32_t mask);

  int32_t IsSocket() const { return socketMode_; }
  void SetSocket(int32_t on) { socketMode_ = on; }
  int32_t IsSockStartup() const { return socketStartup_; }
  void SetSockStartup(int32_t on) { socketStartup_ = on; }
  int32_t IsUdp() const { return udp_; }
  void SetSrvPrtcl(int32_t udp) { udp_ = udp; }
  uint32_t GetRecvPort() const { return receivePort_; }
  void SetRecvPort(uint32_t port) { receivePort_ = port; }
  uint32_t GetSendPort() const { return sendPort_; }
  void SetSendPort(uint32_t port) { sendPort_ = port; }
  uint32_t GetProtocol() const { return protocol_; }
  void SetProtocol(uint32_t protocol) { protocol_ = protocol; }
  uint32_t GetSendAdrs() const { return sendAddress_; }
  void SetSendAdrs(uint32_t address);  // also rewrites the address text
  std::string GetSendAdrsStr() const { return sendAddressText_; }
  void SetSendAdrsStr(const char* text);
  int32_t IsSockCon() const { return socketConnected_; }
  int32_t IsReqCon() const { return connectRequest_; }
  void SetReqCon(int32_t on) { connectRequest_ = on; }
  // The next read or write starts with a direction mark.
  void ResetDir();

  // First place where the pattern occurs in the data, or null (also for null
  // pointers or a pattern longer than the data); an empty pattern matches at data.
  static const uint8_t* MemData(const uint8_t* data, uint32_t dataLength, const uint8_t* pattern,
                                uint32_t patternLength);

  // --- the port ---------------------------------------------------------------
  // 1 open, 0 failed (bad settings fail before the device is touched). With a
  // callback, events go to it with owner as its value; without one they are
  // posted to the owner window as the message id, wParam the event.
  int32_t CommOpen(HWND owner, CommCallback callback = nullptr);
  void CommClose();
  int32_t IsOpen() const { return open_.load(); }
  // 1 while the device is there and answering; 0 once it went away.
  int32_t IsPortValid() const;
  int32_t CommRead(void* buffer, int32_t size, uint32_t* errors);
  int32_t CommWrite(const void* data, int32_t length, uint32_t* errors);
  // 0 delivered or dropped as a duplicate; -1 no window or the post failed;
  // else the callback's result.
  uint32_t CommEvent(uint32_t event);
  int32_t GetInQue();
  int32_t GetOutQue();
  // Line errors gathered by GetInQue/GetOutQue since the last read or write.
  void AddCommErrors(uint32_t errors) { gatheredErrors_ |= errors; }
  uint32_t CommGetStatus();
  int32_t CommCtrlBaudRate(uint32_t baud);
  int32_t CommCtrlBreak(int32_t on);
  int32_t CommCtrlDtr(int32_t on);
  int32_t CommCtrlRts(int32_t on);
  int32_t CommCtrlOut1(int32_t on);
  int32_t CommCtrlLoop(int32_t on);
  // SETXOFF 1, SETXON 2, SETRTS 3, CLRRTS 4, SETDTR 5, CLRDTR 6, SETBREAK 8, CLRBREAK 9.
  int32_t CommFunction(uint32_t function);
  // Seconds one character takes on the line at the open settings.
  double GetCharTime() const { return characterTime_; }
  // The device path a port name stands for.
  std::string DevicePathOf(const std::string& portName) const;

  // --- socket mode -------------------------------------------------------------
  // With the socket-mode switch on, CommOpen, CommClose, CommRead, CommWrite
  // and GetInQue reach these. One UDP socket (the send address and port
  // follow the last sender), a TCP client (connect request 1) or a TCP
  // server (connect request 0) that serves one client at a time and takes
  // the next when it leaves. Received packets wait in a ring of 255; a full
  // ring drops its oldest packet, and the next read reports 0x1 (receive
  // overflow) in *errors. A passing receive error (a refused datagram, a
  // reset) is reported the same way and the port keeps receiving.
  int32_t SockOpen(HWND owner, CommCallback callback);
  void SockClose();
  // Bytes of the oldest packet copied (one read never spans two packets), 0
  // when nothing waits, -1 for a null buffer or size <= 0.
  int32_t SockRead(void* buffer, int32_t size, uint32_t* errors);
  // The bytes handed to the socket, as the serial write counts them; -1 on
  // failure, for no data or a length of 0.
  int32_t SockWrite(const void* data, int32_t length, uint32_t* errors);
  // The unread bytes of the oldest waiting packet, 0 when none.
  int32_t GetSockInQue();

  // --- settings dialogs ----------------------------------------------------------
  // The serial dialogs: flags 0x2..0x40 enable the six choices, 0x20000 adds
  // the modem lines, 0x40000 the COM ports, 0x100000 reads the profile keys
  // before and writes them after OK, 0x10000000 shows the port choice only.
  // 1 OK, 2 Cancel, 3 when a list cannot be made or added.
  int32_t CommSet(uint32_t flags, HWND parent = nullptr);
  int32_t CommSetEn(uint32_t flags, HWND parent = nullptr);
  // The socket dialog; 0x100000 reads and writes the socket profile keys.
  int32_t SockSet(uint32_t flags, HWND parent = nullptr);

  // --- the traffic log ----------------------------------------------------------
  // The log operations return 1 on success and 0 on failure, with the
  // thread's last error set (platform/base/last_error.h); a log that is
  // closed or switched off is no failure.
  std::string GetLogFileName() const { return logFileName_; }
  int32_t SetLogFileName(const std::string& name);
  int32_t SetLogFileName(const char* name);
  int32_t RemoveLogFile(const std::string& newName);
  int32_t RemoveLogFile(const char* newName);
  int32_t InsLogDate();
  int32_t LogWrite(const std::string& text);
  int32_t LogWrite(const char* text);
  // The error of the last log write that failed since the log was opened
  // (0 when none): the traffic of CommRead and CommWrite is logged on the
  // way, so their results cannot carry it.
  uint32_t GetLogError() const { return logError_.load(); }

 private:
  enum Direction : int32_t { kDirectionNone = 0, kDirectionReceived = 1, kDirectionSent = 2 };
  void EventThread(uint32_t generation);
  int32_t RunSerialDialog(uint32_t flags, HWND parent, bool english);
  bool OpenLog(bool truncate);
  void CloseLog();
  bool WriteLogDate();
  void LogData(Direction direction, const void* data, int32_t length);
  bool WriteLogBytes(const std::string& bytes);
  bool LogIsOpen() const;
  void ReleasePort();
  struct SocketPort;
  void SocketThread();
  bool SocketReport(uint32_t event);
  // Ends what is left of an earlier socket open; false when that cannot be
  // done from this thread.
  bool RetireSocketPort();
  int32_t ModemControlBit(uint32_t bit, int32_t on);

  // The open flag and the event thread.
  std::atomic<int32_t> open_{0};
  std::atomic<int32_t> socketConnected_{0};
  uint32_t eventMask_ = kCommEventReceived;
  double characterTime_ = 0.0;
  std::unique_ptr<platform::SerialLine> line_;
  // Set by the event thread as it ends; close waits for it.
  // Signalled by the event thread as it ends; each thread holds its own, so
  // one let go after a close that timed out never touches a later one's.
  std::shared_ptr<platform::Event> threadEnded_;
  // Moves on at every open and close: a thread of an earlier open stops.
  std::atomic<uint32_t> threadGeneration_{0};
  std::thread eventThread_;
  std::atomic<bool> threadRunning_{false};
  std::atomic<HWND> owner_{nullptr};
  std::atomic<CommCallback> callback_{nullptr};
  // The callback's owner value: kept after close, so a late event never
  // hands the callback a null owner.
  std::atomic<intptr_t> callbackOwner_{0};
  int32_t frameBits_ = 10;  // start, data, parity and stop bits at the open settings
  bool dtrOn_ = false;
  bool rtsOn_ = false;

  // Settings.
  std::string profileSection_;
  std::string portName_;
  std::string baudRate_;
  std::string dataBits_;
  std::string parity_;
  std::string stopBits_;
  std::string flow_;
  int32_t inputBufferSize_ = 4096;
  int32_t outputBufferSize_ = 4096;
  uint8_t eventChar_ = 0x10;
  uint8_t eofChar_ = 0x00;
  uint8_t errorChar_ = 0x3F;
  uint32_t messageId_ = 0x0E00;
  uint32_t readTotalTimeout_ = 0;
  uint32_t writeTotalTimeout_ = 0;
  std::atomic<uint32_t> gatheredErrors_{0};

  // Socket settings (the socket side keeps its own state).
  int32_t socketMode_ = 0;
  int32_t socketStartup_ = 1;
  int32_t udp_ = 0;
  int32_t connectRequest_ = 0;
  uint32_t receivePort_ = 0;
  uint32_t sendPort_ = 0;
  uint32_t protocol_ = 0;
  uint32_t sendAddress_ = 0x7F000001;
  std::string sendAddressText_;
  std::unique_ptr<SocketPort> socketPort_;

  // The traffic log; the lock keeps lines whole when both threads log.
  std::string logFileName_;
  std::unique_ptr<platform::File> log_;
  std::atomic<uint32_t> logError_{0};
  std::recursive_mutex logLock_;
  Direction lastDirection_ = kDirectionNone;
  int32_t logging_ = 0;
  int32_t logDirectionMarks_ = 1;
  int32_t logTimeStamps_ = 0;
};
