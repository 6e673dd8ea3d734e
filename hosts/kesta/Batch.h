// Many files at once: each input rendered into a folder by a worker process
// of its own, up to a number at a time.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

struct BatchItem {
    std::string in, out;
};

// Where each input lands in folder: its name with the extension of type
// (or its own extension when type is empty). Answers an empty string, or
// what is wrong (two inputs that would land on one output, an output that
// is a link: a batch never writes through one).
std::string planBatch(const std::vector<std::string>& inputs, const std::string& folder,
                      const std::string& type, std::vector<BatchItem>& items);

// Runs render(item) for every item in a child process, jobs at a time; a
// failed file does not stop the others. Says one line per file and a
// summary on stderr (unless quiet); answers 0 when all were rendered, else 1.
// When *stop becomes non-zero, the signal is passed on to the workers, which
// clean up, and the batch ends early.
int runBatch(const std::vector<BatchItem>& items, int jobs, bool quiet,
             const std::function<int(const BatchItem&)>& render, const volatile std::sig_atomic_t* stop);
