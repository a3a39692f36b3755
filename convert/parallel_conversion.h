#pragma once
// Converting groups of recordings on worker threads, each group into outputs of its own: the
// workers run the driver over one group at a time, their messages are collected per source and
// handed to the front end in the order of the sources, on the thread that started the run.

#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "common/message_output.h"
#include "convert/conversion_observer.h"
#include "convert/conversion_plan.h"

namespace tessmar {

// What became of a source in a run, for the summary of an aborted run.
enum class SourceOutcome : char {
  kNotStarted,
  kConverted,
  kFailed,
  kInterrupted,         // the abort stopped its conversion
  kSkipped,             // its output exists (no_clobber)
  kInIncompleteOutput,  // converted into a combined output that was then closed incomplete
};

// The counts and outcomes of converting some of a plan's sources.
struct GroupResult {
  int converted = 0;
  int error_messages = 0;
  int unreported_decode_errors = 0;
  int skipped = 0;
  bool aborted = false;
  std::vector<std::pair<int, SourceOutcome>> outcomes;         // per source index
  std::vector<std::pair<int, std::filesystem::path>> outputs;  // converted, in source order
};

// A worker's messages: the index of the source being converted, the severity and the text.
using GroupMessageSink = std::function<void(int source, int severity, std::string_view text)>;
// Converts one group (source indices, ascending) of a plan on the calling thread.
using ConvertGroupFn =
    std::function<GroupResult(const ConversionPlan& plan, ConversionObserver& observer,
                              std::span<const int> group, const GroupMessageSink& sink)>;

// Converts the groups on up to plan.request.jobs threads. The workers run a copy of the plan with
// one job and no format thread; their progress and finished sources reach the observer one call
// at a time, and its abort query (or a refused progress) stops every worker. `front_end` receives
// each source's messages, in the order of the sources, on this thread. Groups not started because
// of an abort count as aborted.
GroupResult ConvertGroupsInParallel(const ConversionPlan& plan, ConversionObserver& observer,
                                    std::vector<std::vector<int>> groups,
                                    const ConvertGroupFn& convert_group,
                                    const MessageHandler& front_end);

}  // namespace tessmar
