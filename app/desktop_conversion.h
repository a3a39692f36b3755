#pragma once
// The desktop program's run of a conversion. It runs on the window's own thread, inside the
// handler of the "Go" button: every progress report lets the window repaint and see the abort
// button and the Escape key, while every other input is held back, and a close of the window
// waits until the run has stopped. The converter page shows the progress, the result line and
// the previews.

#include <QObject>
#include <filesystem>
#include <string>

#include "app/converter_page.h"
#include "convert/conversion_driver.h"

class QWidget;

namespace tessmar {

class DesktopConversion : public QObject, public ConversionObserver {
 public:
  // page: where the progress, the result and the previews are shown; settings_path: where the
  // preview windows keep their placement.
  DesktopConversion(ConverterPage* page, std::filesystem::path settings_path, QObject* parent);

  // Runs the plan (a refused one shows its refusal and leaves the page as it is).
  ConversionSummary Run(const ConversionPlan& plan);
  bool running() const { return running_; }
  // Asks the running conversion to stop, as the abort button and the Escape key do.
  void RequestAbort() { abort_requested_ = true; }
  // The window is asked to close: while a conversion runs, it is aborted and the close is tried
  // again shortly after. True when the close must wait.
  bool DeferClose(QWidget* window);

  // ConversionObserver.
  bool OnProgress(int percent, const std::filesystem::path& source, int64_t kbytes) override;
  bool AbortRequested() override { return abort_requested_; }
  bool WantsPreviews() const override { return previews_.graph || previews_.map; }
  bool WantsSignalsRows() const override { return previews_.graph; }
  void OnSourceStart(const SourceStart& start) override;
  void OnSignalsRow(double time, double time_base, std::span<const ChannelValue> values) override;
  void OnGpsFix(const GpsFix& fix) override;
  bool StartViewer(const std::string& program, const std::filesystem::path& file) override;

 protected:
  // While converting, only the Escape key and the abort button get through.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ConverterPage* page_;
  std::filesystem::path settings_path_;
  bool running_ = false;
  bool abort_requested_ = false;
  ConverterPage::Previews previews_;  // of the running conversion
};

}  // namespace tessmar
