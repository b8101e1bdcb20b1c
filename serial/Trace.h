// Diagnostic trace of the serial channel and the command link.
//
// Every received byte is traced twice: "~0x%02x~" by the channel's receive thread and
// "[0x%02x]" by the frame receiver. Tracing is off unless a sink is given; the station routes
// it to a logging category, the tools to stderr.
//
// Threading: Trace() is called from receive threads and engine workers of any port at the
// same time; an implementation must be thread-safe and must not block for long.
#pragma once

namespace tarvo {

class ITraceSink {
public:
    virtual ~ITraceSink() = default;
    // `line` is a NUL-terminated text without a line end, valid only during the call.
    virtual void Trace(const char* line) = 0;
};

}  // namespace tarvo
