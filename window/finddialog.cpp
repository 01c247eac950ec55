#include "window/finddialog.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace window {

namespace {

// A field with its label, the label's key taking the keyboard to the field.
QLineEdit* AddField(QGridLayout& grid, int row, const QString& caption) {
  auto* field = new QLineEdit;
  auto* label = new QLabel(caption);
  label->setBuddy(field);
  grid.addWidget(label, row, 0);
  grid.addWidget(field, row, 1);
  return field;
}

}  // namespace

FindDialog::FindDialog(QWidget* parent) : QDialog(parent) {
  setModal(false);
  auto* fields = new QGridLayout;
  what_ = AddField(*fields, 0, QStringLiteral("查找内容(&N):"));
  with_ = AddField(*fields, 1, QStringLiteral("替换为(&P):"));
  withRow_ = fields->itemAtPosition(1, 0)->widget();
  findNext_ = new QPushButton(QStringLiteral("查找下一个(&F)"));
  replace_ = new QPushButton(QStringLiteral("替换(&R)"));
  replaceAll_ = new QPushButton(QStringLiteral("全部替换(&A)"));
  auto* cancel = new QPushButton(QStringLiteral("取消"));
  findNext_->setDefault(true);
  auto* buttons = new QVBoxLayout;
  for (QPushButton* button : {findNext_, replace_, replaceAll_, cancel}) buttons->addWidget(button);
  buttons->addStretch();

  auto* left = new QVBoxLayout;
  left->addLayout(fields);
  left->addLayout(MakeOptions());
  auto* whole = new QHBoxLayout(this);
  whole->addLayout(left);
  whole->addLayout(buttons);

  connect(findNext_, &QPushButton::clicked, this, [this] { if (onFindNext) onFindNext(CurrentSearch()); });
  connect(replace_, &QPushButton::clicked, this, [this] { if (onReplace) onReplace(CurrentSearch()); });
  connect(replaceAll_, &QPushButton::clicked, this, [this] { if (onReplaceAll) onReplaceAll(CurrentSearch()); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  // Only the two fields, then the options and buttons, take Tab in turn.
  setTabOrder(what_, with_);
}

QLayout* FindDialog::MakeOptions() {
  matchCase_ = new QCheckBox(QStringLiteral("区分大小写(&C)"));
  wholeWord_ = new QCheckBox(QStringLiteral("全字匹配(&W)"));
  auto* direction = new QGroupBox(QStringLiteral("方向"));
  up_ = new QRadioButton(QStringLiteral("向上(&U)"));
  down_ = new QRadioButton(QStringLiteral("向下(&D)"));
  down_->setChecked(true);
  auto* directions = new QHBoxLayout(direction);
  directions->addWidget(up_);
  directions->addWidget(down_);
  auto* options = new QGridLayout;
  options->addWidget(wholeWord_, 0, 0);
  options->addWidget(matchCase_, 1, 0);
  options->addWidget(direction, 0, 1, 2, 1);
  return options;
}

void FindDialog::Open(bool replacing, const QString& what) {
  setWindowTitle(replacing ? QStringLiteral("替换") : QStringLiteral("查找"));
  for (QWidget* part : std::initializer_list<QWidget*>{withRow_, with_, replace_, replaceAll_}) part->setVisible(replacing);
  if (!what.isEmpty()) what_->setText(what);
  adjustSize();
  show();
  raise();
  activateWindow();
  what_->setFocus();
  what_->selectAll();
}

Search FindDialog::CurrentSearch() const {
  Search search;
  search.what = what_->text().toStdU16String();
  search.with = with_->text().toStdU16String();
  search.matchCase = matchCase_->isChecked();
  search.wholeWord = wholeWord_->isChecked();
  search.down = !up_->isChecked();
  return search;
}

}  // namespace window
