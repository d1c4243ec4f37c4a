#pragma once
// The classic event-trace calls of the trace back end, behind one replaceable
// seam: tests play a trace session through their own implementation.

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

namespace ETWLogging {

class TracePlatform {
public:
    virtual ~TracePlatform() = default;
    virtual ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                                     const GUID& eventClassGuid, TRACEHANDLE* registration) = 0;
    virtual ULONG UnregisterTraceGuids(TRACEHANDLE registration) = 0;
    // INVALID_TRACEHANDLE_VALUE (with the last error set) on failure.
    virtual TRACEHANDLE GetTraceLoggerHandle(void* buffer) = 0;
    // 0 (with the last error set) on failure.
    virtual UCHAR GetTraceEnableLevel(TRACEHANDLE session) = 0;
    virtual ULONG GetTraceEnableFlags(TRACEHANDLE session) = 0;
    virtual ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) = 0;
};

// The real calls of the operating system.
TracePlatform& systemTracePlatform();

constexpr TRACEHANDLE kInvalidTraceHandle = static_cast<TRACEHANDLE>(-1);

} // namespace ETWLogging
