// The whole report of the machine under a root, as text in the layout the program reads.
#pragma once

#include <string>

#include "sysreport/source.h"

namespace sysreport {

std::string BuildReport(const Root& root, const Deadline& deadline);

}  // namespace sysreport
