#pragma once
// Shared pieces of the window-protocol tests: a private window folder per test (through
// XDG_RUNTIME_DIR, which child processes inherit) and an event loop running on a thread of its
// own, as the owner of a window would have.

#include <cstdlib>
#include <memory>
#include <thread>

#include "ScratchFolder.h"
#include "foundation/PlainEventLoop.h"

namespace quilmer::test {

class PrivateRuntimeDir {
public:
    PrivateRuntimeDir() : scratch_("qwp") {
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        if (old) old_ = old, hadOld_ = true;
        ::setenv("XDG_RUNTIME_DIR", scratch_.Path().c_str(), 1);
    }
    ~PrivateRuntimeDir() {
        if (hadOld_)
            ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::string WindowFolder() const { return scratch_.Native("quilmer-windows"); }
    const ScratchFolder& Scratch() const { return scratch_; }

private:
    ScratchFolder scratch_;
    std::string old_;
    bool hadOld_ = false;
};

class LoopThread {
public:
    LoopThread() : thread_([this] { loop_.Run(); }) {}
    ~LoopThread() { Stop(); }
    PlainEventLoop& Loop() { return loop_; }
    std::thread::id Id() const { return thread_.get_id(); }
    void Stop() {
        if (!thread_.joinable()) return;
        loop_.Quit();
        thread_.join();
    }

private:
    PlainEventLoop loop_;
    std::thread thread_;
};

}  // namespace quilmer::test
