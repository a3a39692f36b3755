#include "app/language_scan.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QErrorMessage>
#include <QEvent>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QRadioButton>
#include <QSet>
#include <QSignalBlocker>
#include <QTabWidget>
#include <algorithm>
#include <string>

#include "app/qt_text.h"
#include "common/message_output.h"
#include "common/translation.h"

namespace tessmar {
namespace {

// The table column a control's texts are in now (absent: English, as the program wrote them).
constexpr char kColumnProperty[] = "translationColumn";
// The same for the tab captions of a tab widget's page.
constexpr char kTabColumnProperty[] = "translationTabColumn";

int TagOf(const QObject* object) {
  const QVariant tag = object->property(kTranslationTagProperty);
  return tag.isValid() ? tag.toInt() : 0;
}

bool Excluded(const QObject* object) { return (TagOf(object) & kTagNoTranslate) != 0; }

QString NameOf(const QObject* object) {
  const QString name = object->objectName();
  return name.isEmpty() ? QString::fromLatin1(object->metaObject()->className()) : name;
}

// Qt's own standard dialogs show texts that their callers translated already, and Qt's texts,
// which the table does not hold; tool tips and pop-ups belong to the windows they come from.
bool ScannedWindow(const QWidget* w) {
  const Qt::WindowType type = w->windowType();
  if (type == Qt::Popup || type == Qt::ToolTip || type == Qt::Desktop) return false;
  return !qobject_cast<const QMessageBox*>(w) && !qobject_cast<const QFileDialog*>(w) &&
         !qobject_cast<const QInputDialog*>(w) && !qobject_cast<const QProgressDialog*>(w) &&
         !qobject_cast<const QColorDialog*>(w) && !qobject_cast<const QFontDialog*>(w) &&
         !qobject_cast<const QErrorMessage*>(w);
}

// The window an action belongs to: the one of the first widget above it that is not a menu.
QWidget* OwnerWindow(const QAction* action) {
  QObject* p = action->parent();
  while (p != nullptr && qobject_cast<QMenu*>(p) != nullptr) p = p->parent();
  auto* widget = qobject_cast<QWidget*>(p);
  return widget != nullptr ? widget->window() : nullptr;
}

class Scan {
 public:
  Scan(int from, int to, bool test_mode)
      : from_(from), to_(to), test_mode_(test_mode), mark_(to != kColEnglish) {}

  void Window(QWidget* window);
  void Finish() {
    if (test_mode_ && not_found_ > 0) {
      ShowMessage(kMsgError, StrPrintf("Found %d untranslated strings in all forms.", not_found_));
    }
  }
  int not_found() const { return not_found_; }

 private:
  struct Result {
    QString text;
    bool missing;  // not found, in a language the table should have it for
  };
  // Looks a text up from the column the control's texts are in now.
  Result Look(const QObject* control, const char* column_property, const QString& text);
  QString Marked(const Result& r) const { return r.missing ? QLatin1Char('_') + r.text : r.text; }
  void Report(const QString& text, const QWidget* window, const QObject* control);
  void Control(QWidget* window, QWidget* w);
  void Entries(QWidget* window, QWidget* w);
  void Action(QWidget* window, QAction* action);

  int from_;
  int to_;
  bool test_mode_;
  bool mark_;  // texts not found are marked (never when going back to English: they are English)
  bool header_done_ = false;
  int not_found_ = 0;
  QSet<const QObject*> done_;
};

Scan::Result Scan::Look(const QObject* control, const char* column_property, const QString& text) {
  // A caption without a letter ("[1]", "<<", "...") reads the same in every language.
  if (std::none_of(text.begin(), text.end(), [](QChar c) { return c.isLetter(); })) {
    return {text, false};
  }
  const QVariant column = control->property(column_property);
  const int from = column.isValid() ? column.toInt() : kColEnglish;
  const std::string utf8 = ToCore(text);
  bool found = true;
  Result r{FromCore(LookupTranslation(utf8.c_str(), from, to_, &found)), false};
  r.missing = !found && mark_;
  if (r.missing) ++not_found_;
  return r;
}

void Scan::Report(const QString& text, const QWidget* window, const QObject* control) {
  if (!header_done_) {
    header_done_ = true;
    ShowMessage(
        kMsgError,
        StrPrintf("------ UNTRANSLATED STRINGS FOUND (FromLang=%d, ToLang=%d) ------", from_, to_));
  }
  const std::string t = ToCore(text);
  const std::string w = ToCore(NameOf(window));
  if (control == nullptr) {
    ShowMessage(kMsgError, StrPrintf("  \"%s\",  // in %s", t.c_str(), w.c_str()));
  } else {
    ShowMessage(kMsgError, StrPrintf("  \"%s\",  // in %s.%s", t.c_str(), w.c_str(),
                                     ToCore(NameOf(control)).c_str()));
  }
}

void Scan::Window(QWidget* window) {
  if (done_.contains(window) || !ScannedWindow(window) || Excluded(window)) return;
  done_.insert(window);
  if (!window->windowTitle().isEmpty()) {
    const Result r = Look(window, kColumnProperty, window->windowTitle());
    if (test_mode_ && r.missing) Report(r.text, window, nullptr);
    window->setWindowTitle(test_mode_ ? Marked(r) : r.text);
    window->setProperty(kColumnProperty, to_);
  }
  for (QWidget* w : window->findChildren<QWidget*>()) {
    // Controls of another window (a dialog made a child of this one) are scanned with it.
    if (w->window() != window || done_.contains(w)) continue;
    done_.insert(w);
    if (!Excluded(w)) Control(window, w);
  }
  for (QAction* action : window->findChildren<QAction*>()) {
    if (OwnerWindow(action) != window || done_.contains(action)) continue;
    done_.insert(action);
    Action(window, action);
  }
}

void Scan::Control(QWidget* window, QWidget* w) {
  const bool entries = (TagOf(w) & kTagEntries) != 0;
  auto* label = qobject_cast<QLabel*>(w);
  auto* check = qobject_cast<QCheckBox*>(w);
  if (label != nullptr || check != nullptr) {
    const QString text = label != nullptr ? label->text() : check->text();
    if (text.isEmpty()) return;
    const Result r = Look(w, kColumnProperty, text);
    if (test_mode_) {
      QPalette palette = w->palette();
      palette.setColor(QPalette::WindowText, r.missing ? QColor(0xFF, 0, 0) : QColor(0, 0x80, 0));
      w->setPalette(palette);
      if (r.missing) Report(r.text, window, w);
    }
    const QString shown = test_mode_ ? r.text : Marked(r);
    if (label != nullptr) {
      label->setText(shown);
    } else {
      check->setText(shown);
    }
  } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
    if (!button->text().isEmpty()) {
      const Result r = Look(w, kColumnProperty, button->text());
      if (test_mode_) {
        QFont font = button->font();
        font.setItalic(r.missing);
        button->setFont(font);
        if (r.missing) Report(r.text, window, w);
      }
      button->setText(test_mode_ ? r.text : Marked(r));
    }
    if (entries && !button->toolTip().isEmpty() && !qobject_cast<QRadioButton*>(w)) {
      const Result r = Look(w, kColumnProperty, button->toolTip());
      if (test_mode_ && r.missing) Report(r.text, window, w);
      button->setToolTip(r.text);
    }
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    if (group->title().isEmpty()) return;
    const Result r = Look(w, kColumnProperty, group->title());
    if (test_mode_ && r.missing) Report(r.text, window, w);
    group->setTitle(Marked(r));
  } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
    for (int i = 0; i < tabs->count(); ++i) {
      QWidget* page = tabs->widget(i);
      if (page == nullptr || Excluded(page) || tabs->tabText(i).isEmpty()) continue;
      const Result r = Look(page, kTabColumnProperty, tabs->tabText(i));
      if (test_mode_ && r.missing) Report(r.text, window, page);
      tabs->setTabText(i, Marked(r));
      page->setProperty(kTabColumnProperty, to_);
    }
    return;
  } else if (entries) {
    Entries(window, w);
    return;
  } else {
    return;
  }
  w->setProperty(kColumnProperty, to_);
}

void Scan::Entries(QWidget* window, QWidget* w) {
  auto one = [&](const QString& text) {
    if (text.isEmpty()) return text;
    const Result r = Look(w, kColumnProperty, text);
    if (test_mode_ && r.missing) Report(r.text, window, w);
    return Marked(r);
  };
  if (auto* combo = qobject_cast<QComboBox*>(w)) {
    for (int i = 0; i < combo->count(); ++i) combo->setItemText(i, one(combo->itemText(i)));
  } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
    QAbstractItemModel* model = view->model();
    if (model == nullptr) return;
    if (qobject_cast<QListView*>(w) != nullptr) {
      for (int row = 0; row < model->rowCount(); ++row) {
        const QModelIndex index = model->index(row, 0);
        model->setData(index, one(model->data(index, Qt::DisplayRole).toString()), Qt::DisplayRole);
      }
    } else {
      for (int col = 0; col < model->columnCount(); ++col) {
        model->setHeaderData(col, Qt::Horizontal,
                             one(model->headerData(col, Qt::Horizontal).toString()));
      }
    }
  } else {
    return;
  }
  w->setProperty(kColumnProperty, to_);
}

void Scan::Action(QWidget* window, QAction* action) {
  if (action->isSeparator() || action->text().isEmpty() || Excluded(action)) return;
  if (action->menu() != nullptr && Excluded(action->menu())) return;
  const Result r = Look(action, kColumnProperty, action->text());
  if (test_mode_ && r.missing) Report(r.text, window, action);
  action->setText(Marked(r));
  action->setProperty(kColumnProperty, to_);
}

void ShowInfoBox(const char* text) {
  Question q;
  q.caption = Tr("Info");
  q.text = Tr(text);
  q.buttons = Buttons::kOk;
  q.batch_answer = Answer::kOk;
  q.icon = Icon::kInformation;
  Ask(q);
}

}  // namespace

void SetTranslationTag(QObject* object, int tag) {
  if (object != nullptr) object->setProperty(kTranslationTagProperty, tag);
}

void MarkTranslated(QObject* object) {
  if (object != nullptr) object->setProperty(kColumnProperty, Language().target_column());
}

int ScanWindows(int from_column, QWidget* window) {
  Scan scan(from_column, Language().target_column(), Language().test_mode());
  if (window != nullptr) {
    scan.Window(window);
  } else {
    for (QWidget* w : QApplication::topLevelWidgets()) scan.Window(w);
  }
  scan.Finish();
  return scan.not_found();
}

LanguageController::LanguageController(QObject* parent) : QObject(parent) {
  ctrl_held = [] { return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0; };
  qApp->installEventFilter(this);
}

LanguageController::~LanguageController() {
  if (qApp != nullptr) qApp->removeEventFilter(this);
}

QMenu* LanguageController::AddLanguageMenu(QMenu* menu) {
  QMenu* languages = menu->addMenu(QStringLiteral("&Select language"));
  languages->setObjectName(QStringLiteral("MI_SelectLanguage"));
  struct Entry {
    const char* caption;
    const char* name;
    int code;
  };
  for (const Entry& e : {Entry{"&English", "MI_English", kLangEnglish},
                         Entry{"&Deutsch", "MI_Deutsch", kLangGerman}}) {
    QAction* action = languages->addAction(QString::fromUtf8(e.caption));
    action->setObjectName(QString::fromLatin1(e.name));
    action->setCheckable(true);
    SetTranslationTag(action, kTagNoTranslate);  // a language's name stays in that language
    const int code = e.code;
    connect(action, &QAction::triggered, this, [this, code] { SwitchLanguage(code); });
    connect(languages, &QMenu::aboutToShow, action,
            [action, code] { action->setChecked(Language().code() == code); });
  }
  return languages;
}

void LanguageController::AttachTestModeBox(QCheckBox* box) {
  {
    const QSignalBlocker block(box);
    box->setChecked(Language().test_mode());
  }
  connect(box, &QCheckBox::clicked, this,
          [this, box](bool checked) { OnTestModeClicked(box, checked); });
}

void LanguageController::OnTestModeClicked(QCheckBox* box, bool checked) {
  if (ctrl_held && ctrl_held()) {
    Language().set_test_mode(checked);
    Language().SetLanguage(Language().code());
    Rescan();
    ShowInfoBox("Restart program to make changes effective");
  } else {
    Language().set_test_mode(false);
    {
      const QSignalBlocker block(box);
      box->setChecked(false);
    }
    ShowInfoBox("Sorry, you don't have permission to turn this function on");
  }
}

bool LanguageController::SwitchLanguage(int code) {
  if (!Language().SetLanguage(code)) return false;
  Rescan();
  if (language_applied) language_applied(code);
  return true;
}

void LanguageController::ApplyAtStart() {
  Rescan();
  if (language_applied) language_applied(Language().code());
}

void LanguageController::Rescan() {
  scanning_ = true;
  ScanWindows(Language().BeginScan());
  scanning_ = false;
}

bool LanguageController::eventFilter(QObject* watched, QEvent* event) {
  // A window shown after a language change (a dialog made on demand) takes the language too.
  if (!scanning_ && event->type() == QEvent::Show && watched->isWidgetType() &&
      Language().shown_column() != kColEnglish) {
    auto* w = static_cast<QWidget*>(watched);
    if (w->isWindow()) {
      scanning_ = true;
      ScanWindows(Language().shown_column(), w);
      scanning_ = false;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tessmar
