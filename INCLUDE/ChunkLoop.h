// The chunk loop behind every processing entry point of an engine.
//
// An engine's output pair holds one chunk: at most chunk frames (the capacity
// its buffers were made with). RunInChunks cuts a call of count frames into
// such chunks, in order, with subnormal arithmetic flushed to zero for the
// whole call (DenormalGuard), and empties the output pair after each chunk.
// processChunk(done, k) does the engine's part for frames done .. done + k - 1
// of the call: mix the input in, run the network, write the output pair into
// the caller's block. A count of 0 (or a negative one) does nothing.
// Allocates nothing.
#pragma once

#include "DenormalGuard.h"
#include "Mixbuf.h"

template <class Count, class ProcessChunk>
void RunInChunks(MixBuffer (&outputs)[2], Count count, Samples chunk, ProcessChunk processChunk) {
    DenormalGuard guard;
    for (Count done = 0; done < count;) {
        const Count left = count - done;
        const Samples k = left < static_cast<Count>(chunk) ? static_cast<Samples>(left) : chunk;
        processChunk(done, k);
        outputs[0].MarkEmpty();
        outputs[1].MarkEmpty();
        done += static_cast<Count>(k);
    }
}
