// How the library's streams move their bytes: a stream being read through
// stdio with a large buffer, and a buffer as large again that the loaders
// copy the data into; a stream being written through the two buffers of a
// WriteBehind. Internal to the library.
#pragma once

#include "WriteBehind.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <new>

namespace wav {

// A stream moves its bytes in calls of this size: at 1 MiB the system calls
// cost little beside copying the bytes, where stdio's default of a few KiB
// makes hundreds of thousands of them for an hour of stereo.
constexpr size_t kStreamBufferBytes = size_t(1) << 20;

// What an attached stream holds outside the object: stdio's buffer, which
// stdio fills with reads of 1 MiB, and the buffer the loaders copy a load's
// bytes into from there and decode while they are still in the processor's
// cache (a load of a MiB or more stdio reads straight into it). Decoding
// from a mapping of the file instead costs a page-table walk at every page,
// which on a virtual machine took twice as long as the copies.
// A writer's two buffers are the same two arrays.
struct StreamBuffers {
    unsigned char stdio[kStreamBufferBytes];
    unsigned char runs[kStreamBufferBytes];
    std::unique_ptr<WriteBehind> behind; // a writer's, once its stream is open
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

// Gives a stream just opened for writing its buffers and a WriteBehind on
// them, which the writer writes through in place of stdio; null where they
// cannot be had, and the writer then writes through stdio.
inline StreamBuffers* WriteBehindFor(FILE* fp) {
    auto* buffers = new (std::nothrow) StreamBuffers;
    if (!buffers)
        return nullptr;
    buffers->behind.reset(new (std::nothrow) WriteBehind(fileno(fp), buffers->stdio, buffers->runs,
                                                         kStreamBufferBytes));
    if (!buffers->behind) {
        delete buffers;
        return nullptr;
    }
    return buffers;
}

} // namespace wav
