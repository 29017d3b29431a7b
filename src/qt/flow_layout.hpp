#pragma once

// The layout of the generic panel: items left to right like words in a
// paragraph, each at its size hint, wrapping into rows.

#include <QLayout>
#include <QList>
#include <QStyle>

/// Lays items out like words in a paragraph, wrapping into rows.  Answers
/// height-for-width, so that a panel in a resizable scroll area grows taller
/// as the window narrows.
class FlowLayout : public QLayout {
public:
  explicit FlowLayout(QWidget* parent = nullptr, int margin = -1, int hSpacing = -1,
                      int vSpacing = -1);
  ~FlowLayout() override;

  void addItem(QLayoutItem* item) override;
  int horizontalSpacing() const;
  int verticalSpacing() const;
  Qt::Orientations expandingDirections() const override;
  bool hasHeightForWidth() const override;
  int heightForWidth(int width) const override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;
  QSize sizeHint() const override;
  QLayoutItem* takeAt(int index) override;

private:
  int arrange(const QRect& rect, bool measureOnly) const;
  int parentSpacing(QStyle::PixelMetric metric) const;

  QList<QLayoutItem*> items;
  int horizontalSpace;
  int verticalSpace;
};
