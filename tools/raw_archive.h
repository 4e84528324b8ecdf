// The raw archive of a link: every byte received, in the order received, in
// DIR/YYYY-MM-DD.raw by the local date of receipt. Files are only ever
// appended to. Read in name order, the files are one stream: a line may
// begin in one day's file and end in the next.
#ifndef TALVO_TOOLS_RAW_ARCHIVE_H_
#define TALVO_TOOLS_RAW_ARCHIVE_H_

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/calendar.h"

namespace talvo::tool {

// The file operations the archive makes, so that a test can make them fail
// (a full disk, a file size limit). The defaults call the system.
class ArchiveFileLayer {
 public:
  virtual ~ArchiveFileLayer() = default;
  // Opens `path` for appending, creating it; the descriptor, or -errno.
  virtual int OpenForAppend(const std::string& path);
  // Writes up to `size` bytes; the count written, or -errno.
  virtual long Write(int fd, const char* data, std::size_t size);
  // fdatasync; 0 or an errno.
  virtual int Sync(int fd);
};

// The system's file operations.
ArchiveFileLayer& SystemArchiveFiles();

// "2026-03-15.raw".
std::string ArchiveFileName(LocalDate day);

// The archive files in folder `dir`, in name order. Throws IoError when the
// folder cannot be read.
std::vector<std::string> ListArchive(const std::string& dir);

// Appends received bytes to the archive.
class ArchiveWriter {
 public:
  // REQUIRES: `files` outlives the writer.
  ArchiveWriter(std::string dir, ArchiveFileLayer& files) : dir_(std::move(dir)), files_(files) {}
  ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Appends `bytes` to the file of `day`, or of the newest day already
  // written to when the clock has gone back, after any bytes still held.
  // What cannot be written is held in memory, in order, for the next call.
  // Returns 0, or the errno of the write that failed.
  int Append(std::string_view bytes, LocalDate day);
  // Makes what was written durable (fdatasync) when anything was written
  // since the last time. Returns 0 or the errno.
  int Sync();
  // Closes the file; the next append opens it again by name (after the
  // file was moved away, for instance).
  void Reopen();
  // Takes `name` as the newest file written to: a collector started while
  // the clock is behind the archive's last day goes on in that file, so the
  // files stay in the order of receipt.
  void ContinueAfter(const std::string& name) { newest_ = std::max(newest_, name); }

  // Bytes received but not written yet.
  std::size_t held() const { return held_.size(); }
  // The name of the newest file written to; empty before the first write.
  const std::string& newest() const { return newest_; }

 private:
  std::string dir_;
  ArchiveFileLayer& files_;
  int fd_ = -1;
  std::string open_name_;
  std::string newest_;
  std::string held_;
  bool dirty_ = false;
};

// Reads the archive back as one stream, from any place in it.
class ArchiveReader {
 public:
  explicit ArchiveReader(std::string dir) : dir_(std::move(dir)) {}
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Goes to byte `offset` of file `name`; an empty name, or a file that is
  // not there, starts at the first file after it in name order. Returns the
  // file index of the place.
  uint32_t Seek(const std::string& name, uint64_t offset);
  // Reads the next bytes into `chunk`: from the current file, or, at its end,
  // from the next file when a file of a later name than the current one is
  // `newest` or exists (`newest` empty: look in the folder). `*file` and
  // `*offset` say where the chunk starts. False when nothing more is there.
  // Throws IoError when a file cannot be read.
  bool Read(std::string& chunk, const std::string& newest, uint32_t* file, uint64_t* offset);
  // Makes what was read durable (a line is stored only once the bytes it
  // came from are). Returns 0 or the errno.
  int Sync();

  // The name of file index `file`.
  const std::string& name(uint32_t file) const { return names_[file]; }
  // Where the next Read starts.
  uint32_t file() const { return file_; }
  uint64_t offset() const { return offset_; }

 private:
  // Opens the first archive file whose name comes after `name` (or is
  // `name`, unless `after`); false when there is none.
  bool OpenFrom(const std::string& name, bool after);
  uint32_t IndexOf(const std::string& name);

  std::string dir_;
  std::vector<std::string> names_;
  int fd_ = -1;
  uint32_t file_ = 0;
  uint64_t offset_ = 0;
  std::vector<int> unsynced_;  // files left since the last Sync, still open
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_RAW_ARCHIVE_H_
