#pragma once

#include <cstdio>
#include <string>

#include "record/TraceRecorder.h"

// Records a shell trace into its file as it runs: the header at once, the
// records of every run as it ends (flushed, so a trace killed half-way leaves
// a file that opens), the end last. Written in place, not renamed: what a
// killed trace measured must be there.
class TraceSaver {
public:
    TraceSaver(std::string path, TraceRecorder &recorder);
    ~TraceSaver();
    TraceSaver(const TraceSaver &) = delete;
    TraceSaver &operator=(const TraceSaver &) = delete;

    // Creates the file and writes the header; empty, or why it cannot.
    std::string begin(const TraceHeader &header);
    // The records left and the end; empty, or why they could not be written.
    std::string finish(const TraceEnd &end);

private:
    void write(const std::string &text);

    std::string path_;
    TraceRecorder &recorder_;
    std::FILE *file_ = nullptr;
    int error_ = 0; // errno of the first failed write
};
