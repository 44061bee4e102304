// The command line under hostile use: files: images, reports and standard streams, and what is never touched.
#include "clifixture.h"

namespace {

} // namespace
