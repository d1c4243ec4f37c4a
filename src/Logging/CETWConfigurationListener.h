#pragma once
// Applies enable state and severity to the trace back end when it starts and
// whenever a trace session enables or disables it; the provider keys in the
// registry have the last word, the most specific key winning.

#include "Logging/ETWAppProperties.h"
#include "Logging/LoggingIf.h"

namespace ETWLogging {

class LoggingConfigListenerIf : public CLoggingListenerIf {
public:
    virtual void OnControl(ULONG enable, UCHAR level, ULONG flags) = 0;
};

class CETWConfigurationListener : public LoggingConfigListenerIf {
public:
    CETWConfigurationListener(const internal::ETWAppProperties& properties, CLoggingIf* backEnd);

    void OnControl(ULONG enable, UCHAR level, ULONG flags) override;
    // False when a back end is attached already or `backEnd` is null.
    bool SetLogging(CLoggingIf* backEnd);
    void GetProviderKey(HKEY& root, std::wstring& path) const;
    void ReadOverrides(HKEY root, const std::wstring& path);

private:
    internal::ETWAppProperties properties_;
    CLoggingIf* backEnd_ = nullptr; // not owned: the back end owns this listener
};

} // namespace ETWLogging
