// Fuzz target for the saved trace (NAME.kvtrace): any bytes as a file. A file
// that reads is given to an engine as korvalen-cli --open gives it. Besides
// memory errors and undefined behaviour it checks that a refusal says why,
// and that a replay refused names the line at fault.
#include "engine/TraceEngine.h"
#include "engine/NullWindowOps.h"
#include "fuzz/FuzzInput.h"
#include "net/EchoService.h"
#include "net/Resolver.h"
#include "record/TraceFile.h"
#include "record/TraceReplay.h"

#include <cstdio>
#include <string>

namespace {

// The engine's own world, which a replay never uses: the file answers.
class NoEcho : public EchoService {
public:
    std::unique_ptr<EchoHandle> openHandle(const IpAddress &) override { return nullptr; }
    EchoOpenFailure lastOpenFailure() const override { return {}; }
    void setIdleHook(IdleHook) override {}
    void waitIdle(uint32_t, const std::function<bool()> &) override {}
};

class NoNames : public Resolver {
public:
    std::optional<IpAddress> firstAddress(const std::string &) override { return std::nullopt; }
    std::string officialName(const IpAddress &) override { return {}; }
};

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0; // fmemopen takes no empty buffer
    FuzzInput::ExactCopy copy({data, size});
    std::FILE *file = fmemopen(const_cast<uint8_t *>(copy.span().data()), size, "r");
    FUZZ_CHECK(file != nullptr);
    const TraceFile::ReadResult read = TraceFile::read(file);
    std::fclose(file);
    if (!read.document) {
        FUZZ_CHECK(startsWith(read.error, "line ") || startsWith(read.error, "empty"));
        return 0;
    }
    TraceSettings settings = read.document->header.settings;
    NoEcho echo;
    NoNames names;
    NullWindowOps window;
    TraceEngine engine(settings, echo, names, window);
    TraceReplay replay(*read.document, engine, nullptr);
    const std::string error = replay.run();
    FUZZ_CHECK(error.empty() || startsWith(error, "line "));
    FUZZ_CHECK(!engine.tracing);
    return 0;
}
