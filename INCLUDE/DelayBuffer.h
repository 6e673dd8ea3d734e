// A delay line: a ring of mono float frames with one write position.
//
// Time model, for a ring of s > 0 frames: the frame pushed k frames ago
// (1 <= k <= s) lies at current_ - k, continuing from bufferEnd_ - 1 once
// bufferBegin_ is passed. The newest frame is just before current_, the oldest
// at current_ itself. bufferBegin_ <= current_ < bufferEnd_ while s > 0; an
// empty ring has all three pointers equal.
//
// Reads hand out runs of the past without copying. The ring keeps no mirrored
// copy of its start, so a read that crosses the wrap point comes back as two
// runs and the caller asks again for the rest. A read of n frames always starts
// at least n frames back, so it never returns the block being processed.
//
// Nothing here allocates except SetSize, and nothing locks.
#pragma once

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#include "Assert.h"
#include "Wavedata.h"

// Function texts the ring's assertions report. The default names the ring of
// the delay mix buffers; a filter that keeps its own history in a ring may
// name it differently by passing its own texts.
struct DelayBufferDataTexts {
    static constexpr const char* kSetSize = "bool DelayBuffer<float>::SetSize<Data>(long int)";
    static constexpr const char* kGetDelay =
        "void DelayBuffer<float>::GetDelay<Data>(long int, long int, Data *&, Samples &)";
    static constexpr const char* kAdvance = "void DelayBuffer<float>::Advance<Data>(long int)";
};

struct DelayBufferScaleTexts {
    static constexpr const char* kSetSize = "bool DelayBuffer<float>::SetSize<Scale>(long int)";
    static constexpr const char* kGetDelay =
        "void DelayBuffer<float>::GetDelay<Scale>(long int, long int, Scale *&, Samples &)";
    static constexpr const char* kAdvance = "void DelayBuffer<float>::Advance<Scale>(long int)";
};

template <class Data, class Texts = DelayBufferDataTexts>
class DelayBuffer {
    static_assert(std::is_same<Data, float>::value, "the ring holds mono float frames");

  public:
    DelayBuffer() : bufferBegin_(nullptr), bufferEnd_(nullptr), current_(nullptr) {}
    ~DelayBuffer() {
        delete[] bufferBegin_;
        bufferBegin_ = bufferEnd_ = current_ = nullptr;
    }
    // The ring owns its storage: it is neither copied nor shared.
    DelayBuffer(const DelayBuffer&) = delete;
    DelayBuffer& operator=(const DelayBuffer&) = delete;

    // Resizes the ring to size frames, keeping as much recent history as fits;
    // every kept frame keeps its age. Growing adds silence older than all the
    // history; shrinking keeps the newest size frames. Allocates; always true.
    bool SetSize(Samples size);
    Samples GetSize() const { return static_cast<Samples>(bufferEnd_ - bufferBegin_); }

    // Silence in every frame; the write position goes back to the start.
    void Reset() {
        current_ = bufferBegin_;
        Buffer(bufferBegin_, kMonoFloat).clear(GetSize());
    }

    // Pushes n frames of src (any format type, converted to float). A push
    // longer than the ring keeps its newest frames only.
    void Update(const Buffer& src, Samples n);
    // Moves the write position on by n (0 <= n <= size) frames without writing.
    void Advance(Samples n);

    // Points out at the frame pushed delay frames ago and sets got to the
    // number of frames, at most n, that follow it in storage; frame i of the
    // run is the one pushed delay - i frames ago. Needs n <= delay <= size.
    void GetDelay(Samples delay, Samples n, Data*& out, Samples& got) const;
    // Copies the n frames starting delay frames ago into dst, converting them
    // to dst's format type. Needs n <= delay <= size.
    void CopyTo(const Buffer& dst, Samples delay, Samples n) const;

    Data* bufferBegin_;  // owned storage (array new), null until the first SetSize
    Data* bufferEnd_;    // one past the last frame
    Data* current_;      // write position: the next frame pushed, the oldest frame held
};

template <class Data, class Texts>
bool DelayBuffer<Data, Texts>::SetSize(Samples size) {
    KESTA_ASSERT(size >= 0, "size>=0", Texts::kSetSize);
    const Samples old = GetSize();
    if (size == old) return true;
    Data* temp = new (std::nothrow) Data[static_cast<size_t>(size)];
    KESTA_ASSERT(temp, "temp", Texts::kSetSize);
    const Buffer storage(temp, kMonoFloat);
    if (size > old) {
        // The whole history, oldest first, then the write position right
        // after it: the silence behind it is older than any kept frame.
        CopyTo(storage, old, old);
        (storage + old).clear(size - old);
        current_ = temp + old;
    } else {
        // The newest size frames, oldest first: the newest ends the storage.
        CopyTo(storage, size, size);
        current_ = temp;
    }
    delete[] bufferBegin_;
    bufferBegin_ = temp;
    bufferEnd_ = temp + size;
    return true;
}

// A float block is copied as it is (what copyTo does for it, without the
// choice of conversion on every push).
template <class Data, class Texts>
void DelayBuffer<Data, Texts>::Update(const Buffer& src, Samples n) {
    const Samples size = GetSize();
    const Samples room = static_cast<Samples>(bufferEnd_ - current_);
    if (room == 0 || n <= 0) return;
    const auto put = [&src](Samples from, Data* to, Samples count) {
        if (src.type_ == kMonoFloat)
            std::memcpy(to, src.floats() + from, static_cast<size_t>(count) * sizeof(Data));
        else
            (src + from).copyTo(Buffer(to, kMonoFloat), count);
    };
    if (n < room) {
        put(0, current_, n);
        current_ += n;
    } else if (n == room) {
        put(0, current_, n);
        current_ = bufferBegin_;
    } else if (n < size) {
        put(0, current_, room);
        put(room, bufferBegin_, n - room);
        current_ = bufferBegin_ + (n - room);
    } else {
        put(n - size, bufferBegin_, size);
        current_ = bufferBegin_;
    }
}

template <class Data, class Texts>
void DelayBuffer<Data, Texts>::Advance(Samples n) {
    KESTA_ASSERT(n <= bufferEnd_ - bufferBegin_, "n<=bufferEnd_-bufferBegin_", Texts::kAdvance);
    const Samples room = static_cast<Samples>(bufferEnd_ - current_);
    if (n < room)
        current_ += n;
    else
        current_ = bufferBegin_ + (n - room);
}

template <class Data, class Texts>
void DelayBuffer<Data, Texts>::GetDelay(Samples delay, Samples n, Data*& out, Samples& got) const {
    KESTA_ASSERT(delay >= n, "delay>=n", Texts::kGetDelay);
    KESTA_ASSERT(delay <= bufferEnd_ - bufferBegin_, "delay<=bufferEnd_-bufferBegin_", Texts::kGetDelay);
    const Samples pos = static_cast<Samples>(current_ - bufferBegin_);
    if (delay <= pos) {
        out = current_ - delay;
        got = n;
        return;
    }
    const Samples d = delay - pos;
    Data* ptr = bufferEnd_ - d;
    KESTA_ASSERT(ptr >= bufferBegin_, "ptr>=bufferBegin_", Texts::kGetDelay);
    out = ptr;
    got = std::min(n, d);
}

template <class Data, class Texts>
void DelayBuffer<Data, Texts>::CopyTo(const Buffer& dst, Samples delay, Samples n) const {
    Data* run;
    Samples got;
    GetDelay(delay, n, run, got);
    Buffer(run, kMonoFloat).copyTo(dst, got);
    if (got < n) {
        Samples rest;
        GetDelay(delay - got, n - got, run, rest);
        Buffer(run, kMonoFloat).copyTo(dst + got, rest);
    }
}
