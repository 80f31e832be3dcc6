// Names in the Windows backend. The controller's names are bytes in the ANSI
// code page (932 on a Japanese system), as the settings file and the command
// lines hold them; the system calls are made wide, with the names converted
// here, so that every call reads a name the same way. For the Windows backend
// files only.
#pragma once

#include <string>
#include <string_view>

namespace vorcnt {

// The controller's name as the wide calls take it.
std::wstring wide_path(std::string_view name);
// A name the system gave back, as the controller's bytes. A character the code
// page cannot write comes back as '?', which names no file, so it is never
// mistaken for another.
std::string ansi_path(std::wstring_view name);

}  // namespace vorcnt
