#include "support/fake_env.h"

#include "platform/profile_file.h"

namespace talvo::testing {

ProfileResult FakeEnv::ReadProfileString(std::string_view file, std::string_view section,
                                         std::string_view key, std::string_view default_value,
                                         std::size_t size) {
  ++profile_reads;
  profile_keys_read.emplace_back(key);
  if (!profile_failures.empty()) {
    const uint32_t error = profile_failures.front();
    profile_failures.pop_front();
    return ProfileResult{{}, error};
  }
  if (use_system_profiles) {
    return system_->ReadProfileString(file, section, key, default_value, size);
  }
  ProfileResult result;
  auto it = profile_files.find(std::string(file));
  std::optional<std::string> value;
  if (it != profile_files.end()) value = FindProfileValue(it->second, section, key);
  if (value) {
    result.value = *value;
    result.last_error = kErrorNone;
  } else {
    std::string_view d = default_value;
    while (!d.empty() && d.back() == ' ') d.remove_suffix(1);
    result.value = std::string(d);
    result.last_error = kErrorFileNotFound;
  }
  if (size == 0) return ProfileResult{{}, result.last_error};
  if (result.value.size() > size - 1) {
    result.value.resize(size - 1);
    if (value) result.last_error = kErrorMoreData;
  }
  return result;
}

void FakeEnv::FlushProfile(std::string_view file) {
  ++profile_flushes;
  if (use_system_profiles) system_->FlushProfile(file);
}

SharedReadResult FakeEnv::ReadFileShared(std::string_view path, std::size_t max_bytes) {
  ++shared_opens;
  if (!open_failures.empty()) {
    const uint32_t error = open_failures.front();
    open_failures.pop_front();
    return SharedReadResult{error, {}};
  }
  if (use_system_files) return system_->ReadFileShared(path, max_bytes);
  auto it = shared_files.find(std::string(path));
  if (it == shared_files.end()) return SharedReadResult{kErrorFileNotFound, {}};
  return SharedReadResult{kErrorNone, it->second.substr(0, max_bytes)};
}

}  // namespace talvo::testing
