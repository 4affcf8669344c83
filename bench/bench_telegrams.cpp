// Formatting the five request telegrams and testing a data reply, in the driver's
// fixed buffers: ns per telegram, and no heap allocation at all.
#include "allocationcounter.h"
#include "telegrams.h"

#include <benchmark/benchmark.h>

namespace {

using LustBus::Request;

// Reports allocations per telegram; any allocation fails the benchmark.
template <typename Work>
void measure(benchmark::State &state, Work work)
{
    const long before = AllocationCounter::count();
    for (auto _ : state)
        work();
    const long allocations = AllocationCounter::count() - before;
    state.counters["allocs/telegram"] =
        benchmark::Counter(double(allocations), benchmark::Counter::kAvgIterations);
    if (allocations != 0)
        state.SkipWithError("telegram work touched the heap");
}

void BM_FormatRequest(benchmark::State &state)
{
    static const char value[8] = {0x12, 0x34, 0x56, 0x78, 0x00, 0x64, 0x7F, 0x01};
    Request request;
    request.kind = Request::Kind(state.range(0));
    request.parameter = 100;
    request.firstElement = 3;
    request.elementCount = 4;
    request.value = value;
    request.valueSize = sizeof value;
    char buffer[LustBus::BufferSize];
    qint32 length = 0;
    measure(state, [&] {
        benchmark::DoNotOptimize(request);
        length = LustBus::formatRequest(1, request, buffer, LustBus::BufferSize);
        benchmark::DoNotOptimize(buffer);
    });
    if (length <= 0)
        state.SkipWithError("formatting failed");
    static const char *const names[] = {"read parameter", "write parameter (8 bytes)",
                                        "write text (8 bytes)", "read array",
                                        "write array (8 bytes)"};
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_FormatRequest)->DenseRange(Request::ReadParameter, Request::WriteArray);

// Station and checksum test of a data reply carrying value_digits hex digits.
void BM_TestDataReply(benchmark::State &state)
{
    char reply[LustBus::BufferSize] = {};
    int n = 0;
    reply[n++] = LustBus::stationCharacter(1);
    reply[n++] = LustBus::STX;
    reply[n++] = '=';
    for (int i = 0; i < state.range(0); ++i)
        reply[n++] = "0123456789ABCDEF"[i % 16];
    reply[n++] = LustBus::ETX;
    char sum = 0;
    for (int i = 2; i < n; ++i)
        sum = char(sum ^ reply[i]);
    reply[n++] = sum;
    bool good = false;
    measure(state, [&] {
        benchmark::DoNotOptimize(reply);
        good = LustBus::checkReplyStation(reply, 1) && LustBus::checkReplyChecksum(reply, n);
        benchmark::DoNotOptimize(good);
    });
    if (!good)
        state.SkipWithError("the reply did not pass");
}
BENCHMARK(BM_TestDataReply)->Arg(4)->Arg(128);

} // namespace

BENCHMARK_MAIN();
