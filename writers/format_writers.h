#pragma once
// The writers of other tools' file formats, created by output format code: 3, 4, 6 DIAdem ASCII,
// INT32, REAL64; 7 Vector MDF; 8 Stiegele MDF; 9 ETAS ASCII.

#include <memory>

#include "writers/writer.h"

namespace tessmar {

// The writer of a format code; nullptr for any code this folder does not write.
std::unique_ptr<Writer> CreateFormatWriter(int format_code);

}  // namespace tessmar
