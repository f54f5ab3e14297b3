#include "peers/file_service_peer.h"

#include <chrono>
#include <cstring>

#include "platform/base/last_error.h"

namespace testing_support {

namespace {

constexpr uint8_t kDone = 0x06;
constexpr uint8_t kData = 0x42;
constexpr uint8_t kRefused = 0x15;  // a refusal whose number is a Win32 error
constexpr size_t kDescriptorSize = 360;
constexpr uint32_t kDescriptorMark = 125;
constexpr uint32_t kAttributeNormal = 0x80;

}  // namespace

FileServicePeer::FileServicePeer() {
  listener_.open(platform::kSocketStream, 0);
  listener_.listen(4);
  port_ = listener_.localPort();
  thread_ = std::thread([this] { run(); });
}

FileServicePeer::~FileServicePeer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (current_) current_->shutdown();
  }
  listener_.shutdown();
  thread_.join();
}

void FileServicePeer::setGreeting(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  greeting_ = line;
}

void FileServicePeer::setOneByteWrites(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  oneByteWrites_ = on;
}

void FileServicePeer::queue(const Answer& answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.push_back(answer);
}

void FileServicePeer::serveFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder;
}

void FileServicePeer::serveRecords(Backend backend) {
  std::lock_guard<std::mutex> lock(mutex_);
  backend_ = std::move(backend);
}

void FileServicePeer::setHook(Hook hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

void FileServicePeer::setClockAhead(int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  clockAhead_ = seconds;
}

std::string FileServicePeer::clientLine() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return clientLine_;
}

std::vector<std::string> FileServicePeer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool FileServicePeer::waitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return requests_.size() >= count; });
}

std::string FileServicePeer::u16(uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string FileServicePeer::u32(uint32_t value) { return u16(static_cast<uint16_t>(value)) + u16(value >> 16); }

uint16_t FileServicePeer::u16At(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) | (static_cast<uint8_t>(bytes[offset + 1]) << 8));
}

uint32_t FileServicePeer::u32At(const std::string& bytes, size_t offset) {
  return u16At(bytes, offset) | (static_cast<uint32_t>(u16At(bytes, offset + 2)) << 16);
}

std::string FileServicePeer::frame(uint8_t code, uint8_t number, uint32_t handle, const std::string& payload) {
  std::string f = u16(22) + u16(static_cast<uint16_t>(payload.size() + 6)) + u32(handle);
  f += static_cast<char>(code);
  f += static_cast<char>(number);
  return f + payload;
}

void FileServicePeer::run() {
  for (;;) {
    platform::Socket connection;
    if (!listener_.accept(&connection, nullptr, nullptr)) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) return;
      current_ = &connection;
    }
    connection.setNoDelay(true);
    serveConnection(connection);
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = nullptr;
    files_.clear();
    if (stopping_) return;
  }
}

bool FileServicePeer::readExactly(platform::Socket& connection, std::string* into, size_t count) {
  while (into->size() < count) {
    char buffer[4096];
    size_t want = std::min(sizeof buffer, count - into->size());
    int32_t n = connection.receive(buffer, static_cast<int32_t>(want));
    if (n <= 0) return false;
    into->append(buffer, static_cast<size_t>(n));
  }
  return true;
}

void FileServicePeer::sendAnswer(platform::Socket& connection, const Answer& answer, bool* keepGoing) {
  bool oneByte;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    oneByte = oneByteWrites_ || answer.oneByteWrites;
  }
  if (oneByte) {
    for (char c : answer.bytes) connection.send(&c, 1);
  } else if (!answer.bytes.empty()) {
    connection.send(answer.bytes.data(), static_cast<int32_t>(answer.bytes.size()));
  }
  if (answer.resetAfter) {
    connection.reset();
    *keepGoing = false;
  } else if (answer.silentAfter) {
    // Hold the connection open and say nothing until the client goes away.
    char c;
    while (connection.receive(&c, 1) > 0) {
    }
    *keepGoing = false;
  }
}

void FileServicePeer::serveConnection(platform::Socket& connection) {
  bool keepGoing = true;
  while (keepGoing) {
    std::string head;
    if (!readExactly(connection, &head, 1)) return;
    if (head[0] == '#') {
      // The handshake line, up to its line feed.
      while (head.back() != '\n') {
        if (!readExactly(connection, &head, head.size() + 1)) return;
      }
      std::string greeting;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        clientLine_ = head;
        greeting = greeting_;
      }
      changed_.notify_all();
      sendAnswer(connection, Answer{greeting}, &keepGoing);
      continue;
    }
    if (!readExactly(connection, &head, 4)) return;
    const size_t total = u16At(head, 2) + 4u;
    if (!readExactly(connection, &head, total)) return;
    Answer answer;
    bool scripted = false;
    Backend backend;
    Hook hook;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(head);
      if (!script_.empty()) {
        answer = script_.front();
        script_.pop_front();
        scripted = true;
      }
      backend = backend_;
      hook = hook_;
    }
    changed_.notify_all();
    if (!scripted && hook && !hook(head)) return;
    if (!scripted) {
      std::optional<std::string> served = backend ? backend(head) : std::nullopt;
      answer.bytes = served ? *served : answerFromFolder(head);
    }
    sendAnswer(connection, answer, &keepGoing);
  }
}

// The folder server: names are paths under the folder, '\' or '/' separated.
std::string FileServicePeer::answerFromFolder(const std::string& request) {
  const uint32_t handle = u32At(request, 4);
  const uint8_t letter = static_cast<uint8_t>(request[8]);
  const uint8_t argument = static_cast<uint8_t>(request[9]);
  const std::string payload = request.substr(10);
  auto refuse = [&](uint32_t error) { return frame(kRefused, static_cast<uint8_t>(error), handle); };
  auto pathOf = [&](const std::string& name) {
    std::string path = folder_ + "/";
    for (char c : name) path += c == '\\' ? '/' : c;
    return path;
  };
  auto nameAt = [&](size_t offset) {
    const int32_t length = static_cast<int32_t>(u32At(payload, offset));
    std::string name = payload.substr(offset + 4, length < 0 ? std::string::npos : static_cast<size_t>(length));
    return name.substr(0, name.find('\0'));
  };
  std::lock_guard<std::mutex> lock(mutex_);
  if (folder_.empty()) return refuse(platform::kErrorNotSupported);

  if (letter == 'A') {
    const uint32_t mode = u32At(payload, 0);
    uint32_t access = 0;
    if (mode & 0x2000) access |= platform::kFileRead;
    if (mode & 0x4000) access |= platform::kFileWrite;
    const uint32_t disposition = (mode & 0x401) == 0x401 || (mode & 0x4000) ? platform::kOpenAlways
                                                                              : platform::kOpenExisting;
    platform::File file = platform::File::open(pathOf(nameAt(8)), access, platform::kShareRead | platform::kShareWrite,
                                               disposition);
    if (!file.isOpen()) return refuse(platform::lastError());
    const uint32_t h = nextHandle_++;
    files_[h] = std::move(file);
    return frame(kDone, 0, h);
  }
  if (letter == 'E') {
    platform::File gone = platform::File::open(pathOf(nameAt(0)), platform::kFileWrite, 0, platform::kOpenExisting,
                                               platform::kFileDeleteOnClose);
    if (!gone.isOpen()) return refuse(platform::lastError());
    return frame(kDone, 0, 0);
  }
  if (letter == 'I') {
    const std::string path = pathOf(nameAt(0));
    platform::File probe = platform::File::open(path, platform::kFileRead, platform::kShareRead |
                                                platform::kShareWrite, platform::kOpenExisting);
    if (!probe.isOpen()) return frame(kDone, 0, 0);
    // An existing entry is answered with its descriptor, as the server's
    // container store describes it: the times and the size are what the
    // client reads of it.
    std::string descriptor(kDescriptorSize, '\0');
    auto put = [&](size_t at, const std::string& bytes) { descriptor.replace(at, bytes.size(), bytes); };
    const uint64_t written = platform::fileWriteFileTime(path) + static_cast<uint64_t>(clockAhead_ * 10000000);
    const uint64_t size = static_cast<uint64_t>(probe.size());
    put(0, u32(kDescriptorMark));
    put(36, u32(kAttributeNormal));
    for (size_t at : {40, 48, 56}) put(at, u32(static_cast<uint32_t>(written)) + u32(static_cast<uint32_t>(written >> 32)));
    put(64, u32(static_cast<uint32_t>(size >> 32)) + u32(static_cast<uint32_t>(size)));
    const std::string name = nameAt(0);
    put(72, name.substr(name.find_last_of("\\/") + 1).substr(0, 127));
    return frame(kData, 1, 0, descriptor);
  }
  auto found = files_.find(handle);
  if (found == files_.end()) return refuse(platform::kErrorInvalidHandle);
  platform::File& file = found->second;
  auto distance = [&](size_t offset) {
    return static_cast<int64_t>(static_cast<uint64_t>(u32At(payload, offset)) |
                                (static_cast<uint64_t>(u32At(payload, offset + 4)) << 32));
  };
  auto position = [&](int64_t value) {
    return frame(kData, 0, handle, u32(static_cast<uint32_t>(value)) + u32(static_cast<uint32_t>(value >> 32)));
  };
  switch (letter) {
    case 'D':
      files_.erase(found);
      return frame(kDone, 0, handle);
    case 'G': return position(file.size());
    case 'P': {
      int64_t at = file.seek(distance(0), argument);
      return at < 0 ? refuse(platform::lastError()) : position(at);
    }
    case 'S': {
      const int64_t size = distance(0);
      if (size != -1 && file.seek(size, platform::kSeekBegin) < 0) return refuse(platform::lastError());
      return file.setEndOfFile() ? frame(kDone, 0, handle) : refuse(platform::lastError());
    }
    case 'R': {
      const uint16_t count = u16At(payload, 0);
      if (argument != 0xFF && file.seek(distance(2), argument) < 0) return refuse(platform::lastError());
      std::string data(count, '\0');
      uint32_t done = 0;
      if (!file.read(data.data(), count, &done)) return refuse(platform::lastError());
      return frame(kData, 0, handle, data.substr(0, done));
    }
    case 'W': {
      size_t at = 0;
      if (argument != 0xFF) {
        if (file.seek(distance(0), argument) < 0) return refuse(platform::lastError());
        at = 8;
      }
      uint32_t done = 0;
      if (!file.write(payload.data() + at, static_cast<uint32_t>(payload.size() - at), &done))
        return refuse(platform::lastError());
      return frame(kDone, 0, handle);
    }
    default: return refuse(platform::kErrorBadCommand);
  }
}

}  // namespace testing_support
