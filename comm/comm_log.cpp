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
//
// The log goes through the platform layer's files: opened for writing with
// others allowed to read, every write checked. A write that fails sets the
// log error (GetLogError) and the caller's result; the log stays open, so
// the next write tries again.
#include <cstdio>

#include "platform/base/clock.h"
#include "platform/base/file.h"
#include "platform/base/last_error.h"
#include "quorex/comm_ctrl.h"

namespace {

std::string format(const char* pattern, unsigned a, unsigned b, unsigned c) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

}  // namespace

bool CCommCtrl::LogIsOpen() const { return log_ && log_->isOpen(); }

bool CCommCtrl::OpenLog(bool truncate) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  CloseLog();
  platform::File file = platform::File::open(logFileName_, platform::kFileWrite, platform::kShareRead,
                                             truncate ? platform::kCreateAlways : platform::kOpenAlways);
  if (!file.isOpen()) return false;
  log_ = std::make_unique<platform::File>(std::move(file));
  logError_ = 0;
  lastDirection_ = kDirectionNone;
  // A failed date line shows in the log error; the log itself is open.
  if (logTimeStamps_) WriteLogDate();
  return true;
}

void CCommCtrl::CloseLog() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  log_.reset();
}

bool CCommCtrl::WriteLogBytes(const std::string& bytes) {
  if (!LogIsOpen()) return true;
  uint32_t done = 0;
  bool ok = log_->seek(0, platform::kSeekEnd) >= 0 &&
            log_->write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done);
  if (ok && done != bytes.size()) {
    platform::setLastError(platform::kErrorDiskFull);
    ok = false;
  }
  if (!ok) logError_ = platform::lastError();
  return ok;
}

bool CCommCtrl::WriteLogDate() {
  platform::LocalTime t = platform::localTime();
  char text[64];
  std::snprintf(text, sizeof text, "\r\n<%4u/%2u/%2u %02u:%02u:%02u>\r\n", unsigned(t.year), unsigned(t.month),
                unsigned(t.day), unsigned(t.hour), unsigned(t.minute), unsigned(t.second));
  return WriteLogBytes(text);
}

void CCommCtrl::ResetDir() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  lastDirection_ = kDirectionNone;
}

void CCommCtrl::LogData(Direction direction, const void* data, int32_t length) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (!logging_ || !LogIsOpen() || length <= 0) return;
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
  // The bytes went over the line all the same: a failed log write shows in
  // the log error, not in the read or write result.
  WriteLogBytes(out);
}

int32_t CCommCtrl::SetLogFileName(const char* name) { return SetLogFileName(std::string(name ? name : "")); }

int32_t CCommCtrl::SetLogFileName(const std::string& name) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  std::string next = name.empty() ? std::string("LOG.TXT") : name;
  if (next == logFileName_) return 1;
  logFileName_ = next;
  if (!LogIsOpen()) return 1;
  uint32_t error = 0;
  if (logTimeStamps_ && !WriteLogDate()) error = platform::lastError();
  CloseLog();
  if (logging_ && !OpenLog(false) && !error) error = platform::lastError();
  if (!error && LogIsOpen()) error = logError_.load();  // the new log's date line
  if (!error) return 1;
  platform::setLastError(error);
  return 0;
}

int32_t CCommCtrl::RemoveLogFile(const char* newName) { return RemoveLogFile(std::string(newName ? newName : "")); }

int32_t CCommCtrl::RemoveLogFile(const std::string& newName) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  uint32_t error = 0;
  if (LogIsOpen()) {
    if (logTimeStamps_ && !WriteLogDate()) error = platform::lastError();
    lastDirection_ = kDirectionNone;
    CloseLog();
  }
  // The fresh log starts empty only once the old one is kept under the new
  // name: when it could not be moved, the log goes on where it was.
  bool kept = true;
  if (!newName.empty()) {
    if (platform::fileExists(newName) && !platform::deleteFile(newName)) {
      kept = false;
      error = platform::lastError();
    } else if (!platform::moveFile(logFileName_, newName, false) &&
               platform::lastError() != platform::kErrorFileNotFound) {  // no log yet: nothing to keep
      kept = false;
      error = platform::lastError();
    }
  }
  if (logging_ && !OpenLog(kept) && !error) error = platform::lastError();
  if (!error && LogIsOpen()) error = logError_.load();  // the new log's date line
  if (!error) return 1;
  platform::setLastError(error);
  return 0;
}

int32_t CCommCtrl::InsLogDate() {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (!LogIsOpen()) return 1;
  return WriteLogDate() ? 1 : 0;
}

int32_t CCommCtrl::LogWrite(const char* text) { return LogWrite(std::string(text ? text : "")); }

int32_t CCommCtrl::LogWrite(const std::string& text) {
  std::lock_guard<std::recursive_mutex> guard(logLock_);
  if (!logging_ || !LogIsOpen()) return 1;
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
  return WriteLogBytes(out) ? 1 : 0;
}
