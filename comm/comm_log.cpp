// CCommCtrl: the traffic log.
//
// The log is text written as bytes and always appended:
//
//   date line        "\r\n<%4u/%2u/%2u %02u:%02u:%02u>\r\n"  (month and day padded with blanks)
//   direction mark   before data whenever the direction changes (and first
//                    after the log opened, ResetDir or LogWrite):
//                      time stamps on:  "<%02u:%02u:%02u" then " RX>" / " TX>"
//                                       with direction marks on, ">" with them off
//                      time stamps off: "RX>" / "TX>" with marks on, nothing with them off
//   data             the bytes received or sent, as they are
//   caller's line    "\r\n<%02u:%02u:%02u " + text + ">\r\n" with time stamps on,
//                    "\r\n<" + text + ">\r\n" with them off
#include <cstdio>

#include "platform/base/clock.h"
#include "quorex/comm_ctrl.h"

namespace {

std::string format(const char* pattern, unsigned a, unsigned b, unsigned c) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

}  // namespace

bool CCommCtrl::OpenLog(bool truncate) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (log_) {
    std::fclose(log_);
    log_ = nullptr;
  }
  log_ = std::fopen(logFileName_.c_str(), truncate ? "wb" : "ab");
  if (!log_) return false;
  lastDirection_ = kDirectionNone;
  if (logTimeStamps_) WriteLogDate();
  return true;
}

void CCommCtrl::CloseLog() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (log_) {
    std::fclose(log_);
    log_ = nullptr;
  }
}

void CCommCtrl::WriteLogBytes(const std::string& bytes) {
  if (!log_) return;
  std::fseek(log_, 0, SEEK_END);
  std::fwrite(bytes.data(), 1, bytes.size(), log_);
  std::fflush(log_);
}

void CCommCtrl::WriteLogDate() {
  platform::LocalTime t = platform::localTime();
  char text[64];
  std::snprintf(text, sizeof text, "\r\n<%4u/%2u/%2u %02u:%02u:%02u>\r\n", unsigned(t.year), unsigned(t.month),
                unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
  WriteLogBytes(text);
}

void CCommCtrl::ResetDir() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  lastDirection_ = kDirectionNone;
}

void CCommCtrl::LogData(Direction direction, const void* data, int32_t length) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (!logging_ || !log_ || length <= 0) return;
  std::string out;
  if (lastDirection_ != direction) {
    const char* mark = direction == kDirectionReceived ? "RX>" : "TX>";
    if (logTimeStamps_) {
      platform::LocalTime t = platform::localTime();
      out = format("<%02u:%02u:%02u", unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
      out += logDirectionMarks_ ? std::string(" ") + mark : std::string(">");
    } else if (logDirectionMarks_) {
      out = mark;
    }
    lastDirection_ = direction;
  }
  out.append(static_cast<const char*>(data), static_cast<size_t>(length));
  WriteLogBytes(out);
}

void CCommCtrl::SetLogFileName(const char* name) { SetLogFileName(std::string(name ? name : "")); }

void CCommCtrl::SetLogFileName(const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  std::string next = name.empty() ? std::string("LOG.TXT") : name;
  if (next == logFileName_) return;
  logFileName_ = next;
  if (!log_) return;
  if (logTimeStamps_) WriteLogDate();
  CloseLog();
  if (logging_) OpenLog(false);
}

void CCommCtrl::RemoveLogFile(const char* newName) { RemoveLogFile(std::string(newName ? newName : "")); }

void CCommCtrl::RemoveLogFile(const std::string& newName) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (log_) {
    if (logTimeStamps_) WriteLogDate();
    lastDirection_ = kDirectionNone;
    CloseLog();
  }
  if (!newName.empty()) {
    std::remove(newName.c_str());
    std::rename(logFileName_.c_str(), newName.c_str());
  }
  if (logging_) OpenLog(true);
}

void CCommCtrl::InsLogDate() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (log_) WriteLogDate();
}

void CCommCtrl::LogWrite(const char* text) { LogWrite(std::string(text ? text : "")); }

void CCommCtrl::LogWrite(const std::string& text) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (!logging_ || !log_) return;
  lastDirection_ = kDirectionNone;
  std::string out;
  if (logTimeStamps_) {
    platform::LocalTime t = platform::localTime();
    out = format("\r\n<%02u:%02u:%02u ", unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
  } else {
    out = "\r\n<";
  }
  out += text;
  out += ">\r\n";
  WriteLogBytes(out);
}
