// The yardstick of the desktop footprint: a bare Qt dialog with what the desktop program cannot
// do without, a read-only text view, a tray icon and an hourly timer, and nothing else.

#include <QApplication>
#include <QDialog>
#include <QPlainTextEdit>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kTimerPeriodMs = 3'600'000;

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("bare dialog"));
    auto* text = new QPlainTextEdit(&dialog);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->appendPlainText(QStringLiteral("** Init dialog."));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    QSystemTrayIcon tray(dialog.style()->standardIcon(QStyle::SP_ComputerIcon));
    tray.show();
    QTimer timer;
    timer.start(kTimerPeriodMs);
    QObject::connect(&timer, &QTimer::timeout, text,
                     [text] { text->appendPlainText(QStringLiteral("tick")); });
    QObject::connect(&dialog, &QDialog::finished, &application, [] { QApplication::quit(); });
    dialog.show();
    return QApplication::exec();
}
