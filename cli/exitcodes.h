// Exit codes of `norvane`. Scripts depend on them: never renumber one.
#pragma once

enum EExit : int {
    EXIT_OK = 0,
    EXIT_SOME_FAILED = 1,   // a command on many appliances: one or more failed
    EXIT_USAGE = 2,         // bad input; nothing was sent
    EXIT_NO_RESPONSE = 3,   // silence until the timeout; on many: no appliance answered
    EXIT_BAD_PASSWORD = 4,  // status 1
    EXIT_BAD_REQUEST = 5,   // status 2
    EXIT_INTERNAL = 6,      // status 3
    EXIT_VERSION = 7,       // status 4
    EXIT_OTHER_STATUS = 8,  // any other status
    EXIT_NETWORK = 9,       // the socket could not be opened or a request not sent
    EXIT_FILE = 10,         // the image file or report could not be written, or is no regular file
    EXIT_NOT_VERIFIED = 11, // set-ip: acknowledged, but not found at the new address
    EXIT_NO_LOGIN = 12,     // login-url: unusable web port, or no URL can be formed
    EXIT_DECLINED = 13,     // answered No at the confirmation prompt
    EXIT_NONE_MATCHED = 14, // on many: appliances answered, none matches --match (or the plan)
};

// The exit code that tells a reply's non-zero status byte.
EExit StatusExit(int nStatus);

// The table printed by `norvane --help`.
extern const char* const EXIT_CODE_HELP;
