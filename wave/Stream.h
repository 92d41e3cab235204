// How the library's streams move their bytes: stdio with a large buffer,
// and, for a stream being read, a buffer as large again that the loaders
// read runs of the data into. Internal to the library.
#pragma once

#include <cstddef>
#include <cstdio>
#include <new>

namespace wav {

// A stream moves its bytes in calls of this size: at 1 MiB the system calls
// cost little beside copying the bytes, where stdio's default of a few KiB
// makes hundreds of thousands of them for an hour of stereo.
constexpr size_t kStreamBufferBytes = size_t(1) << 20;

// What an attached stream holds outside the object: stdio's buffer, and the
// buffer the loaders read the data into. A read of a whole run is at least
// stdio's buffer, so stdio hands it to read() straight into `runs`: each
// byte is copied once, from the page cache, and decoded while it is still
// in the processor's cache. (Decoding from a mapping of the file instead
// costs a page-table walk at every page, which on a virtual machine took
// twice as long as the copy.)
struct StreamBuffers {
    unsigned char stdio[kStreamBufferBytes];
    unsigned char runs[kStreamBufferBytes];
};

// Gives a stream just opened, before any read or write, a buffer of
// kStreamBufferBytes and returns it with the loaders' buffer; the caller
// deletes it once the stream is closed. A stream that cannot have one keeps
// stdio's default, and the result is null.
inline StreamBuffers* UseLargeBuffer(FILE* fp) {
    auto* buffers = new (std::nothrow) StreamBuffers;
    if (buffers &&
        setvbuf(fp, reinterpret_cast<char*>(buffers->stdio), _IOFBF, kStreamBufferBytes) != 0) {
        delete buffers;
        buffers = nullptr;
    }
    return buffers;
}

} // namespace wav
