#include "convert/conversion_plan.h"

#include <string_view>
#include <utility>

#include "common/text_util.h"
#include "convert/channel_selection.h"

namespace tessmar {

namespace {

using Entries = std::vector<MessageCapture::Entry>;

// Runs `work` with the messages of this thread collected into `into` instead of shown.
template <typename Work>
void Collect(Entries& into, Work&& work) {
  ThreadMessageHandler collect([&into](int severity, std::string_view text) {
    into.push_back({severity, std::string(text)});
  });
  work();
}

// The option check's box text as one warning: its line breaks become plain line feeds.
void AddOptionNote(const ConversionRequest& request, const OptionCheckResult& check,
                   Entries& into) {
  if (!request.show_option_notes || check.box_text.empty()) return;
  const std::string text = Tr(check.box_text.c_str());
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') continue;
    if (text[i] == '\n' && !out.empty() && out.back() == '\n') continue;
    out += text[i];
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  into.push_back({kMsgWarning, std::move(out)});
}

void Refuse(ConversionPlan& plan) {
  plan.accepted = false;
  plan.messages.push_back({kMsgError, Tr(kRefusedText)});
}

// The check normalises first (Signals and DIAdem need at least 0.1 ms); reading the options for
// the conversion then replaces what is still illegal (a Messages interval below 0.1 ms).
bool PlanOptions(ConversionPlan& plan) {
  const ConversionRequest& request = plan.request;
  plan.options = request.options;
  ConverterOptions& options = plan.options;
  std::string span_error;
  if (!CheckSelectionOptions(options.start_time, options.stop_time, &span_error)) {
    plan.messages.push_back({kMsgError, span_error});
    Refuse(plan);
    return false;
  }
  const int rate_limit = request.user_config ? request.user_config->cfg.MsgRateLimit : 0;
  Collect(plan.messages, [&] {
    plan.check = CheckConverterOptions(options);
    plan.interval = ReadWriteInterval(options, rate_limit);
  });
  if (!plan.check.accepted) {
    if (!plan.check.box_text.empty() && !request.option_box_shown) {
      plan.messages.push_back({kMsgWarning, Tr(plan.check.box_text.c_str())});
    }
    Refuse(plan);
    return false;
  }
  AddOptionNote(request, plan.check, plan.messages);
  if (plan.check.write_interval_red && request.show_option_notes) {
    // The box asks for a valid interval; without one, say which interval is used.
    plan.messages.push_back(
        {kMsgWarning,
         StrPrintf(Tr("Warning: Output write interval was illegal. Changed from %lg to %lg "
                      "seconds."),
                   ParseSeconds(request.options.write_interval),
                   ParseSeconds(options.write_interval))});
  }
  // The graph preview draws Signals only.
  if (options.graph_preview && options.output_type != OutputType::kSignals) {
    options.graph_preview = false;
    plan.graph_preview_dropped = true;
  }
  plan.accepted = true;
  return true;
}

CombineRole RoleOf(bool combine, std::size_t i, std::size_t count) {
  if (!combine || count < 2) return CombineRole::kSeparate;
  if (i == 0) return CombineRole::kFirst;
  return i + 1 < count ? CombineRole::kMiddle : CombineRole::kLast;
}

// What refuses a source by its name or its options before it is opened.
std::string SourceRefusal(const PlannedSource& s) {
  const std::string ext = LowerAscii(s.source.extension().string());
  if (ext.empty() || ext == ".") return Tr("Error: Missing filename extension .");
  if (ext == ".asc") {
    // Accepted as a source name, but there is no reader for it.
    return StrPrintf(
        Tr("Error: Cannot convert \"%s\": Vector ASCII files are not read by this converter ."),
        s.source.c_str());
  }
  if (ext != ".cld") return Tr("Error: Unsupported sourcefile format .");
  if (s.type() != OutputType::kLogfileDump &&
      ColumnSeparatorChar(s.options.column_separator) ==
          DecimalSeparatorChar(s.options.decimal_separator) &&
      !(s.format && s.format->separators_may_match)) {
    return Tr("Error: Column-separator must be different from decimal-separator .");
  }
  if (s.format && s.format->refused_type_text &&
      !(s.format->output_types & OutputTypeBit(s.type()))) {
    return Tr(s.format->refused_type_text);
  }
  return {};
}

// The i-th source: its output before same-named outputs are told apart and its options (an
// output name's extension chooses the format). Combining: the first output name (if any) names
// the one output.
PlannedSource PlanSource(const ConversionPlan& plan, std::size_t i) {
  const ConversionRequest& request = plan.request;
  PlannedSource s;
  s.source = request.sources[i];
  s.options = plan.options;
  if (s.options.output_type == OutputType::kLogfileDump) s.options.output_file_format = kFormatText;
  const std::size_t name_index = plan.options.combine_output ? 0 : i;
  if (name_index < request.output_names.size()) {
    s.output = request.output_names[name_index];
    s.named_output = true;
    if (request.output_names_choose_format) ApplyBatchOutputName(s.output, s.options);
    OptionCheckResult check;
    Collect(s.check_messages, [&] { check = CheckConverterOptions(s.options); });
    if (!check.accepted) {
      s.options_refused = true;
      s.check_messages.push_back({kMsgError, Tr(kRefusedText)});
    } else if (check.box_text != plan.check.box_text) {
      AddOptionNote(request, check, s.check_messages);
    }
  } else {
    s.output = MakeOutputPath(request.output_dir, s.source, s.options.output_file_format);
  }
  s.format = FindOutputFormat(s.options.output_file_format);
  s.role = RoleOf(plan.options.combine_output, i, request.sources.size());
  s.refusal = SourceRefusal(s);
  return s;
}

}  // namespace

ConversionPlan PlanConversion(const ConversionRequest& request) {
  ConversionPlan plan;
  plan.request = request;
  if (!PlanOptions(plan)) return plan;
  plan.sources.reserve(request.sources.size());
  for (std::size_t i = 0; i < request.sources.size(); ++i) {
    plan.sources.push_back(PlanSource(plan, i));
  }
  return plan;
}

std::string ConversionResultLine(int converted, int errors, const std::string& error_log_hint) {
  return StrPrintf(Tr("%d file%c converted, %d conversion error%c. %s"), converted,
                   converted == 1 ? ' ' : 's', errors, errors == 1 ? ' ' : 's',
                   errors > 0 ? Tr(error_log_hint.c_str()) : "");
}

}  // namespace tessmar
