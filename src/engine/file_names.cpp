#include "engine/file_names.h"

#include "platform/files.h"

namespace vorcnt {

std::string unit_folder(const char* path, int unit) { return std::string(path) + "unit" + std::to_string(unit); }

std::string unit_folder_text(const char* path, int unit) { return unit_folder(path, unit) + "\\"; }

std::string vwu_pattern(const std::string& folder_text) { return folder_text + "*.vwu"; }

std::string client_program(const char* path) { return std::string(path) + "Vorelith.exe"; }

std::string client_file(const char* path, const char* name) { return path_in(path, name); }

std::string unit_file(const char* path, int unit, const char* name) { return path_in(unit_folder(path, unit), name); }

std::string damaged_folder(const char* path) { return path_in(path, "damaged"); }

}  // namespace vorcnt
