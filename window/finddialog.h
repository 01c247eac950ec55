// The find and replace dialog of the Qt window: one small modeless dialog for both, laid out and
// named like the system dialogs Windows offers. It only gathers a search; the window carries it
// out (window/find.h).
#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <functional>

#include "window/find.h"

namespace window {

class FindDialog : public QDialog {
 public:
  explicit FindDialog(QWidget* parent);

  // Shows the dialog as "查找" or, with replacing, as "替换", what to find filled in (when not
  // empty) and focused.
  void Open(bool replacing, const QString& what);
  Search CurrentSearch() const;

  // Called with the dialog's search when its buttons are pressed.
  std::function<void(const Search&)> onFindNext, onReplace, onReplaceAll;

  QLineEdit& What() { return *what_; }
  QLineEdit& With() { return *with_; }
  QCheckBox& MatchCase() { return *matchCase_; }
  QCheckBox& WholeWord() { return *wholeWord_; }
  QRadioButton& Up() { return *up_; }
  QRadioButton& Down() { return *down_; }
  QPushButton& FindNextButton() { return *findNext_; }
  QPushButton& ReplaceButton() { return *replace_; }
  QPushButton& ReplaceAllButton() { return *replaceAll_; }

 private:
  QLayout* MakeOptions();  // the check boxes and the direction

  QLineEdit *what_, *with_;
  QWidget* withRow_;
  QCheckBox *matchCase_, *wholeWord_;
  QRadioButton *up_, *down_;
  QPushButton *findNext_, *replace_, *replaceAll_;
};

}  // namespace window
