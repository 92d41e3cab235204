// How the library's stdio streams are buffered. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdio>
#include <new>

namespace wav {

// A stream moves its bytes in calls of this size: at 1 MiB the system calls
// cost little beside copying the bytes, where stdio's default of a few KiB
// makes hundreds of thousands of them for an hour of stereo.
constexpr size_t kStreamBufferBytes = size_t(1) << 20;

// Gives a stream just opened, before any read or write, a buffer of
// kStreamBufferBytes and returns it; the caller frees it with delete[]
// once the stream is closed. A stream that cannot have one keeps stdio's
// default, and the result is null.
inline unsigned char* UseLargeBuffer(FILE* fp) {
    auto* buffer = new (std::nothrow) unsigned char[kStreamBufferBytes];
    if (buffer && setvbuf(fp, reinterpret_cast<char*>(buffer), _IOFBF, kStreamBufferBytes) != 0) {
        delete[] buffer;
        buffer = nullptr;
    }
    return buffer;
}

} // namespace wav
