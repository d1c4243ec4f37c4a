#include "Logging/TracePlatform.h"

#include "Logging/Immortal.h"

namespace ETWLogging {
namespace {

class SystemTracePlatform : public TracePlatform {
public:
    ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                             const GUID& eventClassGuid, TRACEHANDLE* registration) override
    {
        TRACE_GUID_REGISTRATION classRegistration{&eventClassGuid, nullptr};
        return ::RegisterTraceGuidsW(callback, context, &controlGuid, 1, &classRegistration, nullptr, nullptr,
                                     registration);
    }
    ULONG UnregisterTraceGuids(TRACEHANDLE registration) override { return ::UnregisterTraceGuids(registration); }
    TRACEHANDLE GetTraceLoggerHandle(void* buffer) override { return ::GetTraceLoggerHandle(buffer); }
    UCHAR GetTraceEnableLevel(TRACEHANDLE session) override { return ::GetTraceEnableLevel(session); }
    ULONG GetTraceEnableFlags(TRACEHANDLE session) override { return ::GetTraceEnableFlags(session); }
    ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) override
    {
        return ::TraceEvent(session, header);
    }
};

} // namespace

TracePlatform& systemTracePlatform()
{
    return Basalt::internal::immortal<SystemTracePlatform>();
}

} // namespace ETWLogging
