#pragma once

// The application's style: the platform's or the user's choice, with the
// title of every group box centred at its top edge.

#include <QProxyStyle>

class QString;

/// A style sheet rule (QGroupBox::title { subcontrol-position: top center })
/// would say the same, but it puts every widget through the style sheet
/// machinery, which costs a large generic panel much of its start-up.  This
/// style places and draws the titles as that rule does and leaves
/// everything else to the style it wraps.
class TitleStyle : public QProxyStyle {
public:
  /// Over the style with this key, as QStyleFactory knows it.
  explicit TitleStyle(const QString& baseKey);

  QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option,
                       SubControl subControl, const QWidget* widget) const override;
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                          QPainter* painter, const QWidget* widget) const override;
};
