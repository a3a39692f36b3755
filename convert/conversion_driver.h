#pragma once
// The conversion driver: converts logger recordings (.cld) one after the other into the chosen
// output format through its writer (writers/).
//
// Every front end uses it the same way: fill a ConversionRequest (options read from the controls
// or the command line), plan it (conversion_plan.h), run the plan with an observer of its own
// (conversion_observer.h) that shows the progress and answers the abort query. Everything the user
// must read goes through the message output; the run returns the counts for the exit status.

#include <filesystem>
#include <vector>

#include "convert/conversion_observer.h"
#include "convert/conversion_plan.h"

namespace tessmar {

struct ConversionSummary {
  int converted = 0;     // sources converted without failure
  int errors = 0;        // error messages of the run (at least 1 per failed source)
  bool refused = false;  // the option check refused, nothing converted
  bool aborted = false;
  int skipped = 0;  // sources not converted because their output exists (no_clobber)
  std::vector<std::filesystem::path> outputs;  // main output of every converted source
  int format_thread_sources = 0;  // sources whose rows were written on the second thread
};

// Runs a planned conversion: the plan's messages (a refused plan shows its refusal and ends
// there), each source, closing, the result line and the optional viewer start. After an abort, a
// warning before the result line names each recording that was not converted completely:
// interrupted, never started, failed, or written into a combined output that was closed
// incomplete.
[[nodiscard]] ConversionSummary RunConversion(const ConversionPlan& plan,
                                              ConversionObserver& observer);
// Plans the request and runs it (without an observer: no progress, no previews, questions asked
// through the installed handler).
[[nodiscard]] ConversionSummary RunConversion(const ConversionRequest& request,
                                              ConversionObserver* observer = nullptr);

}  // namespace tessmar
