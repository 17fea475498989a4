// A metered transfer step: Meter_Limit and Meter_Report on a request meter
// under a limited connection meter under the root, with the tick between.
#include <benchmark/benchmark.h>
#include <stdint.h>

#include "runtime/streams/meter.h"

namespace {

void BM_MeteredTransfer(benchmark::State &State) {
    Meter_Init();
    Meter *Connection = nullptr, *Request = nullptr;
    Meter_Create(&Connection);
    Meter_Create(&Request);
    Meter_SetParentHandle(Connection, Meter_RootHandle());
    Meter_SetParentHandle(Request, Connection);
    Meter_SetLimitBandwidth(Connection, INT32_MAX);
    for (auto _ : State) {
        int32 Bytes = 16384;
        if (Meter_Limit(Request, &Bytes)) Meter_Report(Request, Bytes / 2);
        Meter_Process();
    }
    Meter_Delete(&Request);
    Meter_Delete(&Connection);
    Meter_Remove();
}
BENCHMARK(BM_MeteredTransfer);

} // namespace
