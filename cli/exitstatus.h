// What lustbus tells the shell. Scripts can tell a servo's refusal (the driver's error
// text on stderr) from a mistyped command and from a link or plugin that is not there.
#ifndef LUSTBUS_EXITSTATUS_H
#define LUSTBUS_EXITSTATUS_H

#include <csignal>

enum ExitStatus {
    ExitSuccess = 0,
    ExitDriverError = 1,  //!< the driver reported an error; its errorText is on stderr
    ExitUsageError = 2,   //!< a bad command line; the message names the bad argument
    ExitEnvironment = 3,  //!< the plugin did not load, or the link or simulator did not open
    ExitOutputError = 4,  //!< standard output or error could not be written; the message says why
    // Ended by a signal: 128 + its number, as a shell reports a program the signal ended
    // (SIGINT 130, SIGTERM 143).
    ExitSignalBase = 128,
    ExitOutputClosed = ExitSignalBase + SIGPIPE //!< the reader of a pipe went away; quietly
};

#endif // LUSTBUS_EXITSTATUS_H
