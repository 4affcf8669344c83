// The wire codec in fixed buffers: formatting the five request telegrams and
// recognising them, testing a data reply; ns per telegram, and no heap allocation at all.
#include "allocationcounter.h"
#include "wirecodec.h"

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

// Parameter 100, elements 3 to 6, 8 value bytes; labelled with its kind.
Request requestOfKind(benchmark::State &state)
{
    static const char value[8] = {0x12, 0x34, 0x56, 0x78, 0x00, 0x64, 0x7F, 0x01};
    static const char *const names[] = {"read parameter", "write parameter (8 bytes)",
                                        "write text (8 bytes)", "read array",
                                        "write array (8 bytes)"};
    state.SetLabel(names[state.range(0)]);
    Request request;
    request.kind = Request::Kind(state.range(0));
    request.parameter = 100;
    request.firstElement = 3;
    request.elementCount = 4;
    request.value = value;
    request.valueSize = sizeof value;
    return request;
}

void BM_FormatRequest(benchmark::State &state)
{
    const Request request = requestOfKind(state);
    char buffer[LustBus::BufferSize];
    qint32 length = 0;
    measure(state, [&] {
        benchmark::DoNotOptimize(request);
        length = LustBus::formatRequest(1, request, buffer, LustBus::BufferSize);
        benchmark::DoNotOptimize(buffer);
    });
    if (length <= 0)
        state.SkipWithError("formatting failed");
}
BENCHMARK(BM_FormatRequest)->DenseRange(Request::ReadParameter, Request::WriteArray);

// A servo's side: recognising each request telegram and its fields.
void BM_RecognizeRequest(benchmark::State &state)
{
    char buffer[LustBus::BufferSize];
    const qint32 length =
        LustBus::formatRequest(1, requestOfKind(state), buffer, LustBus::BufferSize);
    bool complete = false;
    measure(state, [&] {
        benchmark::DoNotOptimize(buffer);
        const LustBus::RequestScan scan = LustBus::scanRequest(buffer, length);
        complete = scan.status == LustBus::RequestScan::Complete && scan.request.fieldsOk;
        benchmark::DoNotOptimize(complete);
    });
    if (!complete)
        state.SkipWithError("the request was not recognised");
}
BENCHMARK(BM_RecognizeRequest)->DenseRange(Request::ReadParameter, Request::WriteArray);

// Station and checksum test of a data reply carrying value_digits hex digits.
void BM_TestDataReply(benchmark::State &state)
{
    char digits[LustBus::BufferSize];
    for (int i = 0; i < state.range(0); ++i)
        digits[i] = "0123456789ABCDEF"[i % 16];
    char reply[LustBus::BufferSize] = {};
    const int n = LustBus::formatDataReply(1, nullptr, 0, digits, int(state.range(0)), reply,
                                           LustBus::BufferSize);
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
