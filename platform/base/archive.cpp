// Zip archives through libarchive (see archive.h).
#include "platform/base/archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/base/file.h"
#include "platform/base/path.h"

namespace platform {

namespace {

constexpr size_t kChunk = 64 * 1024;

struct ReaderDeleter {
  void operator()(struct archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(struct archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<struct archive, ReaderDeleter>;
using Writer = std::unique_ptr<struct archive, WriterDeleter>;

std::string baseName(const std::string& path) {
  const size_t slash = lastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int32_t fail(std::string* output, const std::string& text) {
  if (output) *output = text;
  return kArchiveFatal;
}

std::string archiveText(struct archive* a, const std::string& what) {
  const char* text = a ? archive_error_string(a) : nullptr;
  return what + (text ? ": " + std::string(text) : std::string());
}

Reader openReader(const std::string& native) {
  Reader reader(archive_read_new());
  if (!reader) return reader;
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), native.c_str(), kChunk) != ARCHIVE_OK) {
    return Reader(nullptr);
  }
  return reader;
}

bool syncPath(const std::string& native) {
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool syncFolderOf(const std::string& native) {
  const size_t slash = native.rfind('/');
  return syncPath(slash == std::string::npos ? "." : slash == 0 ? "/" : native.substr(0, slash));
}

// Copies the data of the reader's current entry into the writer's.
bool copyData(struct archive* from, struct archive* to) {
  std::vector<char> buffer(kChunk);
  for (;;) {
    const la_ssize_t got = archive_read_data(from, buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) return true;
    if (archive_write_data(to, buffer.data(), static_cast<size_t>(got)) != got) return false;
  }
}

}  // namespace

int32_t zipAddFile(const std::string& archive, const std::string& file, std::string* output,
                   const ArchiveProgress& progress) {
  if (output) output->clear();
  const std::string nativeArchive = mapPath(archive);
  const std::string nativeFile = mapPath(file);
  const std::string name = baseName(file);
  const std::string scratch = nativeArchive + ".new";

  const int source = ::open(nativeFile.c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) return fail(output, nativeFile + ": " + std::strerror(errno));
  struct stat st {};
  ::fstat(source, &st);
  const uint64_t total = static_cast<uint64_t>(st.st_size);

  Writer writer(archive_write_new());
  if (!writer) {
    ::close(source);
    return kArchiveNoMemory;
  }
  archive_write_set_format_zip(writer.get());
  // Fast compression, as backups at the counter must not keep the shop waiting.
  archive_write_set_options(writer.get(), "zip:compression-level=1");
  if (archive_write_open_filename(writer.get(), scratch.c_str()) != ARCHIVE_OK) {
    const std::string text = archiveText(writer.get(), scratch);
    ::close(source);
    return fail(output, text);
  }
  auto abandon = [&](const std::string& text) {
    ::close(source);
    writer.reset();
    ::unlink(scratch.c_str());
    return fail(output, text);
  };

  // The entries already in the archive come first, except one of the same name.
  struct stat existing {};
  if (::stat(nativeArchive.c_str(), &existing) == 0) {
    Reader reader = openReader(nativeArchive);
    if (!reader) return abandon(nativeArchive + ": not a readable zip archive");
    struct archive_entry* entry = nullptr;
    int rc;
    while ((rc = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
      const char* entryName = archive_entry_pathname(entry);
      if (entryName && name == entryName) {
        archive_read_data_skip(reader.get());
        continue;
      }
      if (archive_write_header(writer.get(), entry) != ARCHIVE_OK || !copyData(reader.get(), writer.get()))
        return abandon(archiveText(reader.get(), nativeArchive));
    }
    if (rc != ARCHIVE_EOF) return abandon(archiveText(reader.get(), nativeArchive));
  }

  struct archive_entry* entry = archive_entry_new();
  archive_entry_set_pathname(entry, name.c_str());
  archive_entry_set_size(entry, static_cast<la_int64_t>(total));
  archive_entry_set_filetype(entry, AE_IFREG);
  archive_entry_set_perm(entry, st.st_mode & 0777);
  archive_entry_set_mtime(entry, st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  const int headerRc = archive_write_header(writer.get(), entry);
  archive_entry_free(entry);
  if (headerRc != ARCHIVE_OK) return abandon(archiveText(writer.get(), scratch));
  std::vector<char> buffer(kChunk);
  uint64_t written = 0;
  for (;;) {
    const ssize_t got = ::read(source, buffer.data(), buffer.size());
    if (got < 0) return abandon(nativeFile + ": " + std::strerror(errno));
    if (got == 0) break;
    if (archive_write_data(writer.get(), buffer.data(), static_cast<size_t>(got)) != got)
      return abandon(archiveText(writer.get(), scratch));
    written += static_cast<uint64_t>(got);
    if (progress) progress(written, total);
  }
  ::close(source);
  if (archive_write_close(writer.get()) != ARCHIVE_OK) {
    const std::string text = archiveText(writer.get(), scratch);
    writer.reset();
    ::unlink(scratch.c_str());
    return fail(output, text);
  }
  writer.reset();
  if (!syncPath(scratch) || ::rename(scratch.c_str(), nativeArchive.c_str()) != 0) {
    const std::string text = nativeArchive + ": " + std::strerror(errno);
    ::unlink(scratch.c_str());
    return fail(output, text);
  }
  syncFolderOf(nativeArchive);
  if (output) *output = "Everything is Ok";
  return 0;
}

int32_t zipExtract(const std::string& archive, const std::function<std::string(const std::string& name)>& target,
                   std::string* output) {
  if (output) output->clear();
  const std::string nativeArchive = mapPath(archive);
  Reader reader = openReader(nativeArchive);
  if (!reader) return fail(output, nativeArchive + ": not a readable zip archive");
  std::vector<std::string> made;
  auto abandon = [&](const std::string& text) {
    for (const std::string& path : made) ::unlink(path.c_str());
    return fail(output, text);
  };
  struct archive_entry* entry = nullptr;
  int rc;
  std::vector<char> buffer(kChunk);
  while ((rc = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
    const char* entryName = archive_entry_pathname(entry);
    const std::string path = entryName && archive_entry_filetype(entry) == AE_IFREG ? target(entryName) : std::string();
    if (path.empty()) {
      if (archive_read_data_skip(reader.get()) != ARCHIVE_OK) return abandon(archiveText(reader.get(), nativeArchive));
      continue;
    }
    const std::string native = mapPath(path);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return abandon(native + ": " + std::strerror(errno));
    made.push_back(native);
    bool ok = true;
    std::string text;
    for (;;) {
      const la_ssize_t got = archive_read_data(reader.get(), buffer.data(), buffer.size());
      if (got < 0) {
        ok = false;
        text = archiveText(reader.get(), nativeArchive);
        break;
      }
      if (got == 0) break;
      if (::write(fd, buffer.data(), static_cast<size_t>(got)) != got) {
        ok = false;
        text = native + ": " + std::strerror(errno);
        break;
      }
    }
    if (ok && ::fsync(fd) != 0) {
      ok = false;
      text = native + ": " + std::strerror(errno);
    }
    ::close(fd);
    if (!ok) return abandon(text);
  }
  if (rc != ARCHIVE_EOF) return abandon(archiveText(reader.get(), nativeArchive));
  if (!made.empty()) syncFolderOf(made.front());
  if (output) *output = "Everything is Ok";
  return 0;
}

}  // namespace platform
