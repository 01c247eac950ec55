#include "window/mainform.h"

#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QPalette>
#include <QScreen>
#include <QMoveEvent>
#include <QShowEvent>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>

#include <filesystem>
#include <system_error>
#include <utility>

#include "editor/messages.h"
#include "velmora_resources.h"
#include "window/gotoline.h"
#include "window/layout.h"

namespace window {

namespace {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

void SetForeColour(QWidget& widget, const QColor& colour) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, colour);
  widget.setPalette(palette);
}

// The links' face: SimSun 9 pt, underlined, normal weight. Where SimSun is not installed, the
// first installed Chinese face of the list, so the text never shows as boxes.
QFont LinkFont() {
  static const QStringList candidates = {
      QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC"),
      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("AR PL UMing CN")};
  const QStringList installed = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  QStringList families;
  for (const QString& family : candidates)
    if (installed.contains(family, Qt::CaseInsensitive)) families << family;
  if (families.isEmpty()) families = installed.mid(0, 1);
  QFont font;
  if (!families.isEmpty()) font.setFamilies(families);
  font.setPointSize(9);
  font.setUnderline(true);
  font.setWeight(QFont::Normal);
  return font;
}

}  // namespace

void UseChineseTexts() {
  static QTranslator qtTexts;
  if (qtTexts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"), QStringLiteral("_"),
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QCoreApplication::installTranslator(&qtTexts);
}

int KeyAscii(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  if ((modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier) &&
      event.key() >= Qt::Key_A && event.key() <= Qt::Key_Z)
    return event.key() - Qt::Key_A + 1;
  const QString text = event.text();
  return text.isEmpty() ? 0 : text.at(0).unicode();
}

void TextBox::keyPressEvent(QKeyEvent* event) {
  if (onCommandKey && onCommandKey(*event)) {
    event->accept();
    return;
  }
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
  ReplyTextBox::keyPressEvent(event);
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  QLabel::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onClick)
    onClick();
}

MainForm::MainForm(store::Common& common)
    : form_(*this, common),
      txt_(new TextBox(this)),
      label1_(new QLabel(ToQString(kLabel1Design.caption), this)),
      label2_(new QLabel(ToQString(kLabel2Design.caption), this)),
      label3_{new LinkLabel(ToQString(kLabel3Design[0].caption), this), new LinkLabel(ToQString(kLabel3Design[1].caption), this)} {
  setObjectName(QStringLiteral("frmMain"));
  txt_->setObjectName(QStringLiteral("Txt"));
  label1_->setObjectName(QStringLiteral("Label1"));
  label2_->setObjectName(QStringLiteral("Label2"));
  label3_[0]->setObjectName(QStringLiteral("Label3_0"));
  label3_[1]->setObjectName(QStringLiteral("Label3_1"));

  txt_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txt_->onKeyPress = [this](int& keyAscii) { form_.TextKeyPress(keyAscii); };
  connect(txt_, &QPlainTextEdit::textChanged, this, [this] { form_.TextChanged(); });
  connect(txt_->document(), &QTextDocument::contentsChanged, this, [this] { searchedStale_ = true; });
  for (int index = 0; index < 2; ++index)
    label3_[static_cast<std::size_t>(index)]->onClick = [this, index] { form_.LinkClick(index); };

  SetForeColour(*label2_, QColor(255, 0, 0));
  const QFont linkFont = LinkFont();
  for (LinkLabel* link : label3_) {
    SetForeColour(*link, QColor(0, 0, 255));
    link->setFont(linkFont);
  }
  for (QLabel* label : std::initializer_list<QLabel*>{label1_, label2_, label3_[0], label3_[1]})
    label->adjustSize();
  // Design positions; StartUp moves the text box to the corner and LayOut replaces the rest
  // except the lefts of Label1 and Label2.
  txt_->setGeometry(TwipsToPixels(kTxtDesign.left), TwipsToPixelsY(kTxtDesign.top), TwipsToPixels(kTxtDesign.width),
                    TwipsToPixelsY(kTxtDesign.height));
  label1_->move(TwipsToPixels(kLabel1Design.left), TwipsToPixelsY(kLabel1Design.top));
  label2_->move(TwipsToPixels(kLabel2Design.left), TwipsToPixelsY(kLabel2Design.top));
  for (std::size_t index = 0; index < 2; ++index)
    label3_[index]->move(TwipsToPixels(kLabel3Design[index].left), TwipsToPixelsY(kLabel3Design[index].top));

  setTabOrder(txt_, label1_);
  setTabOrder(label1_, label2_);
  setTabOrder(label2_, label3_[0]);
  setTabOrder(label3_[0], label3_[1]);

  txt_->onCommandKey = [this](const QKeyEvent& event) { return TakeFindKey(event); };
  setWindowIcon(QIcon(QString::fromLatin1(velmora::resources::kWindowIcon)));
  resize(TwipsToPixels(kDesignWidth), TwipsToPixelsY(kDesignHeight));
  // Where it will be shown, so that a message at start appears over that place too.
  Centre();
}

int MainForm::TwipsToPixels(int twips) const { return window::TwipsToPixels(twips, logicalDpiX()); }
int MainForm::TwipsToPixelsY(int twips) const { return window::TwipsToPixels(twips, logicalDpiY()); }
int MainForm::PixelsToTwips(int pixels) const { return window::PixelsToTwips(pixels, logicalDpiX()); }
int MainForm::PixelsToTwipsY(int pixels) const { return window::PixelsToTwips(pixels, logicalDpiY()); }

bool MainForm::IsOrdinaryFile(std::u16string_view path) const {
  std::error_code error;  // a file that cannot be looked at is not there
  return std::filesystem::is_regular_file(store::NativePath(path), error);
}

std::u16string MainForm::Text() const { return ReplyTextOf(*txt_); }

// The box shows one block per CR LF-separated line.
std::size_t MainForm::CaretLine() const { return static_cast<std::size_t>(txt_->textCursor().blockNumber()); }

void MainForm::ShowLine(std::size_t line, bool select) {
  const auto last = static_cast<std::size_t>(txt_->document()->blockCount() - 1);
  QTextCursor caret(txt_->document()->findBlockByNumber(static_cast<int>(std::min(line, last))));
  if (select) caret.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  txt_->setTextCursor(caret);
  txt_->ensureCursorVisible();
}

void MainForm::SetText(std::u16string text) {
  SettleGeometry();
  {
    // One assignment is one change, however many edits the box makes to show it. The blocker
    // lets the box's signals through again even if the assignment fails.
    const QSignalBlocker quiet(txt_);
    SetReplyText(*txt_, std::move(text));
  }
  txt_->MarkLinesLeftOut();
  form_.TextChanged();
}

namespace {

// Delivers now the resize event Qt would otherwise hold back until the widget is first shown.
void SendPendingResize(QWidget& widget) {
  if (!widget.testAttribute(Qt::WA_PendingResizeEvent)) return;
  widget.setAttribute(Qt::WA_PendingResizeEvent, false);
  QResizeEvent event(widget.size(), QSize());
  QCoreApplication::sendEvent(&widget, &event);
}

}  // namespace

void MainForm::SettleGeometry() {
  if (isVisible()) return;  // a shown window has had its sizes
  ensurePolished();         // the style decides the frame and the scroll bar's width
  SendPendingResize(*this);  // lays the window out, which sizes the text box
  SendPendingResize(*txt_);  // sizes the box's view
  SendPendingResize(*txt_->viewport());
}

void MainForm::SetCaption(std::u16string_view caption) { setWindowTitle(ToQString(caption)); }

// ---- Find and replace ----

bool MainForm::TakeFindKey(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  if (modifiers == Qt::ControlModifier && (event.key() == Qt::Key_F || event.key() == Qt::Key_H)) {
    OpenFind(event.key() == Qt::Key_H);
  } else if (modifiers == Qt::ControlModifier && event.key() == Qt::Key_G) {
    GoToLine();
  } else if (event.key() == Qt::Key_F3 && (modifiers & ~Qt::ShiftModifier) == 0) {
    // The last search again; with none yet, the dialog to ask for one.
    if (!finder_.FindAgain(modifiers == 0)) OpenFind(false);
  } else {
    return false;
  }
  return true;
}

void MainForm::GoToLine() {
  QDialog dialog(this);
  dialog.setWindowTitle(ToQString(kGoToTitle));
  dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* number = new QLineEdit(QString::number(CaretLine() + 1), &dialog);
  number->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), number));
  number->selectAll();
  auto* label = new QLabel(ToQString(kGoToLabel), &dialog);
  label->setBuddy(number);
  auto* buttons = new QDialogButtonBox(&dialog);
  buttons->addButton(ToQString(kGoToButton), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(ToQString(kGoToCancel), QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(label), layout->addWidget(number), layout->addWidget(buttons);
  // A number out of range is said, and the dialog stays for another.
  std::size_t line = 0;
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
    const auto target = LineToGoTo(number->text().toStdU16String(), static_cast<std::size_t>(txt_->blockCount()));
    if (!target) return Tell(kLineOutOfRange);
    line = *target;
    dialog.accept();
  });
  if (dialog.exec() == QDialog::Accepted) SetCaretLine(line);
}

FindDialog& MainForm::Finding() {
  if (!findDialog_) {
    findDialog_ = new FindDialog(this);
    findDialog_->onFindNext = [this](const Search& search) { finder_.FindNext(search); };
    findDialog_->onReplace = [this](const Search& search) { finder_.ReplaceOne(search); };
    findDialog_->onReplaceAll = [this](const Search& search) { finder_.ReplaceAll(search); };
  }
  return *findDialog_;
}

void MainForm::OpenFind(bool replacing) {
  const QString selected = txt_->textCursor().selectedText();
  Finding().Open(replacing, selected.contains(QChar(0x2029)) ? QString() : selected);
}

// The document is copied once after each change, and searched as often as asked until the next:
// the copy of a large text costs several times the search itself.
std::u16string_view MainForm::ShownText() {
  if (searchedStale_) {
    searched_ = QString();  // not held twice while the new copy is made
    searched_ = txt_->document()->toRawText();
    searchedStale_ = false;
  }
  return {reinterpret_cast<const char16_t*>(searched_.utf16()), static_cast<std::size_t>(searched_.size())};
}

Stretch MainForm::Selection() const {
  const QTextCursor cursor = txt_->textCursor();
  return {static_cast<std::size_t>(cursor.selectionStart()), static_cast<std::size_t>(cursor.selectionEnd())};
}

void MainForm::Select(Stretch stretch) {
  QTextCursor cursor = txt_->textCursor();
  cursor.setPosition(static_cast<int>(stretch.start));
  cursor.setPosition(static_cast<int>(stretch.end), QTextCursor::KeepAnchor);
  txt_->setTextCursor(cursor);
  txt_->ensureCursorVisible();
}

void MainForm::ReplaceSelection(std::u16string_view with) {
  QTextCursor cursor = txt_->textCursor();
  cursor.insertText(ToQString(with), QTextCharFormat());
  txt_->setTextCursor(cursor);
}

void MainForm::ReplaceAllText(std::u16string shown, std::vector<Original> originals) {
  ReplaceShownText(*txt_, shown, originals);
}

void MainForm::Tell(std::u16string_view message) {
  ShowMessage(message, editor::Buttons::Ok, editor::Icon::None, editor::AppTitle);
}

int MainForm::ShowMessage(std::u16string_view text, editor::Buttons buttons, editor::Icon icon,
                          std::u16string_view title) {
  if (messageHook) return messageHook(text, buttons, icon, title);
  QMessageBox box(this);
  box.setWindowTitle(ToQString(title));
  box.setText(ToQString(text));
  box.setIcon(icon == editor::Icon::Critical ? QMessageBox::Critical : QMessageBox::NoIcon);
  if (buttons == editor::Buttons::YesNoCancel) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
  } else {
    box.setStandardButtons(QMessageBox::Ok);
  }
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

void MainForm::MoveText(int left, int top) { txt_->move(TwipsToPixels(left), TwipsToPixelsY(top)); }

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
  ApplyLayout();
}

void MainForm::ApplyLayout() {
  LayoutInput size;
  size.innerWidth = PixelsToTwips(width());
  size.innerHeight = PixelsToTwipsY(height());
  // Before the window manager has framed the window the outer width is the inner one.
  laidOutOuterWidth_ = std::max(frameGeometry().width(), width());
  size.outerWidth = PixelsToTwips(laidOutOuterWidth_);
  const Layout layout = LayOut(size);

  txt_->resize(TwipsToPixels(layout.txtWidth), TwipsToPixelsY(layout.txtHeight));
  label1_->move(label1_->x(), TwipsToPixelsY(layout.label1Top));
  label2_->move(label2_->x(), TwipsToPixelsY(layout.label2Top));
  for (std::size_t index = 0; index < 2; ++index)
    label3_[index]->move(TwipsToPixels(layout.label3Left[index]),
                         TwipsToPixelsY(layout.label3Top[index]));
}

void MainForm::Centre() {
  QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!shown) return;
  QRect frame = frameGeometry();
  frame.moveCenter(shown->availableGeometry().center());
  move(frame.topLeft());
}

void MainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window may have been laid out before it was shown.
  ApplyLayout();
}

void MainForm::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // A window manager frames a shown window without resizing it, and the window moves by the
  // frame's border: only then is the outer width known, and the frame to centre.
  if (std::max(frameGeometry().width(), width()) != laidOutOuterWidth_) ApplyLayout();
  if (!centredInFrame_ && isVisible() && frameGeometry().size() != size()) {
    centredInFrame_ = true;
    Centre();
  }
}

}  // namespace window
