#pragma once
// The table of output formats (kOutputFormats of writers/writer.h) with their writers.

#include <memory>

#include "writers/writer.h"

namespace tessmar {

// The writer of one of the other tools' formats (every format that is not a text layout: DIAdem,
// Vector MDF, Stiegele MDF, ETAS ASCII); nullptr for a text layout or an unknown code.
std::unique_ptr<Writer> CreateFormatWriter(int format_code);

}  // namespace tessmar
