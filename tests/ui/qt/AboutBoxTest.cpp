#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "ui/qt/AboutBox.h"

namespace tarven::test {
namespace {

TEST(AboutBoxPlacementTest, CentresOverTheOwnersClientAreaOnTheScreen) {
    EXPECT_EQ(aboutBoxPosition(QRect(200, 100, 300, 200), QSize(120, 80)), QPoint(290, 160));
    // The half-differences round towards zero: -49 / 2 is -24, 1 / 2 is 0.
    EXPECT_EQ(aboutBoxPosition(QRect(30, 40, 51, 101), QSize(100, 100)), QPoint(6, 40));
}

TEST(AboutBoxPlacementTest, NegativeCoordinatesAreSetToZero) {
    // An owner smaller than the box in both directions, near the screen's corner.
    EXPECT_EQ(aboutBoxPosition(QRect(10, 10, 40, 30), QSize(200, 100)), QPoint(0, 0));
    EXPECT_EQ(aboutBoxPosition(QRect(-500, 300, 100, 10), QSize(50, 50)), QPoint(0, 280));
}

class AboutBoxTest : public testing::Test {
  protected:
    void SetUp() override {
        owner.setGeometry(300, 200, 400, 300);
        owner.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    }
    QWidget owner;
};

TEST_F(AboutBoxTest, ShownBoxStandsCentredOverItsOwner) {
    AboutBox box(&owner);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    const QRect client(owner.mapToGlobal(QPoint(0, 0)), owner.size());
    EXPECT_EQ(box.frameGeometry().topLeft(), aboutBoxPosition(client, box.frameGeometry().size()));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Tarven のバージョン情報"));
    QStringList texts;
    for (const QLabel* label : box.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) {
            EXPECT_EQ(label->pixmap().size(), QSize(32, 32));
        } else {
            texts << label->text();
        }
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Tarven Version 0.1")));
    EXPECT_EQ(texts.size(), 2);
}

TEST_F(AboutBoxTest, OkAndEnterEndWithOneEscapeAndCloseWithTwo) {
    const auto endsWith = [&](const std::function<void(AboutBox&)>& act) {
        AboutBox box(&owner);
        QSignalSpy finished(&box, &QDialog::finished);
        box.open();
        act(box);
        EXPECT_FALSE(box.isVisible());
        return finished.count() == 1 ? finished.at(0).at(0).toInt() : -1;
    };
    EXPECT_EQ(endsWith([](AboutBox& box) {
                  QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("ok")),
                                    Qt::LeftButton);
              }),
              kOkCommand);
    EXPECT_EQ(endsWith([](AboutBox& box) { QTest::keyClick(&box, Qt::Key_Return); }), kOkCommand);
    EXPECT_EQ(endsWith([](AboutBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }),
              kCancelCommand);
    EXPECT_EQ(endsWith([](AboutBox& box) { box.close(); }), kCancelCommand);
}

}  // namespace
}  // namespace tarven::test
