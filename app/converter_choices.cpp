#include "app/converter_choices.h"

#include "common/message_output.h"
#include "writers/writer.h"

namespace tessmar {

void ConverterChoices::Set(const ConverterOptions& chosen, int message_rate_limit) {
  chosen_ = chosen;
  Show(message_rate_limit);
}

void ConverterChoices::Edit(const ConverterOptions& controls, int message_rate_limit) {
  const auto take = [&](auto ConverterOptions::*field) {
    if (controls.*field != shown_.*field) chosen_.*field = controls.*field;
  };
  take(&ConverterOptions::output_type);
  take(&ConverterOptions::output_file_format);
  take(&ConverterOptions::headlines);
  take(&ConverterOptions::column_separator);
  take(&ConverterOptions::decimal_separator);
  take(&ConverterOptions::time_column1);
  take(&ConverterOptions::time_column2);
  take(&ConverterOptions::write_interval);
  take(&ConverterOptions::invalid_signal);
  take(&ConverterOptions::scaled_values);
  take(&ConverterOptions::ignore_logged_sigdefs);
  take(&ConverterOptions::combine_output);
  take(&ConverterOptions::skip_until_all_valid);
  take(&ConverterOptions::graph_preview);
  take(&ConverterOptions::conditional_breakpoint);
  take(&ConverterOptions::channels);
  take(&ConverterOptions::start_time);
  take(&ConverterOptions::stop_time);
  Show(message_rate_limit);
}

bool ConverterChoices::graph_preview_enabled() const {
  return shown_.output_type == OutputType::kSignals;
}

void ConverterChoices::Show(int message_rate_limit) {
  shown_ = chosen_;
  check_ = CheckConverterOptions(shown_);
  if (!graph_preview_enabled()) shown_.graph_preview = false;
  // A field the format fixes is greyed: what the user types there would not be used.
  if (const OutputFormatInfo* f = FindOutputFormat(shown_.output_file_format)) {
    check_.headlines_disabled |= f->no_headlines;
    check_.separators_disabled |= f->column_separator || f->decimal_separator;
    check_.time_columns_disabled |= f->time_column1 || f->time_column2;
    check_.invalid_value_disabled |= f->invalid_value != nullptr;
    check_.write_interval_disabled |= f->write_interval != nullptr;
  }
  // The interval the conversion will use: an interval the check replaced, or one the conversion
  // would replace, is shown replaced (and is the user's value from now on: the user was told).
  const double typed = ParseSeconds(shown_.write_interval);
  const double used = UsableWriteInterval(typed, message_rate_limit);
  if (used != typed) {
    shown_.write_interval = StrPrintf("%lg", used);
    check_.write_interval_red = true;
  }
  if (check_.write_interval_red) chosen_.write_interval = shown_.write_interval;
}

std::string IntervalInWords(double seconds) {
  if (seconds <= 0) return {};
  if (seconds < 1) return StrPrintf("= %lg ms", seconds * 1000);
  return StrPrintf("= %lg s", seconds);
}

}  // namespace tessmar
