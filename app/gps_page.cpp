#include "app/gps_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/qt_text.h"
#include "common/message_output.h"
#include "config/table_editors.h"

namespace tessmar {
namespace {

QString Cell(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text() : QString();
}

std::vector<GpsGridRow> GridRows(const QTableWidget* grid) {
  std::vector<GpsGridRow> rows(kGpsGridRows);
  for (int r = 0; r < kGpsGridRows; ++r) {
    rows[std::size_t(r)] = {ToCore(Cell(grid, r, 0)), ToCore(Cell(grid, r, 1)),
                            ToCore(Cell(grid, r, 2)), ToCore(Cell(grid, r, 3)),
                            ToCore(Cell(grid, r, 4))};
  }
  return rows;
}

}  // namespace

GpsPage::GpsPage(const int& update_guard, QWidget* parent)
    : QWidget(parent), update_guard_(update_guard) {
  auto make_check = [this](const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption, this);
    box->setObjectName(QString::fromLatin1(name));
    connect(box, &QCheckBox::toggled, this, &GpsPage::OnControlChanged);
    return box;
  };
  auto make_list = [this](const char* name, const char* const(&entries)[2]) {
    auto* list = new QComboBox(this);
    list->setObjectName(QString::fromLatin1(name));
    for (const char* e : entries) list->addItem(tr(e));
    connect(list, &QComboBox::currentIndexChanged, this, &GpsPage::OnControlChanged);
    return list;
  };
  Chk_GpsSeparateTrackFile =
      make_check("Chk_GpsSeparateTrackFile",
                 tr("if the logfile contains GPS data, convert it into separate track file"));
  Chk_GpsMergeIntoMainFile =
      make_check("Chk_GpsMergeIntoMainFile",
                 tr("place GPS data in extra columns of the main output file (see Converter)"));
  Chk_GpsPreview = make_check("Chk_GpsPreview", tr("Preview"));
  CB_GpsTrackFormat = make_list("CB_GpsTrackFormat", kGpsTrackFormatNames);
  CB_GpsColumnsWhere = make_list("CB_GpsColumnsWhere", kGpsColumnsWhereNames);

  SG_GpsColumns = new QTableWidget(kGpsGridRows, kGpsGridColumns, this);
  SG_GpsColumns->setObjectName(QStringLiteral("SG_GpsColumns"));
  QStringList titles;
  for (const char* t : kGpsGridTitles) titles << tr(t);
  SG_GpsColumns->setHorizontalHeaderLabels(titles);
  SG_GpsColumns->verticalHeader()->setVisible(true);
  // Rows are dragged by their header; the page then renumbers them itself.
  SG_GpsColumns->verticalHeader()->setSectionsMovable(true);
  SG_GpsColumns->verticalHeader()->setDefaultSectionSize(SG_GpsColumns->fontMetrics().height() + 8);
  SG_GpsColumns->horizontalHeader()->setStretchLastSection(true);
  const int widths[kGpsGridColumns] = {40, 160, 110, 130, 200};
  for (int c = 0; c < kGpsGridColumns; ++c) SG_GpsColumns->setColumnWidth(c, widths[c]);
  connect(SG_GpsColumns->verticalHeader(), &QHeaderView::sectionMoved, this,
          [this](int logical, int old_visual, int new_visual) {
            if (filling_ > 0) return;
            ++filling_;
            // Undo the header's own move; the cells move instead, so that rows and their
            // numbers stay in screen order.
            SG_GpsColumns->verticalHeader()->moveSection(new_visual, old_visual);
            --filling_;
            (void)logical;
            MoveRow(old_visual, new_visual);
          });
  connect(SG_GpsColumns, &QTableWidget::cellChanged, this, [this] {
    if (filling_ == 0 && update_guard_ == 0) Btn_ApplyGps->setEnabled(true);
  });

  Btn_ApplyGps = new QPushButton(tr("apply edits"), this);
  Btn_ApplyGps->setObjectName(QStringLiteral("Btn_ApplyGps"));
  connect(Btn_ApplyGps, &QPushButton::clicked, this, &GpsPage::ApplyGrid);
  CB_GpsPreset = new QComboBox(this);
  CB_GpsPreset->setObjectName(QStringLiteral("CB_GpsPreset"));
  for (int p = 0; p < kGpsPresetCount; ++p) CB_GpsPreset->addItem(tr(GpsPresetName(p)));
  CB_GpsPreset->setCurrentIndex(-1);
  connect(CB_GpsPreset, &QComboBox::activated, this, &GpsPage::ChoosePreset);

  auto* options = new QGroupBox(tr("GPS Converter Output options"), this);
  auto* form = new QFormLayout;
  form->addRow(tr("Track file format"), CB_GpsTrackFormat);
  form->addRow(tr("GPS data columns added..."), CB_GpsColumnsWhere);
  auto* options_layout = new QVBoxLayout(options);
  options_layout->addWidget(Chk_GpsSeparateTrackFile);
  options_layout->addWidget(Chk_GpsMergeIntoMainFile);
  options_layout->addWidget(Chk_GpsPreview);
  options_layout->addLayout(form);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Btn_ApplyGps);
  bottom->addSpacing(24);
  bottom->addWidget(new QLabel(tr("Recall Preset : "), this));
  bottom->addWidget(CB_GpsPreset, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options);
  layout->addWidget(SG_GpsColumns, 1);
  layout->addLayout(bottom);
  Show(gps_);
}

void GpsPage::Show(const GpsOutputSettings& gps) {
  ++filling_;
  gps_ = gps;
  Chk_GpsSeparateTrackFile->setChecked(gps.separate_track_file != 0);
  Chk_GpsMergeIntoMainFile->setChecked(gps.merge_into_main_file != 0);
  Chk_GpsPreview->setChecked(gps.show_preview != 0);
  auto modulo = [](int value, int count) { return ((value % count) + count) % count; };
  CB_GpsTrackFormat->setCurrentIndex(modulo(gps.track_file_format, 2));
  CB_GpsColumnsWhere->setCurrentIndex(modulo(gps.columns_added_where, 2));
  for (int r = 0; r < kGpsGridRows; ++r) {
    const GpsColumnDef& c = gps.columns[std::size_t(r)];
    const bool used = c.in_use();
    const QString texts[kGpsGridColumns] = {QString::number(r + 1),
                                            used ? FromCore(GpsText(c.title)) : QString(),
                                            used ? FromCore(GpsText(c.unit)) : QString(),
                                            used ? FromCore(GpsText(c.format)) : QString(),
                                            used ? FromCore(GpsText(c.source)) : QString()};
    for (int k = 0; k < kGpsGridColumns; ++k) {
      auto* item = new QTableWidgetItem(texts[k]);
      SG_GpsColumns->setItem(r, k, item);
    }
  }
  Btn_ApplyGps->setEnabled(false);
  --filling_;
}

void GpsPage::OnControlChanged() {
  if (filling_ > 0 || update_guard_ > 0) return;
  gps_.separate_track_file = Chk_GpsSeparateTrackFile->isChecked() ? 1 : 0;
  gps_.merge_into_main_file = Chk_GpsMergeIntoMainFile->isChecked() ? 1 : 0;
  gps_.show_preview = Chk_GpsPreview->isChecked() ? 1 : 0;
  gps_.track_file_format = CB_GpsTrackFormat->currentIndex();
  gps_.columns_added_where = CB_GpsColumnsWhere->currentIndex();
  Q_EMIT settingsChanged();
}

void GpsPage::MoveRow(int from, int to) {
  std::vector<GpsGridRow> rows = GridRows(SG_GpsColumns);
  if (!MoveGpsGridRow(rows, from, to)) return;
  ++filling_;
  for (int r = 0; r < kGpsGridRows; ++r) {
    const GpsGridRow& row = rows[std::size_t(r)];
    const std::string* texts[kGpsGridColumns] = {&row.nr, &row.title, &row.unit, &row.format,
                                                 &row.expression};
    for (int k = 0; k < kGpsGridColumns; ++k) {
      SG_GpsColumns->setItem(r, k, new QTableWidgetItem(FromCore(*texts[k])));
    }
  }
  --filling_;
  Q_EMIT status(FromCore(StrPrintf(Tr("moved GPS col %d to %d"), from + 1, to + 1)));
  Btn_ApplyGps->setEnabled(true);
}

void GpsPage::ApplyGrid() {
  std::vector<GpsGridRow> rows = GridRows(SG_GpsColumns);
  const auto columns = ApplyGpsGrid(rows);
  for (int c = 0; c < kGpsGridRows; ++c) {
    const auto& texts = columns[std::size_t(c)];
    if (!texts) continue;
    GpsColumnDef& def = gps_.columns[std::size_t(c)];
    SetGpsText(def.title, texts->title);
    SetGpsText(def.unit, texts->unit);
    SetGpsText(def.format, texts->format);
    SetGpsText(def.source, texts->expression);
  }
  Show(gps_);
  Q_EMIT settingsChanged();
}

void GpsPage::ChoosePreset(int preset) {
  GpsOutputSettings chosen;
  if (!LoadGpsPreset(preset, chosen)) return;
  Show(chosen);
  CB_GpsPreset->setCurrentIndex(preset);
  Q_EMIT settingsChanged();
}

}  // namespace tessmar
