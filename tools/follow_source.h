// A report file that another program writes (a capture box, an old logger, a
// syslog rule), read by `talvo collect --follow` as a link: what the file
// gains is handed to the collector, as tail -F reads it. A file cut short is
// read again from its start; a file renamed away is read to its end and the
// file that now has the path from its start; a file that disappears is
// waited for. Each of these is a link event.
//
// Where it is in the file is kept in a small position file beside the
// database, together with how many bytes the collector had taken at that
// moment (archived or held). The archive is the received bytes in order, so
// on a restart the file is read on from the saved place moved by what the
// archive gained or lost since: bytes archived after the save are not read
// twice, and bytes the archive never got (a crash, a power loss) are read
// again.
#ifndef TALVO_TOOLS_FOLLOW_SOURCE_H_
#define TALVO_TOOLS_FOLLOW_SOURCE_H_

#include <cstdint>
#include <functional>
#include <string>

namespace talvo::tool {

class FollowSource {
 public:
  // Told of every link event: level, event name, what happened.
  using EventFn = std::function<void(const std::string&, const std::string&, const std::string&)>;

  FollowSource(std::string path, std::string position_path, EventFn event);
  ~FollowSource();
  FollowSource(const FollowSource&) = delete;
  FollowSource& operator=(const FollowSource&) = delete;

  // Opens the file and finds where to read on: `taken` is how many bytes the
  // collector has taken in all so far (see Taken in the .cc). A file read
  // from its start has that place kept at once, so that a run stopped before
  // its first Save does not read again what it took.
  void Start(uint64_t taken);

  // Appends what the file gained since the last call to `*bytes`, at most
  // `limit` bytes; `taken` as for Start. A file newly opened (the first, or
  // one that took the path) has its start kept before it is read.
  void Poll(std::string* bytes, std::size_t limit, uint64_t taken);

  // Keeps where the reading is, with what the collector has taken by now.
  // Throws IoError.
  void Save(uint64_t taken);

 private:
  bool Open();
  void Close();

  std::string path_;
  std::string position_path_;
  EventFn event_;
  int fd_ = -1;
  uint64_t device_ = 0, inode_ = 0, offset_ = 0;
  bool gone_ = false;
  std::string saved_;  // the position file's text as last written
};

// Bytes in the archive folder's files (*.raw): with the bytes the collector
// holds in memory, what it has taken in all.
uint64_t ArchiveBytes(const std::string& archive_folder);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_FOLLOW_SOURCE_H_
