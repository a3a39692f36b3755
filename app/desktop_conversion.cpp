#include "app/desktop_conversion.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/converter_page.h"
#include "app/external_viewer.h"
#include "app/qt_text.h"

namespace tessmar {

DesktopConversion::DesktopConversion(ConverterPage* page, std::filesystem::path settings_path,
                                     QObject* parent)
    : QObject(parent), page_(page), settings_path_(std::move(settings_path)) {}

ConversionSummary DesktopConversion::Run(const ConversionPlan& plan) {
  if (running_) return {};
  if (!plan.accepted) return RunConversion(plan, *this);
  previews_ = page_->PreparePreviews(plan.options, plan.request.gps, settings_path_);
  running_ = true;
  abort_requested_ = false;
  page_->SetRunning(true);
  qApp->installEventFilter(this);
  const ConversionSummary summary = RunConversion(plan, *this);
  qApp->removeEventFilter(this);
  page_->SetRunning(false);
  running_ = false;
  page_->SetProgress(summary.aborted ? 0 : 100, QString());
  page_->view_button()->setEnabled(summary.converted > 0);
  page_->SetResult(FromCore(ConversionResultLine(summary.converted, summary.errors,
                                                 plan.request.error_log_hint)),
                   summary.errors > 0);
  return summary;
}

bool DesktopConversion::DeferClose(QWidget* window) {
  if (!running_) return false;
  abort_requested_ = true;
  QTimer::singleShot(50, window, &QWidget::close);
  return true;
}

bool DesktopConversion::OnProgress(int percent, const std::filesystem::path& source,
                                   int64_t kbytes) {
  const QStringList sources = page_->sources();
  const int index = int(sources.indexOf(FromCore(source.string())));
  if (index >= 0) page_->SelectSource(index);
  page_->SetProgress(percent, tr("Converting ... %1 % of %2 kByte").arg(percent).arg(kbytes));
  // One thread: let the window repaint and see the abort button and the Escape key.
  QCoreApplication::processEvents();
  return !abort_requested_;
}

void DesktopConversion::OnSourceStart(const SourceStart& start) {
  page_->PreviewSourceStart(start);
}

void DesktopConversion::OnSignalsRow(double time, double time_base,
                                     std::span<const ChannelValue> values) {
  page_->PreviewSignalsRow(time, time_base, values);
}

void DesktopConversion::OnGpsFix(const GpsFix& fix) { page_->PreviewGpsFix(fix); }

bool DesktopConversion::StartViewer(const std::string& program, const std::filesystem::path& file) {
  return StartExternalViewer(program, file);
}

bool DesktopConversion::eventFilter(QObject* watched, QEvent* event) {
  if (!running_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::KeyPress:
      if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) abort_requested_ = true;
      return true;
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::Wheel:
      return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      return watched != static_cast<QObject*>(page_->abort_button());
    default:
      return QObject::eventFilter(watched, event);
  }
}

}  // namespace tessmar
