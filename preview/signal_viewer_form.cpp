#include "preview/signal_viewer_form.h"

#include <QAction>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/message_output.h"
#include "common/translation.h"
#include "convert/channel_selection.h"
#include "convert/conversion_driver.h"
#include "preview/gps_preview_form.h"
#include "preview/window_placement.h"

namespace tessmar {
namespace {

constexpr int kTimeAxisHeight = 34;
constexpr double kWheelZoom = 0.8;  // one wheel step in: the span shrinks to 80 %
constexpr double kKeyPan = 0.1;     // an arrow key moves a tenth of the span

QColor Rgb(std::uint32_t rgb) { return QColor::fromRgb(QRgb(0xFF000000u | rgb)); }
QString Q(const std::string& s) { return QString::fromStdString(s); }
// A text the window scan cannot reach (dialog titles, painted texts, placeholders, table rows),
// looked up in the current language when it is used.
QString T(const char* english) { return QString::fromUtf8(Tr(english)); }

// Seconds as the converter's start and stop fields read them, exact and locale-free.
std::string SecondsText(double seconds) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, seconds).ptr;
  return std::string(text, end);
}

}  // namespace

TSignalViewerForm* OpenSignalViewer(QWidget* parent, const LoggerConfiguration* user_config) {
  const QStringList names = QFileDialog::getOpenFileNames(
      parent, T("View recordings"), QString(), T("Logger recordings (*.cld);;All files (*)"));
  if (names.isEmpty()) return nullptr;
  std::vector<std::filesystem::path> files;
  for (const QString& name : names) files.emplace_back(name.toStdU16String());
  return OpenSignalViewer(parent, files, user_config);
}

TSignalViewerForm* OpenSignalViewer(QWidget* parent,
                                    const std::vector<std::filesystem::path>& files,
                                    const LoggerConfiguration* user_config) {
  auto* viewer = new TSignalViewerForm(parent);
  viewer->setAttribute(Qt::WA_DeleteOnClose);
  viewer->SetUserConfiguration(user_config);
  if (!viewer->OpenRecordings(files)) {
    viewer->close();
    return nullptr;
  }
  viewer->show();
  return viewer;
}

// ---- Viewer window ---------------------------------------------------------------------------

TSignalViewerForm::TSignalViewerForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(tr("Signal Viewer"));
  // Over its owner, or centred, with the whole frame inside the screen's available area.
  PlaceWindow(this, std::nullopt, QSize(1200, 760));
  auto* splitter = new QSplitter(Qt::Horizontal, this);

  auto* left = new QWidget(splitter);
  auto* left_layout = new QVBoxLayout(left);
  left_layout->setContentsMargins(4, 4, 4, 4);
  Ed_Filter = new QLineEdit(left);
  Ed_Filter->setPlaceholderText(T("Filter channels (e.g. Temp or Motor*)"));
  Ed_Filter->setClearButtonEnabled(true);
  connect(Ed_Filter, &QLineEdit::textChanged, this, &TSignalViewerForm::SetFilter);
  LB_Channels = new QTreeWidget(left);
  LB_Channels->setHeaderLabels({tr("Channel"), tr("Unit"), tr("Message"), tr("Bus")});
  LB_Channels->setRootIsDecorated(false);
  LB_Channels->setProperty(kTranslationTagProperty, kTagEntries);  // the column titles
  LB_Channels->setSelectionMode(QAbstractItemView::ExtendedSelection);
  LB_Channels->setDragEnabled(true);
  LB_Channels->setDragDropMode(QAbstractItemView::DragOnly);
  LB_Channels->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  connect(LB_Channels, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int) {
    AddChannelToPlot(item->data(0, Qt::UserRole).toInt());
  });
  TV_Values = new QTreeWidget(left);
  TV_Values->setHeaderLabels({tr("Channel"), tr("Cursor 1"), tr("Cursor 2"), tr("Difference")});
  TV_Values->setRootIsDecorated(false);
  TV_Values->setProperty(kTranslationTagProperty, kTagEntries);
  TV_Values->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  // The context menu and the Delete key take the row's channel out of its plot.
  remove_channel_ = new QAction(tr("Remove from plot"), TV_Values);
  TV_Values->addAction(remove_channel_);
  TV_Values->setContextMenuPolicy(Qt::ActionsContextMenu);
  TV_Values->installEventFilter(this);
  connect(remove_channel_, &QAction::triggered, this, [this] {
    const QTreeWidgetItem* row = TV_Values->currentItem();
    if (row == nullptr || !row->data(0, Qt::UserRole).isValid()) return;
    RemoveChannelFromPlot(row->data(0, Qt::UserRole).toInt(), row->data(1, Qt::UserRole).toInt());
  });
  // The recordings shown: file names, never translated.
  Lab_Files = new QLabel(left);
  Lab_Files->setObjectName(QStringLiteral("Lab_Files"));
  Lab_Files->setProperty(kTranslationTagProperty, kTagNoTranslate);
  Lab_Files->setTextFormat(Qt::PlainText);
  left_layout->addWidget(Lab_Files);
  left_layout->addWidget(Ed_Filter);
  left_layout->addWidget(LB_Channels, 3);
  left_layout->addWidget(new QLabel(tr("Values at the cursors"), left));
  left_layout->addWidget(TV_Values, 2);

  auto* right = new QWidget(splitter);
  auto* right_layout = new QVBoxLayout(right);
  right_layout->setContentsMargins(4, 4, 4, 4);
  right_layout->setSpacing(2);
  auto* bar = new QHBoxLayout;
  auto* add = new QPushButton(tr("Add plot"), right);
  auto* remove = new QPushButton(tr("Remove plot"), right);
  auto* fit = new QPushButton(tr("Fit"), right);
  auto* fit_visible = new QPushButton(tr("Fit visible"), right);
  auto* map = new QPushButton(tr("Map"), right);
  connect(map, &QPushButton::clicked, this, [this] { OpenMap(); });
  auto* export_button = new QPushButton(tr("Export ..."), right);
  export_button->setObjectName(QStringLiteral("Btn_Export"));
  connect(export_button, &QPushButton::clicked, this, &TSignalViewerForm::OnExport);
  // The export's result line, under the buttons once there is one.
  Lab_ExportResult = new QLabel(right);
  Lab_ExportResult->setObjectName(QStringLiteral("Lab_ExportResult"));
  // Its text is written in the current language already.
  Lab_ExportResult->setProperty(kTranslationTagProperty, kTagNoTranslate);
  Lab_ExportResult->hide();
  CB_TimeMode = new QComboBox(right);
  CB_TimeMode->addItems({tr("Seconds from start"), tr("Date and time")});
  CB_TimeMode->setProperty(kTranslationTagProperty, kTagEntries);
  connect(add, &QPushButton::clicked, this, [this] { SetCurrentPlot(AddPlot()); });
  connect(remove, &QPushButton::clicked, this, [this] { RemovePlot(); });
  connect(fit, &QPushButton::clicked, this, &TSignalViewerForm::FitAll);
  connect(fit_visible, &QPushButton::clicked, this, &TSignalViewerForm::FitVisible);
  connect(CB_TimeMode, &QComboBox::currentIndexChanged, this, [this](int i) {
    SetTimeMode(i == 1 ? TimeAxisMode::kDateTime : TimeAxisMode::kSeconds);
  });
  for (QWidget* w :
       std::initializer_list<QWidget*>{add, remove, fit, fit_visible, map, export_button}) {
    w->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(w);
  }
  bar->addStretch(1);
  bar->addWidget(new QLabel(tr("Time axis:"), right));
  bar->addWidget(CB_TimeMode);
  right_layout->addLayout(bar);
  right_layout->addWidget(Lab_ExportResult);
  plot_layout_ = new QVBoxLayout;
  plot_layout_->setSpacing(2);
  right_layout->addLayout(plot_layout_, 1);
  time_axis_ = new TTimeAxisView(this, right);
  right_layout->addWidget(time_axis_);

  splitter->addWidget(left);
  splitter->addWidget(right);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({420, 780});
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);
  setFocusPolicy(Qt::StrongFocus);
  AddPlot();
}

TSignalViewerForm::~TSignalViewerForm() = default;

bool TSignalViewerForm::OpenRecordings(const std::vector<std::filesystem::path>& files) {
  for (const std::filesystem::path& file : files) {
    Recording rec;
    if (LoadRecording(file, &rec, user_config_)) recordings_.push_back(std::move(rec));
  }
  channels_.clear();
  for (std::size_t r = 0; r < recordings_.size(); ++r) {
    for (std::size_t c = 0; c < recordings_[r].channels.size(); ++c) {
      channels_.push_back({static_cast<int>(r), static_cast<int>(c)});
    }
  }
  QStringList names;
  for (const Recording& rec : recordings_) names << Q(rec.file.filename().string());
  Lab_Files->setText(names.join(QStringLiteral(", ")));
  FillChannelList();
  span_ = TimeSpan{0, std::max(TotalEnd(), 1e-3)};
  RefreshAll();
  return !recordings_.empty();
}

QString TSignalViewerForm::ExportVisible(const std::filesystem::path& output, int format_code) {
  // The plotted channels of each recording, by their exact column names (a name may hold blanks,
  // separators or wildcard characters).
  std::vector<std::string> patterns(recordings_.size());
  for (const TSignalPlotView* p : plots_) {
    for (const PlottedChannel& c : p->plotted()) {
      std::string& text = patterns[static_cast<std::size_t>(c.ref.recording)];
      if (!text.empty()) text += ' ';
      text += ExactChannelPattern(Channel(c.ref).name);
    }
  }
  std::vector<std::size_t> chosen;
  for (std::size_t r = 0; r < recordings_.size(); ++r) {
    const double start = span_.t0 - Offset(static_cast<int>(r));
    const double stop = span_.t1 - Offset(static_cast<int>(r));
    if (!patterns[r].empty() && stop >= 0 && start <= recordings_[r].duration) chosen.push_back(r);
  }
  if (chosen.empty()) {
    Lab_ExportResult->setText(Q(Tr("No plotted channel in the visible span.")));
    Lab_ExportResult->show();
    return Lab_ExportResult->text();
  }
  ConversionSummary total;
  for (const std::size_t r : chosen) {
    ConversionRequest request;
    request.sources = {recordings_[r].file};
    std::filesystem::path name = output;
    if (chosen.size() > 1) {
      name.replace_filename(output.stem().string() + "_" + recordings_[r].file.stem().string() +
                            output.extension().string());
    }
    request.output_names = {name};
    request.output_names_choose_format = false;
    request.options.output_type = OutputType::kSignals;
    request.options.output_file_format = format_code;
    request.options.channels = patterns[r];
    request.options.time_column1 = TimeColumnKind::kSeconds;  // where the format allows one
    // The span in seconds from the recording's first entry, left open where it reaches past
    // the recording's ends.
    const double start = span_.t0 - Offset(static_cast<int>(r));
    const double stop = span_.t1 - Offset(static_cast<int>(r));
    if (start > 0) request.options.start_time = SecondsText(start);
    if (stop < recordings_[r].duration) request.options.stop_time = SecondsText(stop);
    if (user_config_ != nullptr) {
      request.options.ignore_logged_sigdefs = true;
      request.user_config = user_config_;
    }
    const ConversionSummary summary = RunConversion(request);
    total.converted += summary.converted;
    total.errors += summary.errors;
  }
  const int errors = total.errors;
  Lab_ExportResult->setText(
      Q(StrPrintf(Tr("%d file%c converted, %d conversion error%c. %s"), total.converted,
                  total.converted == 1 ? ' ' : 's', errors, errors == 1 ? ' ' : 's',
                  errors > 0 ? Tr("Please check error log on the 'INFO' tab.") : "")));
  Lab_ExportResult->show();
  return Lab_ExportResult->text();
}

void TSignalViewerForm::OnExport() {
  // One filter per format that writes Signals; the chosen filter gives the format.
  QStringList filters;
  std::vector<int> codes;
  for (const OutputFormatInfo& f : kOutputFormats) {
    if ((f.output_types & OutputTypeBit(OutputType::kSignals)) == 0) continue;
    filters << QStringLiteral("%1 (*%2)").arg(Q(Tr(f.list_text)), Q(f.default_extension));
    codes.push_back(f.code);
  }
  QString filter = filters.value(0);
  QString name = QFileDialog::getSaveFileName(this, T("Export visible span"), QString(),
                                              filters.join(QStringLiteral(";;")), &filter);
  if (name.isEmpty()) return;
  const int index = std::max<int>(0, static_cast<int>(filters.indexOf(filter)));
  const int code = codes[static_cast<std::size_t>(index)];
  std::filesystem::path path(name.toStdU16String());
  if (!path.has_extension()) path += FindOutputFormat(code)->default_extension;
  ExportVisible(path, code);
}

QString TSignalViewerForm::export_result() const { return Lab_ExportResult->text(); }

QWidget* TSignalViewerForm::time_axis() const { return time_axis_; }

const ViewerChannel& TSignalViewerForm::Channel(const ViewerChannelRef& ref) const {
  return recordings_[static_cast<std::size_t>(ref.recording)]
      .channels[static_cast<std::size_t>(ref.channel)];
}

double TSignalViewerForm::Offset(int recording) const {
  return recordings_[static_cast<std::size_t>(recording)].start - start_time();
}

double TSignalViewerForm::Duration(int recording) const {
  return recordings_[static_cast<std::size_t>(recording)].duration;
}

int TSignalViewerForm::IndexOf(const TSignalPlotView* view) const {
  const auto it = std::find(plots_.begin(), plots_.end(), view);
  return static_cast<int>(it - plots_.begin());
}

double TSignalViewerForm::TotalEnd() const {
  double end = 0;
  for (std::size_t r = 0; r < recordings_.size(); ++r) {
    end = std::max(end, Offset(static_cast<int>(r)) + recordings_[r].duration);
  }
  return end;
}

void TSignalViewerForm::FillChannelList() {
  LB_Channels->clear();
  const bool several = recordings_.size() > 1;
  QList<QTreeWidgetItem*> items;
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const ViewerChannel& ch = Channel(channels_[i]);
    QString name = Q(ch.name);
    if (several) {
      name += QStringLiteral(" [%1]").arg(
          Q(recordings_[static_cast<std::size_t>(channels_[i].recording)].file.stem().string()));
    }
    auto* item = new QTreeWidgetItem(
        {name, Q(ch.unit), Q(ch.message), ch.bus > 0 ? QString::number(ch.bus) : QString()});
    item->setData(0, Qt::UserRole, static_cast<int>(i));
    items.append(item);
  }
  LB_Channels->addTopLevelItems(items);
  SetFilter(Ed_Filter->text());
}

void TSignalViewerForm::SetFilter(const QString& text) {
  if (Ed_Filter->text() != text) Ed_Filter->setText(text);  // comes back through textChanged
  const std::string filter = text.trimmed().toStdString();
  for (int i = 0; i < LB_Channels->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = LB_Channels->topLevelItem(i);
    const int index = item->data(0, Qt::UserRole).toInt();
    item->setHidden(!ChannelMatches(Channel(channels_[static_cast<std::size_t>(index)]), filter));
  }
}

std::vector<int> TSignalViewerForm::ListedChannels() const {
  std::vector<int> listed;
  for (int i = 0; i < LB_Channels->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = LB_Channels->topLevelItem(i);
    if (!item->isHidden()) listed.push_back(item->data(0, Qt::UserRole).toInt());
  }
  return listed;
}

int TSignalViewerForm::AddPlot() {
  auto* view = new TSignalPlotView(this, this);
  plots_.push_back(view);
  plot_layout_->addWidget(view, 1);
  return static_cast<int>(plots_.size()) - 1;
}

void TSignalViewerForm::RemovePlot(int plot) {
  if (plot < 0) plot = current_plot_;
  if (plots_.size() <= 1 || plot >= static_cast<int>(plots_.size())) return;
  TSignalPlotView* view = plots_[static_cast<std::size_t>(plot)];
  plots_.erase(plots_.begin() + plot);
  plot_layout_->removeWidget(view);
  view->deleteLater();
  current_plot_ = std::min(current_plot_, static_cast<int>(plots_.size()) - 1);
  UpdateAxisMargin();
  UpdateValueTable();
  RefreshAll();
}

void TSignalViewerForm::SetCurrentPlot(int plot) {
  if (plot >= 0 && plot < static_cast<int>(plots_.size())) current_plot_ = plot;
  RefreshAll();
}

void TSignalViewerForm::AddChannelToPlot(int index, int plot) {
  if (index < 0 || index >= static_cast<int>(channels_.size())) return;
  if (plot < 0) plot = current_plot_;
  if (plot >= static_cast<int>(plots_.size())) return;
  PlottedChannel c;
  c.ref = channels_[static_cast<std::size_t>(index)];
  c.colour = ViewerColour(colours_used_++);
  plots_[static_cast<std::size_t>(plot)]->AddChannel(c);
  UpdateAxisMargin();
  UpdateValueTable();
  RefreshAll();
}

void TSignalViewerForm::RemoveChannelFromPlot(int plot, int index) {
  if (plot < 0 || plot >= static_cast<int>(plots_.size())) return;
  plots_[static_cast<std::size_t>(plot)]->RemoveChannel(index);
  UpdateAxisMargin();
  UpdateValueTable();
  RefreshAll();
}

void TSignalViewerForm::UpdateAxisMargin() {
  std::size_t axes = 1;
  for (const TSignalPlotView* p : plots_) axes = std::max(axes, p->groups().size());
  axis_margin_ = static_cast<int>(axes) * TSignalPlotView::kAxisWidth;
}

void TSignalViewerForm::FitAll() {
  span_ = TimeSpan{0, std::max(TotalEnd(), 1e-3)};
  for (TSignalPlotView* p : plots_) p->FitGroups(false);
  RefreshAll();
}

void TSignalViewerForm::FitVisible() {
  for (TSignalPlotView* p : plots_) p->FitGroups(true);
  RefreshAll();
}

void TSignalViewerForm::SetSpan(const TimeSpan& span) {
  if (span.width() > 0) span_ = span;
  RefreshAll();
}

void TSignalViewerForm::ZoomAt(double factor, double anchor) {
  span_.Zoom(factor, anchor);
  RefreshAll();
}

void TSignalViewerForm::Pan(double dt) {
  span_.Pan(dt);
  RefreshAll();
}

void TSignalViewerForm::SetCursor(int which, std::optional<double> t) {
  (which == 1 ? cursor1_ : cursor2_) = t;
  if (which == 1) FollowCursorOnMap();
  UpdateValueTable();
  RefreshAll();
}

TGpsPreviewForm* TSignalViewerForm::OpenMap() {
  if (map_) {
    map_->show();
    map_->raise();
    return map_;
  }
  map_recording_ = -1;
  for (std::size_t r = 0; r < recordings_.size() && map_recording_ < 0; ++r) {
    if (!recordings_[r].fixes.empty()) map_recording_ = static_cast<int>(r);
  }
  if (map_recording_ < 0) return nullptr;
  const Recording& rec = recordings_[static_cast<std::size_t>(map_recording_)];
  double lat_min = 90, lat_max = -90, lon_min = 180, lon_max = -180;
  for (const GpsFix& fix : rec.fixes) {
    if (!FixBelongsOnMap(fix)) continue;
    lat_min = std::min(lat_min, GpsDegrees(fix.latitude));
    lat_max = std::max(lat_max, GpsDegrees(fix.latitude));
    lon_min = std::min(lon_min, GpsDegrees(fix.longitude));
    lon_max = std::max(lon_max, GpsDegrees(fix.longitude));
  }
  if (lat_min > lat_max) return nullptr;  // no fix with a position
  map_ = new TGpsPreviewForm({}, this);
  map_->setWindowFlag(Qt::Window);
  map_->setAttribute(Qt::WA_DeleteOnClose);
  map_->ShowAndSetArea(lat_min, lat_max, lon_min, lon_max);
  for (const GpsFix& fix : rec.fixes) {
    if (FixBelongsOnMap(fix)) map_->AddFix(fix);
  }
  map_->Redraw();
  // The map reports the time of the fix under the mouse: cursor 1 goes to that fix.
  map_->SetTimeMarkCallback([this](double absolute_time) {
    const Recording& r = recordings_[static_cast<std::size_t>(map_recording_)];
    for (std::size_t i = 0; i < r.fixes.size(); ++i) {
      if (FixMarkTime(r.fixes[i]) == absolute_time) {
        SetCursor(1, r.fix_t[i] + Offset(map_recording_));
        return;
      }
    }
  });
  FollowCursorOnMap();
  return map_;
}

int TSignalViewerForm::CursorFix() const {
  if (map_recording_ < 0 || !cursor1_) return -1;
  const Recording& rec = recordings_[static_cast<std::size_t>(map_recording_)];
  const double t = *cursor1_ - Offset(map_recording_);
  int found = -1;
  // The last fix with a position at or before the cursor.
  const auto end = std::upper_bound(rec.fix_t.begin(), rec.fix_t.end(), t);
  for (auto it = end; it != rec.fix_t.begin();) {
    --it;
    const auto i = static_cast<std::size_t>(it - rec.fix_t.begin());
    if (FixBelongsOnMap(rec.fixes[i])) {
      found = static_cast<int>(i);
      break;
    }
  }
  return found;
}

void TSignalViewerForm::FollowCursorOnMap() {
  if (!map_) return;
  const int i = CursorFix();
  if (i >= 0)
    map_->ShowFix(recordings_[static_cast<std::size_t>(map_recording_)].fixes[std::size_t(i)]);
}

void TSignalViewerForm::SetTimeMode(TimeAxisMode mode) {
  time_mode_ = mode;
  const int index = mode == TimeAxisMode::kDateTime ? 1 : 0;
  if (CB_TimeMode->currentIndex() != index) CB_TimeMode->setCurrentIndex(index);
  UpdateValueTable();
  RefreshAll();
}

QString TSignalViewerForm::TimeText(double t) const {
  if (time_mode_ == TimeAxisMode::kDateTime) {
    return Q(TimeTickText(t, 0.01, TimeAxisMode::kDateTime, start_time(), false));
  }
  return Q(TickText(t, 1e-6)) + QStringLiteral(" s");
}

std::optional<double> TSignalViewerForm::ValueOf(const ViewerChannelRef& ref, double t) const {
  const ViewerChannel& ch = Channel(ref);
  return ValueAt(ch.t, ch.v, t - Offset(ref.recording));
}

void TSignalViewerForm::UpdateValueTable() {
  TV_Values->clear();
  // Values as doubles with NaN for "none" (the optional's accessors trip a false warning of
  // the compiler here).
  const double none = std::nan("");
  auto text = [](double v, const QString& unit) {
    return std::isnan(v) ? QStringLiteral("-") : Q(ValueText(v)) + unit;
  };
  auto readout = [](const ViewerChannel& ch, double v, const QString& unit) {
    return std::isnan(v) ? QStringLiteral("-") : Q(ReadoutText(ch, v)) + unit;
  };
  const double c1 = cursor1_.value_or(none);
  const double c2 = cursor2_.value_or(none);
  QList<QTreeWidgetItem*> rows;
  rows.append(new QTreeWidgetItem(
      {T("Time"), cursor1_ ? TimeText(c1) : QStringLiteral("-"),
       cursor2_ ? TimeText(c2) : QStringLiteral("-"),
       cursor1_ && cursor2_ ? Q(TickText(c2 - c1, 1e-6)) + QStringLiteral(" s") : QString()}));
  for (std::size_t p = 0; p < plots_.size(); ++p) {
    const std::vector<PlottedChannel>& plotted = plots_[p]->plotted();
    for (std::size_t k = 0; k < plotted.size(); ++k) {
      const PlottedChannel& c = plotted[k];
      const ViewerChannel& ch = Channel(c.ref);
      const double v1 = cursor1_ ? ValueOf(c.ref, c1).value_or(none) : none;
      const double v2 = cursor2_ ? ValueOf(c.ref, c2).value_or(none) : none;
      const QString unit = ch.unit.empty() ? QString() : QStringLiteral(" ") + Q(ch.unit);
      auto* row = new QTreeWidgetItem({Q(ch.name), readout(ch, v1, unit),
                                       cursor2_ ? readout(ch, v2, unit) : QString(),
                                       cursor2_ ? text(v2 - v1, unit) : QString()});
      row->setForeground(0, Rgb(c.colour));
      row->setData(0, Qt::UserRole, static_cast<int>(p));
      row->setData(1, Qt::UserRole, static_cast<int>(k));
      rows.append(row);
    }
  }
  TV_Values->addTopLevelItems(rows);
}

void TSignalViewerForm::RefreshAll() {
  for (TSignalPlotView* p : plots_) p->update();
  time_axis_->update();
}

bool TSignalViewerForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TV_Values && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    remove_channel_->trigger();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TSignalViewerForm::keyPressEvent(QKeyEvent* event) {
  const double w = span_.width();
  const double middle = span_.t0 + w / 2;
  switch (event->key()) {
    case Qt::Key_Left:
      Pan(-w * kKeyPan);
      break;
    case Qt::Key_Right:
      Pan(w * kKeyPan);
      break;
    case Qt::Key_Up:
      ZoomAt(kWheelZoom, middle);
      break;
    case Qt::Key_Down:
      ZoomAt(1 / kWheelZoom, middle);
      break;
    case Qt::Key_Home:
      FitAll();
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
}

// ---- One plot ----------------------------------------------------------------------------------

TSignalPlotView::TSignalPlotView(TSignalViewerForm* form, QWidget* parent)
    : QWidget(parent), form_(form) {
  setAcceptDrops(true);
  setMinimumHeight(120);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::ClickFocus);
}

void TSignalPlotView::RemoveChannel(int index) {
  if (index < 0 || index >= static_cast<int>(plotted_.size())) return;
  std::vector<PlottedChannel> rest = std::move(plotted_);
  rest.erase(rest.begin() + index);
  plotted_.clear();
  groups_.clear();
  for (const PlottedChannel& c : rest) AddChannel(c);
}

void TSignalPlotView::AddChannel(const PlottedChannel& channel) {
  const int index = static_cast<int>(plotted_.size());
  plotted_.push_back(channel);
  const std::string& unit = form_->Channel(channel.ref).unit;
  auto g = std::find_if(groups_.begin(), groups_.end(),
                        [&](const AxisGroup& a) { return a.unit == unit; });
  if (g == groups_.end()) {
    groups_.push_back({unit, {}, 0, 1});
    g = groups_.end() - 1;
  }
  g->members.push_back(index);
  FitGroups(false);
}

void TSignalPlotView::FitGroups(bool visible_only) {
  for (AxisGroup& g : groups_) {
    double low = INFINITY, high = -INFINITY;
    for (int m : g.members) {
      const PlottedChannel& c = plotted_[static_cast<std::size_t>(m)];
      const ViewerChannel& ch = form_->Channel(c.ref);
      if (ch.size() == 0) continue;
      double lo = ch.minimum, hi = ch.maximum;
      if (visible_only) {
        TimeSpan s = form_->span();
        s.Pan(-form_->Offset(c.ref.recording));
        if (!VisibleRange(ch.t, ch.v, s, &lo, &hi)) continue;
      }
      low = std::min(low, lo);
      high = std::max(high, hi);
    }
    PadRange(&low, &high);
    g.low = low;
    g.high = high;
  }
}

const std::vector<StateText>* TSignalPlotView::StatesOf(const AxisGroup& g) const {
  const std::vector<StateText>* states = nullptr;
  for (int m : g.members) {
    const ViewerChannel& ch = form_->Channel(plotted_[static_cast<std::size_t>(m)].ref);
    if (ch.states.empty() || (states != nullptr && *states != ch.states)) return nullptr;
    states = &ch.states;
  }
  return states;
}

QRect TSignalPlotView::DataRect() const {
  return QRect(form_->axis_margin(), 4, std::max(10, width() - form_->axis_margin() - 8),
               std::max(10, height() - 8));
}

double TSignalPlotView::TimeAtX(double x) const {
  const QRect r = DataRect();
  return form_->span().TimeAt(x - r.left(), r.width());
}

void TSignalPlotView::DrawChannel(QPainter& p, const PlottedChannel& c, const AxisGroup& g,
                                  const QRect& r) const {
  const ViewerChannel& ch = form_->Channel(c.ref);
  TimeSpan s = form_->span();
  const double offset = form_->Offset(c.ref.recording);
  s.Pan(-offset);
  const int w = r.width();
  const Decimation d = Decimate(ch.t, ch.v, s, w);
  const double scale = r.height() / (g.high - g.low);
  auto y = [&](double v) {
    const double py = r.bottom() - (v - g.low) * scale;
    return static_cast<int>(std::clamp(py, -1e6, 1e6));
  };
  std::vector<QLine> lines;
  lines.reserve(static_cast<std::size_t>(w) * 2 + 2);
  std::optional<double> held = d.entering;
  int x_prev = r.left();
  for (std::size_t i = d.first_valid; i < d.columns.size(); ++i) {
    const DecimatedColumn& col = d.columns[i];
    if (!col.has_samples) continue;
    const int x = r.left() + static_cast<int>(i);
    if (held) {
      lines.emplace_back(x_prev, y(*held), x, y(*held));
      lines.emplace_back(x, y(*held), x, y(col.first));
    }
    lines.emplace_back(x, y(col.low), x, y(col.high));
    held = col.last;
    x_prev = x;
  }
  if (held) {
    // The last value is held to the end of its recording (or of the view).
    const double end = s.XOf(form_->Duration(c.ref.recording), w);
    const int x_stop =
        r.left() + static_cast<int>(std::clamp(end, 0.0, static_cast<double>(w - 1)));
    if (x_stop > x_prev) lines.emplace_back(x_prev, y(*held), x_stop, y(*held));
  }
  p.setPen(QPen(Rgb(c.colour), 1.4));
  p.drawLines(lines.data(), static_cast<int>(lines.size()));
}

void TSignalPlotView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().window());
  const QRect r = DataRect();
  const bool current = form_->plot(form_->current_plot()) == this;
  p.fillRect(r, Qt::white);
  const TimeSpan& span = form_->span();

  // Grid: time ticks and the first axis' ticks.
  p.setPen(QColor(0xE4, 0xE4, 0xE4));
  const AxisTicks time_ticks = NiceTicks(span.t0, span.t1, std::max(2, r.width() / 110));
  for (double t : time_ticks.values) {
    const int x = r.left() + static_cast<int>(span.XOf(t, r.width()));
    p.drawLine(x, r.top(), x, r.bottom());
  }
  const int value_tick_count = std::max(2, r.height() / 40);
  if (!groups_.empty()) {
    const AxisGroup& g = groups_.front();
    for (double v : NiceTicks(g.low, g.high, value_tick_count).values) {
      const int y = r.bottom() - static_cast<int>((v - g.low) * r.height() / (g.high - g.low));
      p.drawLine(r.left(), y, r.right(), y);
    }
  }

  // Y axes, one per unit, from the data area to the left.
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() * 0.85);
  p.setFont(small);
  const QFontMetrics fm(small);
  for (std::size_t a = 0; a < groups_.size(); ++a) {
    const AxisGroup& g = groups_[a];
    const int x = r.left() - static_cast<int>(a) * kAxisWidth - 1;
    const QColor colour = g.members.size() == 1
                              ? Rgb(plotted_[static_cast<std::size_t>(g.members[0])].colour)
                              : QColor(Qt::black);
    p.setPen(colour);
    p.drawLine(x, r.top(), x, r.bottom());
    auto tick = [&](double v, const QString& text) {
      const int y = r.bottom() - static_cast<int>((v - g.low) * r.height() / (g.high - g.low));
      p.drawLine(x - 4, y, x, y);
      p.drawText(QRect(x - kAxisWidth + 2, y - fm.height() / 2, kAxisWidth - 8, fm.height()),
                 Qt::AlignRight | Qt::AlignVCenter,
                 fm.elidedText(text, Qt::ElideRight, kAxisWidth - 8));
    };
    const AxisTicks ticks = NiceTicks(g.low, g.high, value_tick_count);
    if (const std::vector<StateText>* states = StatesOf(g)) {
      // A state signal: its value-table texts at their values, numbers between them.
      const double line = fm.height() * (g.high - g.low) / r.height();
      for (const StateTick& t : StateAxisTicks(*states, g.low, g.high, line, ticks)) {
        tick(t.value, Q(t.text));
      }
    } else {
      for (double v : ticks.values) tick(v, Q(TickText(v, ticks.step)));
    }
    p.drawText(QRect(x - kAxisWidth + 2, r.top(), kAxisWidth - 8, fm.height()),
               Qt::AlignRight | Qt::AlignTop,
               g.unit.empty() ? QStringLiteral("-") : QStringLiteral("[%1]").arg(Q(g.unit)));
  }

  // Channels, clipped to the data area.
  p.save();
  p.setClipRect(r);
  p.setRenderHint(QPainter::Antialiasing, false);
  for (const AxisGroup& g : groups_) {
    for (int m : g.members) DrawChannel(p, plotted_[static_cast<std::size_t>(m)], g, r);
  }
  // Cursors.
  for (int which = 1; which <= 2; ++which) {
    const std::optional<double> c = form_->cursor(which);
    if (!c) continue;
    const int x = r.left() + static_cast<int>(span.XOf(*c, r.width()));
    p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1, which == 1 ? Qt::SolidLine : Qt::DashLine));
    p.drawLine(x, r.top(), x, r.bottom());
  }
  // Box being dragged for zooming.
  if (pressed_ && box_) {
    const int x0 = static_cast<int>(std::min(press_x_, last_x_));
    const int x1 = static_cast<int>(std::max(press_x_, last_x_));
    p.fillRect(QRect(x0, r.top(), x1 - x0, r.height()), QColor(0x30, 0x60, 0xC0, 0x40));
  }
  p.restore();

  // Legend: name, and the value at cursor 1.
  p.setFont(font());
  const QFontMetrics lfm(font());
  int ly = r.top() + 4;
  for (const PlottedChannel& c : plotted_) {
    const ViewerChannel& ch = form_->Channel(c.ref);
    QString text = Q(ch.name);
    if (form_->cursor(1)) {
      const std::optional<double> v = form_->ValueOf(c.ref, *form_->cursor(1));
      text += QStringLiteral(" = ") + (v ? Q(ReadoutText(ch, *v)) : QStringLiteral("-"));
      if (v && !ch.unit.empty()) text += QStringLiteral(" ") + Q(ch.unit);
    }
    const QRect box(r.left() + 6, ly, lfm.horizontalAdvance(text) + 22, lfm.height() + 2);
    p.fillRect(box, QColor(255, 255, 255, 210));
    p.fillRect(QRect(box.left() + 3, box.center().y() - 1, 12, 3), Rgb(c.colour));
    p.setPen(Rgb(c.colour).darker(130));
    p.drawText(box.adjusted(19, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
    ly += lfm.height() + 3;
  }
  if (plotted_.empty()) {
    p.setPen(Qt::gray);
    p.drawText(r, Qt::AlignCenter, T("Drag channels here or double-click them"));
  }
  p.setPen(current ? QColor(0x30, 0x60, 0xC0) : QColor(0xA0, 0xA0, 0xA0));
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

void TSignalPlotView::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps == 0) return;
  form_->ZoomAt(std::pow(kWheelZoom, steps), TimeAtX(event->position().x()));
}

void TSignalPlotView::mousePressEvent(QMouseEvent* event) {
  form_->SetCurrentPlot(form_->IndexOf(this));
  if (event->button() == Qt::RightButton) {
    form_->SetCursor(2, TimeAtX(event->position().x()));
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  moved_ = false;
  box_ = (event->modifiers() & Qt::ControlModifier) != 0;
  press_x_ = last_x_ = event->position().x();
}

void TSignalPlotView::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_) return;
  const double x = event->position().x();
  if (std::abs(x - press_x_) > 3) moved_ = true;
  if (box_) {
    last_x_ = x;
    update();
    return;
  }
  if (!moved_) return;
  const QRect r = DataRect();
  const double dt = (last_x_ - x) * form_->span().width() / r.width();
  last_x_ = x;
  form_->Pan(dt);
}

void TSignalPlotView::mouseReleaseEvent(QMouseEvent* event) {
  if (!pressed_) return;
  pressed_ = false;
  const double x = event->position().x();
  if (!moved_) {
    form_->SetCursor(1, TimeAtX(x));
    return;
  }
  if (box_) {
    const double t0 = TimeAtX(std::min(press_x_, x));
    const double t1 = TimeAtX(std::max(press_x_, x));
    form_->SetSpan(TimeSpan{t0, t1});
  }
  update();
}

void TSignalPlotView::dragEnterEvent(QDragEnterEvent* event) {
  if (event->source() == form_->channel_list()) event->acceptProposedAction();
}

void TSignalPlotView::dropEvent(QDropEvent* event) {
  if (event->source() != form_->channel_list()) return;
  const int me = form_->IndexOf(this);
  for (QTreeWidgetItem* item : form_->channel_list()->selectedItems()) {
    form_->AddChannelToPlot(item->data(0, Qt::UserRole).toInt(), me);
  }
  form_->SetCurrentPlot(me);
  event->acceptProposedAction();
}

// ---- Time axis
// -----------------------------------------------------------------------------------

TTimeAxisView::TTimeAxisView(TSignalViewerForm* form, QWidget* parent)
    : QWidget(parent), form_(form) {
  setFixedHeight(kTimeAxisHeight);
}

void TTimeAxisView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int left = form_->axis_margin();
  const int w = std::max(10, width() - left - 8);
  const TimeSpan& span = form_->span();
  const bool dates = form_->time_mode() == TimeAxisMode::kDateTime;
  const AxisTicks ticks = NiceTicks(span.t0, span.t1, std::max(2, w / 110));
  const QFontMetrics fm(font());
  p.setPen(Qt::black);
  p.drawLine(left, 0, left + w, 0);
  bool first = true;
  for (double t : ticks.values) {
    const int x = left + static_cast<int>(span.XOf(t, w));
    p.drawLine(x, 0, x, 5);
    const QString text = QString::fromStdString(
        TimeTickText(t, ticks.step, form_->time_mode(), form_->start_time(), dates && first));
    const int tw = fm.horizontalAdvance(text);
    p.drawText(std::clamp(x - tw / 2, 0, std::max(0, width() - tw)), 6 + fm.ascent(), text);
    first = false;
  }
  const QString unit = dates ? T("time") : QStringLiteral("s");
  p.drawText(QRect(0, 6, left - 6, fm.height()), Qt::AlignRight, unit);
}

}  // namespace tessmar
