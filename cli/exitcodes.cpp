#include "exitcodes.h"

#include "devicemsg.h"

EExit StatusExit(int nStatus)
{
    switch (nStatus) {
    case DS_BAD_PASSWORD:
        return EXIT_BAD_PASSWORD;
    case DS_BAD_REQUEST:
        return EXIT_BAD_REQUEST;
    case DS_INTERNAL_ERROR:
        return EXIT_INTERNAL;
    case DS_VERSION_MISMATCH:
        return EXIT_VERSION;
    default:
        return EXIT_OTHER_STATUS;
    }
}

const char* const EXIT_CODE_HELP = R"(Exit codes:
   0  done
   1  backup-all, restore-all, provision: one or more appliances failed, or did not
      answer (the summary and the report say which)
   2  bad input (a malformed MAC or address, an address that reaches every host or none,
      leading zeros, a password beyond Latin-1, an unknown option, a file that cannot be
      read or written, an invalid --match, a MAC nobody answers for, no --yes without a
      terminal, a refused plan or image file): nothing was sent
   3  no response within the timeout: "No Response !!!"; backup-all, restore-all,
      provision: no appliance answered
   4  the appliance answered "Invalid Password !!!"
   5  the appliance answered "Invalid REQUEST !!!"
   6  the appliance answered "Internal Error !!!"
   7  the appliance answered "FlashInfo Version Mismatched Error !!!"
   8  the appliance answered another error status: "UnKnown Error !!!"
   9  network: no socket could be opened (or too few file descriptors are free), or a
      request could not be sent
  10  the image file (or the report, or standard output) could not be written, or is not a
      regular file (a FIFO, a device, a socket, a link to nothing: refused before anything is sent)
  11  set-ip: the change was acknowledged, but the appliance does not answer from NEW_IP
  12  login-url: the appliance reported an unusable web port, or no URL can be formed
  13  not confirmed at the prompt: nothing was sent
  14  backup-all, restore-all, provision: appliances answered, but none matches --match
      (restore-all: none has a file; provision: none is in the plan)
 129, 130, 143  backup-all, restore-all, provision, watch --once-settled: interrupted by SIGHUP,
      SIGINT or SIGTERM; the summary and the report say what was done
watch and provision --watch run until a signal and then exit 0.
)";
