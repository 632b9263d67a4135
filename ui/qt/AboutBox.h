#pragma once

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace tarven {

inline constexpr int kOkCommand = 1;
inline constexpr int kCancelCommand = 2;

// Where the about box goes: centred over its owner's client area, given in screen
// coordinates, with each half-difference rounded towards zero and a negative coordinate
// set to 0.
QPoint aboutBoxPosition(const QRect& ownerClient, QSize ownSize);

// The about box (template 103). It ends with kOkCommand from its OK button and with
// kCancelCommand from Escape or its close button.
class AboutBox final : public QDialog {
    Q_OBJECT
  public:
    explicit AboutBox(QWidget* owner);

    void reject() override;

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace tarven
