#include "record/TraceReplay.h"

#include "engine/NullWindowOps.h"
#include "net/Sockets.h"

using Kind = TraceRecord::Kind;

// The records in order, handed out as the engine asks for them. The ends of
// runs are the file's own marks: the engine asks for none.
class TraceReplay::Cursor {
public:
    Cursor(const TraceDocument &document, TraceEngine &engine)
        : log_(document.log), engine_(engine)
    {
    }

    // The next record, if it is of this kind.
    const TraceRecord *take(Kind kind)
    {
        const TraceRecord *r = peek();
        if (!r || r->kind != kind)
            return nullptr;
        ++next_;
        return r;
    }
    const TraceRecord *peek()
    {
        while (next_ < log_.records().size() && log_.records()[next_].kind == Kind::runEnd)
            ++next_;
        return next_ < log_.records().size() ? &log_.records()[next_] : nullptr;
    }
    // A record the engine did not ask for, or none left where it asked.
    void refuse(const TraceRecord *r, const std::string &asked)
    {
        if (!r) {
            exhausted_ = true; // the file ends here: the trace as far as it goes
            return;
        }
        if (error_.empty())
            error_ = "line " + std::to_string(r->line) + ": the trace asks for " + asked +
                     " here, not this record";
    }
    // A press of Stop recorded here is pressed now.
    void pressStops()
    {
        while (take(Kind::stop))
            if (engine_.tracing)
                engine_.command1Click();
    }
    // What the window does at a yield: Stop pressed, and names that came
    // late placed, as they were.
    void atYield()
    {
        for (const TraceRecord *r; (r = peek()) && (r->kind == Kind::stop || r->kind == Kind::late);) {
            if (r->kind == Kind::stop)
                pressStops();
            else
                engine_.deliverLateNames();
        }
    }
    bool over() const { return exhausted_ || !error_.empty(); }
    std::string leftOver()
    {
        if (!error_.empty() || exhausted_)
            return error_;
        if (const TraceRecord *r = peek())
            return "line " + std::to_string(r->line) + ": a record the trace never asks for";
        return {};
    }
    const TraceLog &log() const { return log_; }
    TraceEngine &engine() { return engine_; }

private:
    const TraceLog &log_;
    TraceEngine &engine_;
    size_t next_ = 0;
    bool exhausted_ = false;
    std::string error_;
};

namespace {

// What a recorded probe got, as the echo service reports it.
void fill(const TraceLog &log, const TraceRecord &r, IcmpEchoReply &reply)
{
    reply = IcmpEchoReply{};
    reply.status = r.status;
    reply.sendErrno = r.sendErrno;
    if (r.address == TraceRecord::none)
        return;
    reply.replyCount = 1;
    reply.address = log.address(r.address);
    reply.roundTripTime = r.rttUs / 1000;
    if (r.precise)
        reply.roundTripUs = r.rttUs;
    reply.ttl = r.ttl;
}

} // namespace

class TraceReplay::Echo : public EchoService {
public:
    explicit Echo(Cursor &cursor) : cursor_(cursor) {}

    class Handle : public EchoHandle {
    public:
        explicit Handle(Cursor &cursor) : cursor_(cursor) {}
        uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                          const IpOptionInformation &options, IcmpEchoReply &reply,
                          uint32_t) override
        {
            const bool mtu = options.flags != 0;
            const TraceRecord *r = cursor_.take(mtu ? Kind::mtu : Kind::probe);
            const TraceEngine &engine = cursor_.engine();
            const auto size = static_cast<int16_t>(payload.size() + destination.headerBytes());
            const bool matches = r && r->run == engine.details().currentRun() &&
                                 r->hop == engine.curHop && (!mtu || r->size == size);
            if (!matches) {
                cursor_.refuse(r ? r : cursor_.peek(),
                               std::string(mtu ? "an MTU probe" : "a probe") + " of run " +
                                   std::to_string(engine.details().currentRun()) + ", hop " +
                                   std::to_string(engine.curHop));
                reply = IcmpEchoReply{};
                return 0;
            }
            fill(cursor_.log(), *r, reply);
            return reply.replyCount;
        }

    private:
        Cursor &cursor_;
    };

    std::unique_ptr<EchoHandle> openHandle(const IpAddress &) override
    {
        return std::make_unique<Handle>(cursor_);
    }
    EchoOpenFailure lastOpenFailure() const override { return {}; }
    void setIdleHook(IdleHook) override {}
    void waitIdle(uint32_t, const std::function<bool()> &) override {}

private:
    Cursor &cursor_;
};

class TraceReplay::Names : public Resolver {
public:
    explicit Names(Cursor &cursor) : cursor_(cursor) {}

    std::optional<IpAddress> firstAddress(const std::string &) override
    {
        cursor_.pressStops(); // Stop during the look-up
        if (!cursor_.engine().tracing)
            return std::nullopt;
        const TraceRecord *r = cursor_.take(Kind::target);
        if (!r) {
            cursor_.refuse(cursor_.peek(), "the target's address");
            return std::nullopt;
        }
        const std::string &text = cursor_.log().text(r->text);
        return text.empty() ? std::nullopt : textToAddress(text);
    }
    std::string officialName(const IpAddress &address) override
    {
        const TraceRecord *r = cursor_.take(Kind::name);
        if (!r || cursor_.log().address(r->address) != address) {
            cursor_.refuse(r ? r : cursor_.peek(), "the name of " + address.text());
            return {};
        }
        return cursor_.log().text(r->text);
    }
    std::vector<LateName> takeLateNames() override
    {
        std::vector<LateName> names;
        while (const TraceRecord *r = cursor_.take(Kind::late))
            names.push_back({cursor_.log().address(r->address), cursor_.log().text(r->text)});
        return names;
    }

private:
    Cursor &cursor_;
};

// The window as the replay has it: the visible one's boxes and buttons, the
// host from the file, the file's presses of Stop at every yield, and closed
// once the records run out or one does not match.
class TraceReplay::Window : public WindowOps {
public:
    Window(Cursor &cursor, const std::string &host, WindowOps *visible)
        : cursor_(cursor), host_(host), visible_(visible ? *visible : nobody_)
    {
    }

    void yield() override { cursor_.atYield(); }
    void messageBox(const std::string &text, MessageIcon) override { messages.push_back(text); }
    void setCommand1Caption(const std::string &caption) override
    {
        visible_.setCommand1Caption(caption);
    }
    void setCommand1Enabled(bool on) override { visible_.setCommand1Enabled(on); }
    void setCommand3Enabled(bool on) override { visible_.setCommand3Enabled(on); }
    void setCommand4Enabled(bool on) override { visible_.setCommand4Enabled(on); }
    void setCombo1Enabled(bool on) override { visible_.setCombo1Enabled(on); }
    std::string combo1Text() const override { return host_; }
    void setText2(const std::string &text) override { visible_.setText2(text); }
    void setText3(const std::string &text) override { visible_.setText3(text); }
    void recordHistory() override { visible_.recordHistory(); }
    void hideOptions() override { visible_.hideOptions(); }
    bool closing() const override { return cursor_.over(); }

    std::vector<std::string> messages;

private:
    Cursor &cursor_;
    std::string host_;
    NullWindowOps nobody_;
    WindowOps &visible_;
};

TraceReplay::TraceReplay(const TraceDocument &document, TraceEngine &engine, WindowOps *visible)
    : cursor_(std::make_unique<Cursor>(document, engine)),
      echo_(std::make_unique<Echo>(*cursor_)), names_(std::make_unique<Names>(*cursor_)),
      window_(std::make_unique<Window>(*cursor_, document.header.host, visible)), engine_(engine)
{
}

TraceReplay::~TraceReplay() = default;

std::string TraceReplay::run()
{
    Cursor &cursor = *cursor_;
    TraceEngine::Clock clock{
        [&cursor] {
            const TraceRecord *r = cursor.take(Kind::runsStart);
            if (!r)
                cursor.refuse(cursor.peek(), "the start of the runs");
            return std::chrono::system_clock::time_point{
                std::chrono::microseconds(r ? r->sentUs : 0)};
        },
        [&cursor] {
            const TraceRecord *r = cursor.peek();
            return r && (r->kind == Kind::probe || r->kind == Kind::mtu) ? r->sentUs : 0;
        }};
    engine_.traceWith(*echo_, *names_, *window_, std::move(clock));
    cursor.pressStops(); // pressed as the last probes were written: too late to change a thing
    return cursor.leftOver();
}

const std::vector<std::string> &TraceReplay::messages() const
{
    return window_->messages;
}
