// The command line under hostile use: the change of address and MACs in every form the appliances write.
#include "clifixture.h"

namespace {

} // namespace
