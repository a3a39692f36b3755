#include "writers/number_text.h"

#include "common/text_readers.h"

namespace tessmar {

std::size_t ReadDecimalNumber(std::string_view text, double& value) {
  std::string_view cursor = text;
  bool had_digits = false;
  double v = ReadReal(cursor, &had_digits);
  if (!had_digits) return 0;
  value = v;
  return text.size() - cursor.size();
}

}  // namespace tessmar
