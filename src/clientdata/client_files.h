// What the two key=value readers share: the full names of the client's files
// (the folder text followed directly by the file name, as the client itself
// forms them) and the sizes the lines are cut with. Internal to this module.
#pragma once

#include <cstddef>

namespace vorcnt::clientdata_detail {

// Room for the longest name the probes accept (255) and its NUL.
constexpr std::size_t kNameBuffer = 256;

// Each read takes at most 254 bytes, newline included; a longer line comes in
// pieces, each handled as a line of its own, as the client's files have always
// been read.
constexpr int kLineRead = 255;
// A key or single-token value holds at most 31 characters; the text helpers
// cut a longer one and still consume the rest of it from the line.
constexpr std::size_t kTokenBuffer = 32;

// The extension text for a snapshot's `ext_index`.
const char* extension_of(int ext_index);

// Writes folder + base + ext into `out`. Returns false, leaving `out` empty,
// when the name would be longer than 255 characters: such a file is treated
// as absent rather than probed under a cut name that might name another file.
bool build_name(char (&out)[kNameBuffer], const char* folder, const char* base, const char* ext);

}  // namespace vorcnt::clientdata_detail
