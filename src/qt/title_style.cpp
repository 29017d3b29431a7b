#include "qt/title_style.hpp"

#include <QPainter>
#include <QRegion>
#include <QStyleOptionGroupBox>

namespace {

// A checkable box keeps the wrapped style's title: the panel has none, and
// the indicator and its text would have to be placed together.
const QStyleOptionGroupBox* titledBox(QStyle::ComplexControl control,
                                      const QStyleOptionComplex* option) {
  const auto* box = qstyleoption_cast<const QStyleOptionGroupBox*>(option);
  if (control != QStyle::CC_GroupBox || !box || (box->subControls & QStyle::SC_GroupBoxCheckBox)) {
    return nullptr;
  }
  return box;
}

} // namespace

TitleStyle::TitleStyle(const QString& baseKey) : QProxyStyle(baseKey) {}

QRect TitleStyle::subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                                 SubControl subControl, const QWidget* widget) const {
  const QStyleOptionGroupBox* box = titledBox(control, option);
  if (!box || subControl != SC_GroupBoxLabel) {
    return QProxyStyle::subControlRect(control, option, subControl, widget);
  }
  const QSize size(box->fontMetrics.horizontalAdvance(box->text), box->fontMetrics.height());
  return alignedRect(box->direction, Qt::AlignTop | Qt::AlignHCenter, size, box->rect);
}

void TitleStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                                    QPainter* painter, const QWidget* widget) const {
  const QStyleOptionGroupBox* box = titledBox(control, option);
  if (!box || box->text.isEmpty() || !(box->subControls & SC_GroupBoxLabel)) {
    QProxyStyle::drawComplexControl(control, option, painter, widget);
    return;
  }
  // The frame never runs through the title, and the text is centred in a
  // box one space wider than itself, as the style sheet rule has it.
  QRect label = subControlRect(control, option, SC_GroupBoxLabel, widget);
  label.setWidth(box->fontMetrics.size(Qt::TextShowMnemonic, box->text + u' ').width());
  QStyleOptionGroupBox frame(*box);
  frame.subControls &= ~SC_GroupBoxLabel;
  painter->save();
  painter->setClipRegion(QRegion(box->rect) - label);
  QProxyStyle::drawComplexControl(control, &frame, painter, widget);
  painter->restore();

  int alignment = Qt::AlignCenter | Qt::TextShowMnemonic;
  if (!styleHint(SH_UnderlineShortcut, option, widget)) {
    alignment |= Qt::TextHideMnemonic;
  }
  QPalette palette = box->palette;
  if (box->textColor.isValid()) {
    palette.setColor(QPalette::WindowText, box->textColor);
  }
  drawItemText(painter, label, alignment, palette, box->state & State_Enabled, box->text,
               QPalette::WindowText);
}
