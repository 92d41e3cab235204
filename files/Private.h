// The private directory a run makes beside OUTPUT to write the new file in,
// and the leftovers of runs killed outright.
#pragma once

#include <cstddef>
#include <string>

namespace files {

// The private directory: a fixed prefix that marks it as this program's,
// and six random characters. The output inside has a fixed name.
constexpr char kPrivatePrefix[] = ".pulseregen-";
constexpr size_t kRandomChars = 6;
constexpr size_t kPrivateNameLength = sizeof kPrivatePrefix - 1 + kRandomChars;
constexpr char kFileName[] = "partial.wav";
// Its mode: this user's alone.
constexpr unsigned kPrivateMode = 0700;

// A name for a new private directory.
std::string RandomName();

// Removes from the directory `parent` the private directories that runs of
// this user killed outright left behind.
void RemoveLeftovers(int parent);

} // namespace files
