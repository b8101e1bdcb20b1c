// The continuous mode of tarvo-cli flash: each port waits for its device (an inotify watch on
// the device's folder, serial/DeviceWatcher.h), opens it when it appears, polls for a handset,
// runs as flash does (status, progress and an end line per run), closes the device when the
// run has ended, and begins the next run only once the device has gone and come back. A device
// present at the start is flashed once. An open failure is a run that ends ERROR, told with
// the preflight check's hint (doctor/Doctor.h).
//
// The record: a run begins (its device opens) only once its RUNNING record is durable. When
// that write fails the run ends ERROR with the reason, the handset is not touched, and no run
// begins on any port until the journal has taken a write again (the refused run's record);
// the handset still in the socket is then flashed. With a forward target the records go to
// the line database while the job runs (record/Forwarder.h); changes of either state are
// told on stderr.
//
// SIGINT/SIGTERM/SIGHUP are the normal end: runs in progress are stopped at once and end
// ABORTED; a port waiting for its device has no run to end. Then a summary per port (runs,
// PASS, FAIL, ERROR, ABORTED; NO TARGET counts as ERROR) goes to stdout, or to stderr with
// --json so that stdout stays JSON Lines. Exit status 0 when every run that ended passed and
// none was aborted, 1 otherwise.
//
// Threading: runs on the calling thread, which receives every report; the device watcher and
// the signal watch wake it through the report queue.
#pragma once

#include "tools/cli/Flash.h"

namespace tarvo::cli {

int RunContinuousJob(const FlashJob& job);

}  // namespace tarvo::cli
