// Fuzz target: a logger recording pre-scanned and converted into Signals CSV and Messages CSV
// (and, for some inputs, the dump), as an unattended run would.

#include "convert/conversion_driver.h"
#include "convert/converter_options.h"
#include "tests/fuzz/fuzz_support.h"

using namespace tessmar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzz::Quiet();
  const auto source = fuzz::WriteWorkFile("input.cld", data, size);
  const int selector = size > 0 ? data[size - 1] : 0;
  for (int output_type : {1, 0, 2}) {
    if (output_type == 2 && selector % 4 != 0) continue;  // the dump is slow; some inputs only
    ConversionRequest request;
    request.sources = {source};
    request.output_names = {fuzz::WorkFile(output_type == 1 ? "signals.csv" : "messages.txt")};
    request.options.output_type = OutputTypeFromIndex(output_type);
    request.options.output_file_format = output_type == 1 ? 1 : 0;
    request.options.write_interval = selector % 2 == 0 ? "0.010" : "0.1";
    request.options.time_column1 = TimeColumnKindFromIndex(2 + selector % 4);
    request.options.skip_until_all_valid = selector % 8 == 1;
    if (selector % 3 == 0 && LoadGpsPreset(selector % 9 / 3, request.gps)) {
      request.gps.separate_track_file = 1;
      request.gps.merge_into_main_file = 1;
      request.gps.track_file_format = selector % 2;
    }
    (void)RunConversion(request);
  }
  return 0;
}
