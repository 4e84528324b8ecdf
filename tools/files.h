// File handling of the command-line host: whole-file reads, atomic writes,
// inputs, and a private temporary directory.
#ifndef TALVO_TOOLS_FILES_H_
#define TALVO_TOOLS_FILES_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::tool {

// The whole content of `path` ("-" is standard input). `what` names the file's
// role in the message of the IoError thrown when it cannot be read
// ("settings file", "prefix list").
std::string ReadWholeFile(const std::string& path, std::string_view what);

// Writes `bytes` to a new file beside `path` and renames it over `path`, so
// that a reader never sees half a file. Throws IoError.
void WriteFileAtomically(const std::string& path, std::string_view bytes);

// Opens an input for reading ("-" is standard input, returned as 0). Refuses a
// directory. Throws IoError.
int OpenInput(const std::string& path);

// Which file a name or descriptor reaches, to tell when two of them are one.
struct FileIdentity {
  bool regular = false;  // an existing regular file: dev and inode say which
  unsigned long long device = 0;
  unsigned long long inode = 0;
  std::string new_path;  // a file not created yet: its path made absolute
};
// By the file `path` names ("/dev/stdout" reaches what standard output is).
FileIdentity IdentifyPath(const std::string& path);
// By an open descriptor.
FileIdentity IdentifyDescriptor(int fd);
// True iff writing one of `a` and `b` would overwrite the other: the same
// regular file, or the same path of a file not yet created. Terminals, pipes
// and devices are never the same file here.
bool SameFile(const FileIdentity& a, const FileIdentity& b);

// Runs `work` with `dir` as the current directory, then returns to the
// directory that was current before, also when `work` throws. Throws IoError
// when either change of directory fails.
void RunInDirectory(const std::string& dir, const std::function<void()>& work);

// A directory of its own under $TMPDIR (or /tmp), removed with its files.
class TempDir {
 public:
  TempDir();  // throws IoError
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // Writes `bytes` as file `name` in the directory; returns its path.
  std::string Put(const std::string& name, std::string_view bytes);

 private:
  std::string path_;
  std::vector<std::string> files_;
};

// A temporary directory made the first time it is needed.
class LazyTempDir {
 public:
  TempDir& get() {
    if (!dir_) dir_ = std::make_unique<TempDir>();
    return *dir_;
  }

 private:
  std::unique_ptr<TempDir> dir_;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_FILES_H_
