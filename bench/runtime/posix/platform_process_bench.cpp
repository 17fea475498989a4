// Launching /bin/true and waiting for its end, per second: through
// Platform_ExecuteVector (posix_spawn) and, beside it, Python's
// subprocess.run in one Python process (timed there, reported here as manual
// time per launch). Compare the items_per_second of the two rows.
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>

#include <benchmark/benchmark.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/posix/platform_process.h"

namespace {

void Start() {
    static const bool Started = Debug_Init("/tmp/platform-process-bench.log", nullptr, 0) != 0;
    (void)Started;
}

void LaunchAndWait(benchmark::State &State) {
    Start();
    for (auto _ : State) {
        PlatformProcess *Process = nullptr;
        if (!Platform_ExecuteVector("/bin/true", 0, nullptr, nullptr, PLATFORM_EXECUTE_ASINVOKER, nullptr, nullptr,
                                    nullptr, &Process))
            abort();
        int32 Code = -1;
        while (!Platform_ProcessGetExitCode(Process, &Code)) sched_yield();
        Platform_ProcessDelete(&Process);
        if (Code != 0) abort();
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(LaunchAndWait)->UseRealTime()->Unit(benchmark::kMicrosecond);

// One Python process launches /bin/true Count times and prints the seconds.
void PythonSubprocessRun(benchmark::State &State) {
    constexpr int Count = 200;
    for (auto _ : State) {
        const std::string Command = "/usr/bin/python3 -c \"import subprocess, time\n"
                                    "t = time.perf_counter()\n"
                                    "for _ in range(" + std::to_string(Count) + "):\n"
                                    "    subprocess.run(['/bin/true'], check=True)\n"
                                    "print(time.perf_counter() - t)\"";
        FILE *Pipe = popen(Command.c_str(), "r");
        double Seconds = 0;
        if (Pipe == nullptr || fscanf(Pipe, "%lf", &Seconds) != 1) abort();
        pclose(Pipe);
        State.SetIterationTime(Seconds / Count);
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(PythonSubprocessRun)->UseManualTime()->Iterations(5)->Unit(benchmark::kMicrosecond);

} // namespace
