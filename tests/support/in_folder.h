// Switches the current folder for the life of the object.
#pragma once

#include <filesystem>
#include <string>

namespace vorcnt::testing {

class InFolder {
 public:
  explicit InFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InFolder() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

}  // namespace vorcnt::testing
