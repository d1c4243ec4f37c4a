#pragma once
// Trace calls that go nowhere and count the events they are given: the
// benchmarks measure the trace back end, not Wine's stubs of these calls.

#include "Logging/TracePlatform.h"

namespace benchsupport {

class NullTracePlatform : public ETWLogging::TracePlatform {
public:
    unsigned long events = 0;

    ULONG RegisterTraceGuids(WMIDPREQUEST, void*, const GUID&, const GUID&, TRACEHANDLE* handle) override
    {
        *handle = 1;
        return 0;
    }
    ULONG UnregisterTraceGuids(TRACEHANDLE) override { return 0; }
    TRACEHANDLE GetTraceLoggerHandle(void*) override { return 1; }
    UCHAR GetTraceEnableLevel(TRACEHANDLE) override { return 4; }
    ULONG GetTraceEnableFlags(TRACEHANDLE) override { return 0; }
    ULONG TraceEvent(TRACEHANDLE, EVENT_TRACE_HEADER*) override { return ++events, 0u; }
};

} // namespace benchsupport
