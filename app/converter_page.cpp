#include "app/converter_page.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "app/setup_page.h"
#include "app/update_guard.h"
#include "common/message_output.h"
#include "common/translation.h"
#include "convert/conversion_driver.h"
#include "preview/gps_preview_form.h"
#include "preview/graph_preview_form.h"
#include "writers/writer.h"

namespace tessmar {
namespace {

const char* kRedProperty = "tessmar_red";

void MarkRed(QWidget* widget, bool red) {
  widget->setProperty(kRedProperty, red);
  if (qobject_cast<QCheckBox*>(widget) || qobject_cast<QLabel*>(widget)) {
    widget->setStyleSheet(red ? QStringLiteral("color: rgb(200, 0, 0);") : QString());
  } else {
    widget->setStyleSheet(red ? QStringLiteral("background-color: rgb(255, 128, 128);")
                              : QString());
  }
}

}  // namespace

ConverterPage::ConverterPage(int& update_guard, QWidget* parent)
    : QWidget(parent), update_guard_(update_guard) {
  sub_pages_ = new QTabWidget(this);

  // ---- "Destination" ----------------------------------------------------------------------
  auto* destination = new QWidget(sub_pages_);
  LB_SourceFiles = new QListWidget(destination);
  LB_SourceFiles->setObjectName(QStringLiteral("LB_SourceFiles"));
  Btn_SelectFiles = new QPushButton(tr("Select files ..."), destination);
  Btn_SelectFiles->setObjectName(QStringLiteral("Btn_SelectFiles"));
  Btn_ViewSources = new QPushButton(tr("View ..."), destination);
  Btn_ViewSources->setObjectName(QStringLiteral("Btn_ViewSources"));
  LB_SourceFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Ed_InputDir = new QLineEdit(destination);
  Ed_InputDir->setObjectName(QStringLiteral("Ed_InputDir"));
  Ed_OutputDir = new QLineEdit(destination);
  Ed_OutputDir->setObjectName(QStringLiteral("Ed_OutputDir"));
  auto* b_input = new QPushButton(QStringLiteral("..."), destination);
  auto* b_output = new QPushButton(QStringLiteral("..."), destination);
  for (QPushButton* b : {b_input, b_output}) {
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
  }

  CB_OutputType = new QComboBox(destination);
  CB_OutputType->setObjectName(QStringLiteral("CB_OutputType"));
  for (int i = 0; i < kOutputTypeCount; ++i) {
    CB_OutputType->addItem(QString::fromLatin1(OutputTypeName(i)));
  }
  LB_FileFormat = new QListWidget(destination);
  LB_FileFormat->setObjectName(QStringLiteral("LB_FileFormat"));
  for (const OutputFormatInfo& f : kOutputFormats) {
    LB_FileFormat->addItem(QString::fromLatin1(f.list_text));
  }
  LB_FileFormat->setFixedHeight(LB_FileFormat->sizeHintForRow(0) *
                                    static_cast<int>(kOutputFormats.size()) +
                                2 * LB_FileFormat->frameWidth() + 4);

  Btn_StartConv = new QPushButton(tr("&Go !"), destination);
  Btn_StartConv->setObjectName(QStringLiteral("Btn_StartConv"));
  QFont bold = Btn_StartConv->font();
  bold.setBold(true);
  Btn_StartConv->setFont(bold);
  Btn_StartConv->setMinimumWidth(120);
  Btn_AbortConv = new QPushButton(tr("Abort (Esc)"), destination);
  Btn_AbortConv->setObjectName(QStringLiteral("Btn_AbortConv"));
  Btn_AbortConv->setEnabled(false);
  Btn_View = new QPushButton(tr("View recordings"), destination);
  Btn_View->setObjectName(QStringLiteral("Btn_View"));
  Btn_View->setEnabled(false);
  PB_Progress = new QProgressBar(destination);
  PB_Progress->setObjectName(QStringLiteral("PB_Progress"));
  PB_Progress->setRange(0, 100);
  PB_Progress->setValue(0);
  Lab_Progress = new QLabel(destination);
  Lab_Progress->setObjectName(QStringLiteral("Lab_Progress"));
  Lab_Result = new QLabel(destination);
  Lab_Result->setObjectName(QStringLiteral("Lab_Result"));
  Lab_Result->setWordWrap(true);
  Chk_LaunchViewer = new QCheckBox(tr("start external viewer"), destination);
  Chk_LaunchViewer->setObjectName(QStringLiteral("Chk_LaunchViewer"));
  Chk_GraphPreview = new QCheckBox(tr("graphic preview"), destination);
  Chk_GraphPreview->setObjectName(QStringLiteral("Chk_GraphPreview"));

  auto* source_box = new QGroupBox(tr("Source files"), destination);
  auto* source_layout = new QGridLayout(source_box);
  source_layout->addWidget(LB_SourceFiles, 0, 0, 1, 3);
  source_layout->addWidget(Btn_SelectFiles, 1, 0);
  source_layout->addWidget(Btn_ViewSources, 1, 1, Qt::AlignLeft);
  source_layout->addWidget(new QLabel(tr("Input folder"), source_box), 2, 0);
  source_layout->addWidget(Ed_InputDir, 2, 1);
  source_layout->addWidget(b_input, 2, 2);
  source_layout->setColumnStretch(1, 1);

  auto* output_box = new QGroupBox(tr("Output"), destination);
  auto* output_layout = new QGridLayout(output_box);
  output_layout->addWidget(new QLabel(tr("Output folder"), output_box), 0, 0);
  output_layout->addWidget(Ed_OutputDir, 0, 1);
  output_layout->addWidget(b_output, 0, 2);
  output_layout->addWidget(new QLabel(tr("Output type"), output_box), 1, 0);
  output_layout->addWidget(CB_OutputType, 1, 1, 1, 2);
  output_layout->addWidget(new QLabel(tr("Output file format"), output_box), 2, 0, Qt::AlignTop);
  output_layout->addWidget(LB_FileFormat, 2, 1, 1, 2);
  output_layout->addWidget(Chk_GraphPreview, 3, 1, 1, 2);
  output_layout->addWidget(Chk_LaunchViewer, 4, 1, 1, 2);
  output_layout->setColumnStretch(1, 1);
  output_layout->setRowStretch(5, 1);

  auto* run_box = new QGroupBox(tr("Conversion"), destination);
  auto* run_layout = new QGridLayout(run_box);
  run_layout->addWidget(Btn_StartConv, 0, 0);
  run_layout->addWidget(Btn_AbortConv, 0, 1);
  run_layout->addWidget(PB_Progress, 0, 2);
  run_layout->addWidget(Btn_View, 0, 3);
  run_layout->addWidget(Lab_Progress, 1, 0, 1, 3);
  run_layout->addWidget(Lab_Result, 2, 0, 1, 3);
  run_layout->setColumnStretch(2, 1);

  auto* top_row = new QHBoxLayout;
  top_row->addWidget(source_box, 1);
  top_row->addWidget(output_box, 1);
  auto* destination_layout = new QVBoxLayout(destination);
  destination_layout->addLayout(top_row, 1);
  destination_layout->addWidget(run_box);
  sub_pages_->addTab(destination, tr("Destination"));

  // ---- "Converter options" ----------------------------------------------------------------
  auto* options = new QWidget(sub_pages_);
  SE_Headlines = new QSpinBox(options);
  SE_Headlines->setObjectName(QStringLiteral("SE_Headlines"));
  SE_Headlines->setRange(0, 3);
  CB_ColumnSeparator = new QComboBox(options);
  CB_ColumnSeparator->setObjectName(QStringLiteral("CB_ColumnSeparator"));
  for (int i = 0; i < kColumnSeparatorCount; ++i) {
    CB_ColumnSeparator->addItem(
        QString::fromLatin1(ColumnSeparatorName(ColumnSeparatorFromIndex(i))));
  }
  CB_DecimalSeparator = new QComboBox(options);
  CB_DecimalSeparator->setObjectName(QStringLiteral("CB_DecimalSeparator"));
  for (int i = 0; i < kDecimalSeparatorCount; ++i) {
    CB_DecimalSeparator->addItem(
        QString::fromLatin1(DecimalSeparatorName(DecimalSeparatorFromIndex(i))));
  }
  CB_TimeColumn1 = new QComboBox(options);
  CB_TimeColumn1->setObjectName(QStringLiteral("CB_TimeColumn1"));
  CB_TimeColumn2 = new QComboBox(options);
  CB_TimeColumn2->setObjectName(QStringLiteral("CB_TimeColumn2"));
  for (int i = 0; i < kTimeColumnKindCount; ++i) {
    CB_TimeColumn1->addItem(QString::fromLatin1(TimeColumnName(TimeColumnKindFromIndex(i))));
    CB_TimeColumn2->addItem(QString::fromLatin1(TimeColumnName(TimeColumnKindFromIndex(i))));
  }
  Ed_WriteInterval = new QLineEdit(options);
  Ed_WriteInterval->setObjectName(QStringLiteral("Ed_WriteInterval"));
  Ed_InvalidSignal = new QLineEdit(options);
  Ed_InvalidSignal->setObjectName(QStringLiteral("Ed_InvalidSignal"));
  Ed_InvalidSignal->setMaxLength(int(kMaxInvalidSignalLength));
  RB_RawValues = new QRadioButton(tr("Raw"), options);
  RB_RawValues->setObjectName(QStringLiteral("RB_RawValues"));
  RB_ScaledValues = new QRadioButton(tr("Scaled"), options);
  RB_ScaledValues->setObjectName(QStringLiteral("RB_ScaledValues"));
  auto* value_group = new QButtonGroup(options);
  value_group->addButton(RB_RawValues);
  value_group->addButton(RB_ScaledValues);
  Chk_IgnoreLoggedSigDefs = new QCheckBox(tr("Ignore signal definitions from logfile,"), options);
  Chk_IgnoreLoggedSigDefs->setObjectName(QStringLiteral("Chk_IgnoreLoggedSigDefs"));
  Chk_CombineOutput = new QCheckBox(tr("combine into ONE file (for 'CAN' output only)"), options);
  Chk_CombineOutput->setObjectName(QStringLiteral("Chk_CombineOutput"));
  Chk_SkipUntilValid = new QCheckBox(tr("skip data until all channels are valid"), options);
  Chk_SkipUntilValid->setObjectName(QStringLiteral("Chk_SkipUntilValid"));
  Ed_Breakpoint = new QLineEdit(options);
  Ed_Breakpoint->setObjectName(QStringLiteral("Ed_Breakpoint"));
  Ed_Breakpoint->setPlaceholderText(QStringLiteral("YYYY-MM-DD hh:mm:ss"));
  Ed_Channels = new QLineEdit(options);
  Ed_Channels->setObjectName(QStringLiteral("Ed_Channels"));
  Ed_Channels->setPlaceholderText(tr("all (or names: Speed Motor* 0x100)"));
  Ed_Channels->setToolTip(
      tr("Signals: names of signals, expressions or GPS columns ('*' and '?' allowed), "
         "separated by blanks.\nMessages and dump: message names or identifiers."));
  Ed_StartTime = new QLineEdit(options);
  Ed_StartTime->setObjectName(QStringLiteral("Ed_StartTime"));
  Ed_StopTime = new QLineEdit(options);
  Ed_StopTime->setObjectName(QStringLiteral("Ed_StopTime"));
  for (QLineEdit* edit : {Ed_StartTime, Ed_StopTime}) {
    edit->setPlaceholderText(tr("seconds, or YYYY-MM-DD hh:mm:ss.ss"));
    edit->setToolTip(
        tr("Seconds from the first entry of each recording, or an absolute date "
           "and time. Empty: from the beginning / until the end."));
  }

  auto* format_box = new QGroupBox(tr("Columns and values"), options);
  auto* format_form = new QFormLayout(format_box);
  format_form->addRow(tr("Headlines (0..3)"), SE_Headlines);
  format_form->addRow(tr("Column separator"), CB_ColumnSeparator);
  format_form->addRow(tr("Decimal separator"), CB_DecimalSeparator);
  format_form->addRow(tr("Time channel #1"), CB_TimeColumn1);
  format_form->addRow(tr("Time channel #2"), CB_TimeColumn2);
  auto* interval_row = new QHBoxLayout;
  interval_row->addWidget(Ed_WriteInterval);
  interval_row->addWidget(new QLabel(tr("sec per line"), format_box));
  Lab_IntervalUsed = new QLabel(format_box);
  Lab_IntervalUsed->setObjectName(QStringLiteral("Lab_IntervalUsed"));
  interval_row->addWidget(Lab_IntervalUsed);
  format_form->addRow(tr("Write interval"), interval_row);
  format_form->addRow(tr("Invalid signal value"), Ed_InvalidSignal);
  auto* values_row = new QHBoxLayout;
  values_row->addWidget(RB_RawValues);
  values_row->addWidget(RB_ScaledValues);
  values_row->addStretch(1);
  format_form->addRow(tr("Values"), values_row);

  auto* flags_box = new QGroupBox(tr("Options"), options);
  auto* flags_layout = new QVBoxLayout(flags_box);
  flags_layout->addWidget(Chk_IgnoreLoggedSigDefs);
  flags_layout->addWidget(Chk_CombineOutput);
  flags_layout->addWidget(Chk_SkipUntilValid);
  auto* breakpoint_form = new QFormLayout;
  breakpoint_form->addRow(tr("Conditional breakpoint at"), Ed_Breakpoint);
  breakpoint_form->addRow(tr("Convert only channels"), Ed_Channels);
  breakpoint_form->addRow(tr("Convert from"), Ed_StartTime);
  breakpoint_form->addRow(tr("Convert until"), Ed_StopTime);
  flags_layout->addLayout(breakpoint_form);

  for (QWidget* field : std::initializer_list<QWidget*>{
           SE_Headlines, CB_ColumnSeparator, CB_DecimalSeparator, CB_TimeColumn1, CB_TimeColumn2,
           Ed_WriteInterval, Ed_InvalidSignal}) {
    field->setMaximumWidth(260);
  }
  SE_Headlines->setMaximumWidth(80);
  Ed_WriteInterval->setMaximumWidth(120);
  Ed_Breakpoint->setMaximumWidth(200);
  Ed_StartTime->setMaximumWidth(200);
  Ed_StopTime->setMaximumWidth(200);
  format_form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  auto* options_row = new QHBoxLayout;
  options_row->addWidget(format_box, 1);
  options_row->addWidget(flags_box, 1);
  auto* options_layout = new QVBoxLayout(options);
  options_layout->addLayout(options_row);
  options_layout->addStretch(1);
  sub_pages_->addTab(options, tr("Converter options"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(sub_pages_);

  // ---- Wiring -----------------------------------------------------------------------------
  connect(Btn_SelectFiles, &QPushButton::clicked, this, &ConverterPage::OnSelectFiles);
  connect(Btn_ViewSources, &QPushButton::clicked, this, &ConverterPage::viewSourcesClicked);
  connect(Btn_StartConv, &QPushButton::clicked, this, &ConverterPage::goClicked);
  connect(Btn_AbortConv, &QPushButton::clicked, this, &ConverterPage::abortClicked);
  connect(Btn_View, &QPushButton::clicked, this, &ConverterPage::viewClicked);
  connect(b_input, &QPushButton::clicked, this, [this] {
    const QString dir = PickFolder(this, tr("Folder of logged data files"), Ed_InputDir->text());
    if (dir.isEmpty()) return;
    Ed_InputDir->setText(QDir::toNativeSeparators(dir));
    Q_EMIT inputDirEdited(Ed_InputDir->text());
  });
  connect(b_output, &QPushButton::clicked, this, [this] {
    const QString dir = PickFolder(this, tr("Export folder"), Ed_OutputDir->text());
    if (dir.isEmpty()) return;
    Ed_OutputDir->setText(QDir::toNativeSeparators(dir));
    Q_EMIT outputDirEdited(Ed_OutputDir->text());
  });
  connect(Ed_InputDir, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (update_guard_ == 0) Q_EMIT inputDirEdited(text);
  });
  connect(Ed_OutputDir, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (update_guard_ == 0) Q_EMIT outputDirEdited(text);
  });

  connect(CB_OutputType, &QComboBox::currentIndexChanged, this, &ConverterPage::OnOptionChanged);
  connect(LB_FileFormat, &QListWidget::currentRowChanged, this, &ConverterPage::OnOptionChanged);
  connect(SE_Headlines, &QSpinBox::valueChanged, this, &ConverterPage::OnOptionChanged);
  for (QComboBox* box : {CB_ColumnSeparator, CB_DecimalSeparator, CB_TimeColumn1, CB_TimeColumn2}) {
    connect(box, &QComboBox::currentIndexChanged, this, &ConverterPage::OnOptionChanged);
  }
  for (QLineEdit* edit : {Ed_WriteInterval, Ed_InvalidSignal, Ed_Breakpoint, Ed_Channels,
                          Ed_StartTime, Ed_StopTime}) {
    connect(edit, &QLineEdit::editingFinished, this, &ConverterPage::OnOptionChanged);
  }
  for (QAbstractButton* b : std::initializer_list<QAbstractButton*>{
           RB_RawValues, RB_ScaledValues, Chk_IgnoreLoggedSigDefs, Chk_CombineOutput,
           Chk_SkipUntilValid, Chk_GraphPreview}) {
    connect(b, &QAbstractButton::toggled, this, &ConverterPage::OnOptionChanged);
  }
}

void ConverterPage::SetOptions(const ConverterOptions& o) {
  choices_.Set(o, RateLimit());
  ShowChoices();
}

void ConverterPage::ShowChoices() {
  {
    // Writing the shown values into the controls must not count as an edit.
    UpdateGuard guard(update_guard_);
    FillControls(choices_.shown());
  }
  ShowCheck(choices_.check());
}

int ConverterPage::RateLimit() const { return message_rate_limit ? message_rate_limit() : 0; }

void ConverterPage::FillControls(const ConverterOptions& o) {
  CB_OutputType->setCurrentIndex(ChoiceIndex(o.output_type));
  // An unknown format code selects no entry.
  const int row = OutputFormatListIndex(o.output_file_format);
  LB_FileFormat->setCurrentRow(row);
  if (row < 0) LB_FileFormat->clearSelection();
  SE_Headlines->setValue(o.headlines);
  CB_ColumnSeparator->setCurrentIndex(ChoiceIndex(o.column_separator));
  CB_DecimalSeparator->setCurrentIndex(ChoiceIndex(o.decimal_separator));
  CB_TimeColumn1->setCurrentIndex(ChoiceIndex(o.time_column1));
  CB_TimeColumn2->setCurrentIndex(ChoiceIndex(o.time_column2));
  Ed_WriteInterval->setText(FromCore(o.write_interval));
  Ed_InvalidSignal->setText(FromCore(o.invalid_signal));
  (o.scaled_values ? RB_ScaledValues : RB_RawValues)->setChecked(true);
  Chk_IgnoreLoggedSigDefs->setChecked(o.ignore_logged_sigdefs);
  Chk_CombineOutput->setChecked(o.combine_output);
  Chk_SkipUntilValid->setChecked(o.skip_until_all_valid);
  // Ticked only where it can be used (Signals); the user's choice comes back with Signals.
  Chk_GraphPreview->setChecked(o.graph_preview);
  Chk_GraphPreview->setEnabled(choices_.graph_preview_enabled());
  Ed_Breakpoint->setText(FromCore(o.conditional_breakpoint));
  Ed_Channels->setText(FromCore(o.channels));
  Ed_StartTime->setText(FromCore(o.start_time));
  Ed_StopTime->setText(FromCore(o.stop_time));
  MarkRed(Chk_CombineOutput, CB_OutputType->currentIndex() == int(OutputType::kSignals));
  Lab_IntervalUsed->setText(FromCore(IntervalInWords(ParseSeconds(o.write_interval))));
}

ConverterOptions ConverterPage::Options() const {
  ConverterOptions o;
  o.output_type = OutputTypeFromIndex(CB_OutputType->currentIndex());
  const int row = LB_FileFormat->currentRow();
  o.output_file_format = row >= 0 && row < static_cast<int>(kOutputFormats.size())
                             ? kOutputFormats[static_cast<std::size_t>(row)].code
                             : -1;
  o.headlines = SE_Headlines->value();
  o.column_separator = ColumnSeparatorFromIndex(CB_ColumnSeparator->currentIndex());
  o.decimal_separator = DecimalSeparatorFromIndex(CB_DecimalSeparator->currentIndex());
  o.time_column1 = TimeColumnKindFromIndex(CB_TimeColumn1->currentIndex());
  o.time_column2 = TimeColumnKindFromIndex(CB_TimeColumn2->currentIndex());
  o.write_interval = ToCore(Ed_WriteInterval->text().trimmed());
  o.invalid_signal = ToCore(Ed_InvalidSignal->text());
  o.scaled_values = RB_ScaledValues->isChecked();
  o.ignore_logged_sigdefs = Chk_IgnoreLoggedSigDefs->isChecked();
  o.combine_output = Chk_CombineOutput->isChecked();
  o.skip_until_all_valid = Chk_SkipUntilValid->isChecked();
  o.graph_preview = Chk_GraphPreview->isChecked();
  o.conditional_breakpoint = ToCore(Ed_Breakpoint->text().trimmed());
  o.channels = ToCore(Ed_Channels->text().trimmed());
  o.start_time = ToCore(Ed_StartTime->text().trimmed());
  o.stop_time = ToCore(Ed_StopTime->text().trimmed());
  return o;
}

void ConverterPage::OnOptionChanged() {
  if (update_guard_ > 0) return;
  const std::string box_before = choices_.check().box_text;
  choices_.Edit(Options(), RateLimit());
  ShowChoices();
  // A box tells once: an edit that leaves the same problem in place does not repeat it.
  if (choices_.check().box_text != box_before) ShowBox(choices_.check());
}

OptionCheckResult ConverterPage::CheckOptions(bool quiet) {
  // Takes a field that is still being edited, too.
  choices_.Edit(Options(), RateLimit());
  ShowChoices();
  if (!quiet) ShowBox(choices_.check());
  return choices_.check();
}

void ConverterPage::ShowBox(const OptionCheckResult& result) {
  if (result.box_text.empty()) return;
  Question q;
  q.text = result.box_text;
  q.caption = result.box_caption.empty() ? "Logfile Converter Warning" : result.box_caption;
  q.icon = Icon::kWarning;
  q.buttons = Buttons::kOk;
  q.batch_answer = Answer::kOk;
  Ask(q);
}

void ConverterPage::ShowCheck(const OptionCheckResult& r) {
  const bool dump = r.format_disabled;
  LB_FileFormat->setEnabled(!dump);
  CB_ColumnSeparator->setEnabled(!r.separators_disabled);
  CB_DecimalSeparator->setEnabled(!r.separators_disabled);
  CB_TimeColumn1->setEnabled(!r.time_columns_disabled);
  CB_TimeColumn2->setEnabled(!r.time_columns_disabled);
  Ed_InvalidSignal->setEnabled(!r.invalid_value_disabled);
  Ed_WriteInterval->setEnabled(!r.write_interval_disabled);
  SE_Headlines->setEnabled(!r.headlines_disabled);
  CB_OutputType->setEnabled(!r.output_type_disabled);
  MarkRed(Ed_InvalidSignal, r.invalid_value_red);
  MarkRed(Ed_WriteInterval, r.write_interval_red);
  MarkRed(CB_OutputType, r.output_type_red);
  MarkRed(LB_FileFormat, r.output_type_red);
}

bool ConverterPage::IsRed(const char* object_name) const {
  const QWidget* w = findChild<QWidget*>(QString::fromLatin1(object_name));
  return w && w->property(kRedProperty).toBool();
}

void ConverterPage::OnSelectFiles() {
  QString start = Ed_InputDir->text();
  if (!QFileInfo(start).isDir()) start = QFileInfo(start).path();
  const QStringList files = QFileDialog::getOpenFileNames(
      this,
      FromCore(GermanUi() ? "Zu konvertierende Dateien auswählen (SHIFT -> mehrere)"
                          : "Select files to convert (use SHIFT for multi-select)"),
      start, tr("CAN Logger Data (*.cld)"));
  if (!files.isEmpty()) SetSources(files);
}

void ConverterPage::SetSources(const QStringList& sources) {
  sources_ = sources;
  LB_SourceFiles->clear();
  LB_SourceFiles->addItems(sources_);
}

void ConverterPage::AddSources(const QStringList& sources) {
  sources_ += sources;
  LB_SourceFiles->addItems(sources);
}

void ConverterPage::SelectSource(int index) { LB_SourceFiles->setCurrentRow(index); }

QStringList ConverterPage::SourcesToView() const {
  QStringList chosen;
  for (int i = 0; i < LB_SourceFiles->count(); ++i) {
    if (LB_SourceFiles->item(i)->isSelected()) chosen << sources_.value(i);
  }
  return chosen.isEmpty() ? sources_ : chosen;
}

void ConverterPage::SetRunning(bool running) {
  Btn_StartConv->setEnabled(!running);
  Btn_AbortConv->setEnabled(running);
  if (running) {
    Btn_View->setEnabled(false);
    PB_Progress->setValue(0);
    Lab_Result->clear();
  }
}

void ConverterPage::SetProgress(int percent, const QString& text) {
  PB_Progress->setValue(std::clamp(percent, 0, 100));
  Lab_Progress->setText(text);
}

void ConverterPage::SetResult(const QString& text, bool error) {
  Lab_Result->setText(text);
  MarkRed(Lab_Result, error);
}

QString ConverterPage::result_text() const { return Lab_Result->text(); }

// ---- Previews ---------------------------------------------------------------------------------

bool ConverterPage::eventFilter(QObject* watched, QEvent* event) {
  // The main window hides when it closes (not when it is minimised, which hides it
  // spontaneously); the previews close with it and keep their placement.
  if (watched == window() && event->type() == QEvent::Hide && !event->spontaneous()) {
    if (graph_preview_) graph_preview_->close();
    if (gps_preview_) gps_preview_->close();
  }
  return QWidget::eventFilter(watched, event);
}

void ConverterPage::SetTopographicMapDir(const std::filesystem::path& dir) {
  topo_dir_ = dir;
  if (gps_preview_) gps_preview_->SetGtopo30Directory(dir);
}

ConverterPage::Previews ConverterPage::PreparePreviews(const ConverterOptions& options,
                                                       const GpsOutputSettings& gps,
                                                       const std::filesystem::path& ini_path) {
  const bool graph = options.graph_preview && options.output_type == OutputType::kSignals;
  const bool map = gps.show_preview != 0;
  previews_ = {graph, map};
  if (!graph && !map) return previews_;
  if (!graph_preview_ && !gps_preview_) window()->installEventFilter(this);
  if (graph) {
    if (!graph_preview_) {
      graph_preview_ = new TGraphPreviewForm(ini_path, this);
      graph_preview_->setAttribute(Qt::WA_QuitOnClose, false);
    }
    graph_preview_->show();
    graph_preview_->raise();
  }
  if (map && !gps_preview_) {
    gps_preview_ = new TGpsPreviewForm(ini_path, this);
    if (!topo_dir_.empty()) gps_preview_->SetGtopo30Directory(topo_dir_);
    gps_preview_->setAttribute(Qt::WA_QuitOnClose, false);
    // The fix under the mouse marks its moment in the graph preview when that is shown.
    gps_preview_->SetTimeMarkCallback([this](double absolute_time) {
      if (graph_preview_ && graph_preview_->isVisible()) graph_preview_->MarkTime(absolute_time);
    });
  }
  last_gps_fix_time_ = -1;
  return previews_;
}

void ConverterPage::PreviewSourceStart(const SourceStart& start) {
  last_gps_fix_time_ = -1;
  if (previews_.graph) {
    const std::vector<WriterColumn>& columns = start.setup->columns;
    // One slot per expected row; a recording without duration still gets one.
    graph_preview_->Reset(int(columns.size()), std::max<std::int64_t>(1, start.expected_points));
    for (std::size_t k = 0; k < columns.size() && k + 1 < std::size_t(kGraphMaxChannels); ++k) {
      graph_preview_->SetChannelName(int(k) + 1, columns[k].name);
      graph_preview_->SetChannelUnit(int(k) + 1, columns[k].unit);
      graph_preview_->SetChannelRange(int(k) + 1, columns[k].minimum, columns[k].maximum);
    }
    graph_preview_->UpdatePreview(true);
  }
  if (previews_.map && start.has_gps && !start.gps_range.Empty()) {
    const GpsRange& r = start.gps_range;
    gps_preview_->ShowAndSetArea(GpsDegrees(r.latitude_min), GpsDegrees(r.latitude_max),
                                 GpsDegrees(r.longitude_min), GpsDegrees(r.longitude_max));
    gps_preview_->ClearTrack();
  }
}

void ConverterPage::PreviewSignalsRow(double time, double time_base,
                                      std::span<const ChannelValue> values) {
  if (!previews_.graph) return;
  const double absolute = last_gps_fix_time_ >= 0 ? last_gps_fix_time_ : time + time_base;
  graph_preview_->AddSample(time, absolute, values);
  // Drawing waits for the next pass through the event loop (the conversion lets the window
  // repaint whenever its progress changes, and once more at its end).
  if (!graph_update_pending_) {
    graph_update_pending_ = true;
    QTimer::singleShot(0, this, [this] {
      graph_update_pending_ = false;
      if (graph_preview_) graph_preview_->UpdatePreview(true);
    });
  }
}

void ConverterPage::PreviewGpsFix(const GpsFix& fix) {
  if (fix.time_valid && fix.date_valid) last_gps_fix_time_ = GpsFixTime(fix);
  if (!previews_.map || !gps_preview_->isVisible() || !FixBelongsOnMap(fix)) return;
  gps_preview_->AddFix(fix);
  if (!map_redraw_pending_) {
    map_redraw_pending_ = true;
    QTimer::singleShot(0, this, [this] {
      map_redraw_pending_ = false;
      if (gps_preview_) gps_preview_->Redraw();
    });
  }
}

}  // namespace tessmar
