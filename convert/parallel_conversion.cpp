#include "convert/parallel_conversion.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tessmar {

namespace {

class ParallelConversion : public ConversionObserver {
 public:
  ParallelConversion(const ConversionPlan& plan, ConversionObserver& observer,
                     std::vector<std::vector<int>> groups, const ConvertGroupFn& convert_group)
      : observer_(observer),
        worker_plan_(plan),
        jobs_(std::max(1, plan.request.jobs)),
        groups_(std::move(groups)),
        convert_group_(convert_group),
        messages_(plan.sources.size()),
        done_(plan.sources.size(), 0),
        outputs_(plan.sources.size()) {
    worker_plan_.request.jobs = 1;
    // The workers already use the cores: no second thread per file.
    worker_plan_.request.format_thread = ConversionRequest::FormatThread::kOff;
  }

  GroupResult Run(const MessageHandler& front_end) {
    const std::size_t threads =
        std::min<std::size_t>(static_cast<std::size_t>(jobs_), groups_.size());
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (std::size_t n = 0; n < threads; ++n) workers.emplace_back([this] { Work(); });
    for (std::size_t next = 0; next < done_.size(); ++next) {
      std::unique_lock<std::mutex> lock(mutex_);
      done_changed_.wait(lock, [&] { return done_[next] != 0; });
      const std::vector<Message> messages = std::move(messages_[next]);
      lock.unlock();
      for (const Message& m : messages) {
        if (front_end) front_end(m.severity, m.text);
      }
    }
    for (std::thread& worker : workers) worker.join();
    for (std::size_t i = 0; i < outputs_.size(); ++i) {
      if (!outputs_[i].empty()) total_.outputs.emplace_back(static_cast<int>(i), outputs_[i]);
    }
    return std::move(total_);
  }

  // The workers' observer: one front-end call at a time; the user's abort stops every worker.
  bool OnProgress(int percent, const std::filesystem::path& source, int64_t kbytes) override {
    if (AbortRequested()) return false;
    std::lock_guard<std::mutex> lock(front_end_mutex_);
    if (observer_.OnProgress(percent, source, kbytes)) return true;
    stop_ = true;
    return false;
  }
  bool AbortRequested() override {
    if (observer_.AbortRequested()) stop_ = true;
    return stop_.load();
  }
  void OnSourceFinished(const std::filesystem::path& source) override {
    std::lock_guard<std::mutex> lock(front_end_mutex_);
    observer_.OnSourceFinished(source);
  }

 private:
  struct Message {
    int severity;
    std::string text;
  };

  void Work() {
    for (;;) {
      const std::size_t g = next_group_++;
      if (g >= groups_.size()) break;
      const std::vector<int>& group = groups_[g];
      if (AbortRequested()) {
        std::lock_guard<std::mutex> lock(mutex_);
        total_.aborted = true;  // not started: the run was aborted
      } else {
        const GroupResult result = convert_group_(
            worker_plan_, *this, group, [this](int source, int severity, std::string_view text) {
              messages_[static_cast<std::size_t>(source)].push_back({severity, std::string(text)});
            });
        std::lock_guard<std::mutex> lock(mutex_);
        total_.converted += result.converted;
        total_.error_messages += result.error_messages;
        total_.unreported_decode_errors += result.unreported_decode_errors;
        total_.skipped += result.skipped;
        total_.aborted = total_.aborted || result.aborted;
        total_.outcomes.insert(total_.outcomes.end(), result.outcomes.begin(),
                               result.outcomes.end());
        for (const auto& [i, output] : result.outputs) {
          outputs_[static_cast<std::size_t>(i)] = output;
        }
      }
      std::lock_guard<std::mutex> lock(mutex_);
      for (const int i : group) done_[static_cast<std::size_t>(i)] = 1;
      done_changed_.notify_one();
    }
  }

  ConversionObserver& observer_;
  ConversionPlan worker_plan_;
  const int jobs_;
  const std::vector<std::vector<int>> groups_;
  const ConvertGroupFn& convert_group_;
  std::atomic<std::size_t> next_group_{0};
  std::atomic<bool> stop_{false};
  std::mutex front_end_mutex_;  // one front-end call at a time
  std::mutex mutex_;            // done_ and total_
  std::condition_variable done_changed_;
  std::vector<std::vector<Message>> messages_;  // per source, filled by its worker
  std::vector<char> done_;                      // per source: its messages are complete
  std::vector<std::filesystem::path> outputs_;  // per source: its output when converted
  GroupResult total_;
};

}  // namespace

GroupResult ConvertGroupsInParallel(const ConversionPlan& plan, ConversionObserver& observer,
                                    std::vector<std::vector<int>> groups,
                                    const ConvertGroupFn& convert_group,
                                    const MessageHandler& front_end) {
  ParallelConversion parallel(plan, observer, std::move(groups), convert_group);
  return parallel.Run(front_end);
}

}  // namespace tessmar
