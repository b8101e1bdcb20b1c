#include "station/TraceLog.h"

Q_LOGGING_CATEGORY(lcTarvoTrace, "tarvo.trace", QtInfoMsg)

namespace tarvo {

void LogTraceSink::Trace(const char* line)
{
    // qCDebug is thread-safe; the receive threads of every port call this at once.
    qCDebug(lcTarvoTrace, "%s", line);
}

ITraceSink* LogTraceSink::IfEnabled() { return lcTarvoTrace().isDebugEnabled() ? this : nullptr; }

}  // namespace tarvo
