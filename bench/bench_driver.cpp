// CPU and heap allocations per request through DriverInterface, on a link that
// answers at once: what the driver itself costs, with no bus in the way.
#include "allocationcounter.h"
#include "benchaddress.h"
#include "driverlustbusservoccde.h"
#include "instantlink.h"

#include <benchmark/benchmark.h>

namespace {

// Runs request() once per iteration; reports the allocations per request and stops
// with an error if the driver failed, the link saw the wrong number of exchanges or a
// request allocated more than max_allocations times.
template <typename Request>
void measure(benchmark::State &state, InstantLink &link, DriverInterface &driver,
             int exchanges_per_request, Request request, long max_allocations = -1)
{
    request(); // the first call may set up what later ones reuse
    const long linkBefore = link.requests();
    const long before = AllocationCounter::count();
    for (auto _ : state)
        request();
    const long allocations = AllocationCounter::count() - before;
    if (driver.hasError()) {
        state.SkipWithError(driver.errorText().toLatin1().constData());
        return;
    }
    if (link.requests() - linkBefore != long(state.iterations()) * exchanges_per_request) {
        state.SkipWithError("the link saw a wrong number of exchanges");
        return;
    }
    state.counters["allocs/req"] =
        benchmark::Counter(double(allocations), benchmark::Counter::kAvgIterations);
    if (max_allocations >= 0 && allocations > max_allocations * long(state.iterations()))
        state.SkipWithError("a request allocated more than it may");
}

// INT16:100 of kind 2: a "20" read of one 16-bit value. Its one allocation is the
// array it returns.
void BM_ReadInt16(benchmark::State &state)
{
    InstantLink link(InstantLink::dataReply("1234"));
    DriverLustBusServoCCDE driver;
    DriverInterface &host = driver;
    const DataAddress address = makeAddress(2, 1, "INT16:100");
    measure(
        state, link, host, 1,
        [&] {
            const QByteArray value = host.read(link, address);
            benchmark::DoNotOptimize(value.constData());
        },
        1);
    if (host.read(link, address) != QByteArray("\x34\x12", 2))
        state.SkipWithError("wrong value");
}
BENCHMARK(BM_ReadInt16);

// USIGN16:200:0 of kind 2, count 32: one "70" read of 32 elements.
void BM_ReadUSign16Array32(benchmark::State &state)
{
    QByteArray digits;
    for (int i = 0; i < 32; ++i)
        digits += QByteArray::number(0x1000 + i, 16).toUpper();
    InstantLink link(InstantLink::dataReply(digits));
    DriverLustBusServoCCDE driver;
    DriverInterface &host = driver;
    const DataAddress address = makeAddress(2, 32, "USIGN16:200:0");
    measure(state, link, host, 1, [&] {
        const QByteArray value = host.read(link, address);
        benchmark::DoNotOptimize(value.constData());
    });
    const QByteArray value = host.read(link, address);
    if (value.size() != 64 || value[62] != char(0x1F) || value[63] != char(0x10))
        state.SkipWithError("wrong value");
}
BENCHMARK(BM_ReadUSign16Array32);

// FIXPT16:300 of kind 3: 12.34 in hundredths, written as a "20" write.
void BM_WriteFixPt16(benchmark::State &state)
{
    InstantLink link(InstantLink::dataReply("0"));
    DriverLustBusServoCCDE driver;
    DriverInterface &host = driver;
    const DataAddress address = makeAddress(3, 1, "FIXPT16:300");
    const qint32 hundredths = 1234;
    const QByteArray data(reinterpret_cast<const char *>(&hundredths), 4);
    int result = 0;
    measure(state, link, host, 1, [&] {
        result = host.write(link, address, data);
        benchmark::DoNotOptimize(result);
    });
    if (result == 0)
        state.SkipWithError("not acknowledged");
}
BENCHMARK(BM_WriteFixPt16);

// INT16:100.3 of kind 0, one bit: the value is read, bit 3 set and written back, two
// exchanges per request.
void BM_WriteBit(benchmark::State &state)
{
    InstantLink link(InstantLink::dataReply("1234"));
    DriverLustBusServoCCDE driver;
    DriverInterface &host = driver;
    const DataAddress address = makeAddress(0, 1, "INT16:100.3");
    const QByteArray bit(1, '\x01');
    int result = 0;
    measure(state, link, host, 2, [&] {
        result = host.write(link, address, bit);
        benchmark::DoNotOptimize(result);
    });
    if (result == 0)
        state.SkipWithError("not acknowledged");
}
BENCHMARK(BM_WriteBit);

} // namespace

BENCHMARK_MAIN();
