// The barcode database request (700-702): the terminal's barcode database file is built anew
// and its chunk count answered with 817, which starts the hub's download to the terminal.
#pragma once

#include "helvar/request.h"
#include "helvar/work_context.h"

namespace helvar {

int BuildBarcodeDatabaseFile(CWorkContext& context, const Request& request);

}  // namespace helvar
