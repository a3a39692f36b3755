#pragma once
// Run-time translation of the windows: the window scan, the "&Select language" menu and the
// "translation test mode" check box.
//
// Every window and control may carry the dynamic property "translationTag" (an int):
//   16 (kTagNoTranslate)  never translated (file names, counts, language names, ...);
//    8 (kTagEntries)      list-type controls (combo box, list, table header): the entries are
//                         translated too; buttons: the tool tip is translated too.
// Each translated control remembers the table column its texts are in ("translationColumn"),
// so that a window created after a language change is translated from English when it is shown.

#include <QObject>
#include <QString>
#include <functional>

#include "common/translation.h"  // the tags

class QCheckBox;
class QMenu;
class QWidget;

namespace tessmar {

// Sets the tag of a widget or action (see above).
void SetTranslationTag(QObject* object, int tag);

// Records that the texts of a control were made in the current language already (with Tr()), so
// that the next scan translates them from that language.
void MarkTranslated(QObject* object);

// Translates every top-level window (or only `window` when given) into the current language of
// Language() and returns the number of texts that were not found. The caller calls
// Language().BeginScan() first when the language changed. In test mode the scan colours and
// reports as the developers' test mode does.
int ScanWindows(int from_column, QWidget* window = nullptr);

// The language menu, the start-up scan and the test-mode box of the main window.
class LanguageController : public QObject {
  Q_OBJECT
 public:
  explicit LanguageController(QObject* parent = nullptr);
  ~LanguageController() override;

  // Adds "&Select language" with "&English" and "&Deutsch" to menu.
  QMenu* AddLanguageMenu(QMenu* menu);
  // The "translation test mode" box: shows the flag and takes clicks as described there.
  void AttachTestModeBox(QCheckBox* box);

  // Sets the language and scans all windows; false (nothing changes) for an unknown code.
  bool SwitchLanguage(int code);
  // The first timer tick: the windows take the language read from the settings file.
  void ApplyAtStart();

  // Called with the language code after every switch and at start (the help language).
  std::function<void(int code)> language_applied;
  // Whether the Ctrl key is held (replaced by tests).
  std::function<bool()> ctrl_held;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void OnTestModeClicked(QCheckBox* box, bool checked);
  void Rescan();
  bool scanning_ = false;
};

}  // namespace tessmar
