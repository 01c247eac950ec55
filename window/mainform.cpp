#include "window/mainform.h"

#include <QCloseEvent>
#include <QCursor>
#include <QKeyEvent>
#include <QAbstractButton>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>

#include "velmora_resources.h"
#include "window/textmapping.h"

namespace window {

namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

int KeyAscii(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier) &&
      event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z)
    return event.key() - Qt::Key_A + 1;
  const QString text = event.text();
  return text.isEmpty() ? 0 : text.at(0).unicode();
}

void TextBox::keyPressEvent(QKeyEvent* event) {
  int keyAscii = KeyAscii(*event);
  if (keyAscii != 0 && onKeyPress) {
    onKeyPress(keyAscii);
    if (keyAscii == 0) {
      event->accept();
      return;
    }
  }
  // Shift+Enter would put a U+2028 line separator inside the line; a line break is meant.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & Qt::ShiftModifier)) {
    textCursor().insertBlock();
    ensureCursorVisible();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
    onClick();
}

MainForm::MainForm(store::Common& common)
    : form_(*this, common),
      txt_(new TextBox(this)),
      label1_(new QLabel(QStringLiteral("每行一条记录，格式为:"), this)),
      label2_(new QLabel(QStringLiteral("问题###答案"), this)),
      label3_{new LinkLabel(QStringLiteral("重新加载"), this),
              new LinkLabel(QStringLiteral("保存修改"), this)} {
  setObjectName(QStringLiteral("frmMain"));
  txt_->setObjectName(QStringLiteral("Txt"));
  label1_->setObjectName(QStringLiteral("Label1"));
  label2_->setObjectName(QStringLiteral("Label2"));
  label3_[0]->setObjectName(QStringLiteral("Label3_0"));
  label3_[1]->setObjectName(QStringLiteral("Label3_1"));

  txt_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txt_->onKeyPress = [this](int& keyAscii) { form_.TextKeyPress(keyAscii); };
  connect(txt_, &QPlainTextEdit::textChanged, this, [this] { form_.TextChanged(); });
  for (int index = 0; index < 2; ++index)
    label3_[static_cast<std::size_t>(index)]->onClick = [this, index] { form_.LinkClick(index); };

  resize(TwipsToPixels(9300), TwipsToPixels(6375));
}

int MainForm::TwipsToPixels(int twips) const { return twips * logicalDpiX() / 1440; }

std::u16string MainForm::Text() const { return ReplyTextOf(*txt_); }

void MainForm::SetText(std::u16string_view text) {
  // One assignment is one change, however many edits the box makes to show it.
  txt_->blockSignals(true);
  SetReplyText(*txt_, text);
  txt_->blockSignals(false);
  form_.TextChanged();
}

void MainForm::SetCaption(std::u16string_view caption) { setWindowTitle(ToQString(caption)); }

int MainForm::ShowMessage(std::u16string_view text, editor::Buttons buttons, editor::Icon icon,
                          std::u16string_view title) {
  if (messageHook) return messageHook(text, buttons, icon, title);
  QMessageBox box(this);
  box.setWindowTitle(ToQString(title));
  box.setText(ToQString(text));
  box.setIcon(icon == editor::Icon::Critical      ? QMessageBox::Critical
              : icon == editor::Icon::Exclamation ? QMessageBox::Warning
                                                  : QMessageBox::NoIcon);
  if (buttons == editor::Buttons::YesNoCancel) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
  // Chinese button texts whatever the system's language.
  const std::pair<QMessageBox::StandardButton, QString> texts[] = {
      {QMessageBox::Yes, QStringLiteral("是(&Y)")},
      {QMessageBox::No, QStringLiteral("否(&N)")},
      {QMessageBox::Cancel, QStringLiteral("取消")},
      {QMessageBox::Ok, QStringLiteral("确定")}};
  for (const auto& [button, label] : texts)
    if (QAbstractButton* shown = box.button(button)) shown->setText(label);
  switch (box.exec()) {
    case QMessageBox::Yes:
      return editor::vbYes;
    case QMessageBox::No:
      return editor::vbNo;
    case QMessageBox::Ok:
      return editor::vbOK;
    default:
      return editor::vbCancel;
  }
}

void MainForm::SetLinkCursor(int index) {
  const QPixmap hand(QString::fromLatin1(velmora::resources::kLinkCursor));
  if (hand.isNull()) throw std::runtime_error("link cursor resource is missing");
  Label3(index).setCursor(QCursor(hand, velmora::resources::kLinkCursorHotSpotX,
                                  velmora::resources::kLinkCursorHotSpotY));
}

void MainForm::MoveText(int left, int top) { txt_->move(TwipsToPixels(left), TwipsToPixels(top)); }

void MainForm::closeEvent(QCloseEvent* event) {
  int cancel = 0;
  form_.CloseRequest(cancel);
  if (cancel) {
    event->ignore();
  } else {
    event->accept();
  }
}

void MainForm::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // A plain placement: the text box above a strip holding the labels in one row.
  const int strip = TwipsToPixels(350);
  txt_->setGeometry(0, 0, width(), std::max(0, height() - strip));
  const int top = height() - TwipsToPixels(260);
  label1_->move(TwipsToPixels(120), top);
  label2_->move(TwipsToPixels(2040), top);
  label3_[1]->move(frameGeometry().width() - TwipsToPixels(1000), top);
  label3_[0]->move(label3_[1]->x() - TwipsToPixels(1000), top);
}

}  // namespace window
