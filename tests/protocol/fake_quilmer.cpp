// Plays the main program's side of the window protocol for the tests, with the same classes
// the main window uses: registers "Corvane Video" through SingleInstance, reads a handed-over
// job from argument 1 and, instead of joining, ends the job at once. Exit code 2, like quilmer.
//   QUILMER_FAKE_MODE=finish (default)  the join "finished": the caller is notified
//   QUILMER_FAKE_MODE=fail              the join "failed": no notice
//   QUILMER_FAKE_MODE=wait              stays until asked to close
// Writes "registered" to standard output once its window is there.

#include <cstdlib>
#include <iostream>
#include <string>

#include "app/core/CallerNotice.h"
#include "app/core/HandOver.h"
#include "app/core/SingleInstance.h"
#include "foundation/FileUtil.h"
#include "foundation/PlainEventLoop.h"

int main(int argc, char** argv) {
    using namespace quilmer;
    const char* modeText = std::getenv("QUILMER_FAKE_MODE");
    std::string mode = modeText ? modeText : "finish";
    PlainEventLoop loop;
    SingleInstance::Callbacks callbacks;
    callbacks.close = [&loop] { loop.Quit(2); };
    SingleInstance instance(loop, callbacks);
    if (!instance.IsRegistered()) {
        std::cerr << "fake quilmer: " << instance.Error() << "\n";
        return 1;
    }
    std::cout << "registered" << std::endl;

    CallerNotifier notifier(loop);
    JoinState state;
    if (mode != "wait" && argc > 1) {
        std::wstring argument = WidePath(argv[1]);
        if (ClassifyStartupArgument(argument) == StartupKind::Job) {
            HandOverJob job = ParseHandOver(argument);
            ApplyHandOver(job, state);
            if (!job.Runnable()) std::cerr << NativePath(job.Message()) << "\n";
        }
        if (state.handedOver) {
            notifier.JobEnded(state, mode == "finish", [&loop](bool) { loop.Quit(2); });
        } else {
            loop.Post([&loop] { loop.Quit(2); });
        }
    }
    return loop.Run();
}
