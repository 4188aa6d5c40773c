#include "cli/TraceSaver.h"

#include <cerrno>
#include <cstring>

#include "record/TraceFile.h"

TraceSaver::TraceSaver(std::string path, TraceRecorder &recorder)
    : path_(std::move(path)), recorder_(recorder)
{
}

TraceSaver::~TraceSaver()
{
    if (file_)
        std::fclose(file_);
}

std::string TraceSaver::begin(const TraceHeader &header)
{
    file_ = std::fopen(path_.c_str(), "w");
    if (!file_)
        return "cannot save the trace to " + path_ + ": " + std::strerror(errno);
    recorder_.begin(header);
    recorder_.setRunSink([this](const TraceLog &log, size_t from) {
        for (size_t i = from; i < log.records().size(); ++i)
            write(TraceFile::recordLine(log, log.records()[i]));
        if (std::fflush(file_) != 0 && error_ == 0)
            error_ = errno;
    }, false);
    write(TraceFile::headerLine(header));
    std::fflush(file_);
    return {};
}

std::string TraceSaver::finish(const TraceEnd &end)
{
    recorder_.flush();
    write(TraceFile::endLine(end));
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed && error_ == 0)
        error_ = errno;
    if (error_ != 0)
        return "cannot save the trace to " + path_ + ": " + std::strerror(error_);
    return {};
}

void TraceSaver::write(const std::string &text)
{
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() && error_ == 0)
        error_ = errno;
}
