// The command line under hostile use: refusals, streams, signals and the exit codes.
#include "clifixture.h"

namespace {

} // namespace
