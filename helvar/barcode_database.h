// The barcode database request (700-702): the terminal's barcode database file is built anew
// and its chunk count answered with 817, which starts the hub's download to the terminal.
#pragma once

#include <string>

#include "helvar/request.h"
#include "helvar/work_context.h"

namespace helvar {

// The answer 817 to a barcode database build: STX "TavenorGateway" "XX" "0027" "TRM" "817" FS
// <chunk count> ETX, its check byte and a NUL.
std::string BarcodeBuildAnswer(int chunk_count);

int BuildBarcodeDatabaseFile(CWorkContext& context, const Request& request);

}  // namespace helvar
