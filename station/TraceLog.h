// Routes the serial trace of the engines ("~0x%02x~" and "[0x%02x]" per received byte) to the
// logging category "tarvo.trace", off by default. Turn it on with
//   QT_LOGGING_RULES="tarvo.trace.debug=true"
#pragma once

#include <QLoggingCategory>

#include "serial/Trace.h"

Q_DECLARE_LOGGING_CATEGORY(lcTarvoTrace)

namespace tarvo {

class LogTraceSink final : public ITraceSink {
public:
    void Trace(const char* line) override;
    // This sink when the category is on, else null, so that engines skip formatting the
    // trace altogether.
    ITraceSink* IfEnabled();
};

}  // namespace tarvo
