#include "ui/qt/MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QWhatsThis>
#include <utility>

#include "log/LogView.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/QtEditControl.h"
#include "ui/resources/DialogTemplates.h"

namespace tarven {

namespace t = templates;

namespace {

// A tip that Qt would take for rich text (an answer can hold "<b>") is shown as the text it is.
QString trayTipText(const std::u16string& tip) {
    const QString text = QString::fromStdU16String(tip);
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

}  // namespace

MainWindow::MainWindow(DesktopEnvironment environment)
    : environment_(environment), requestTimer_(this), deliveryTimer_(this) {
    // Copied, as the caller's texts need not outlive the window.
    if (environment_.run.descriptionPath != nullptr) {
        descriptionPath_ = environment_.run.descriptionPath;
        environment_.run.descriptionPath = descriptionPath_.c_str();
    }
    if (environment_.run.systemConfigFolder != nullptr) {
        systemConfigFolder_ = environment_.run.systemConfigFolder;
        environment_.run.systemConfigFolder = systemConfigFolder_.c_str();
    }
    createControls();
    appendNarrow(*this, "** Init dialog.\r\n");
    createTrayIcon();
    connect(&requestTimer_, &QTimer::timeout, this, &MainWindow::runNow);
    requestTimer_.start(kRequestPeriod);
    deliveryTimer_.setSingleShot(true);
    connect(&deliveryTimer_, &QTimer::timeout, this, &MainWindow::deliverLog);
}

MainWindow::~MainWindow() {
    stopTimerAndRemoveIcon();
    run_.leave();
}

void MainWindow::createControls() {
    setWindowTitle(QString::fromUtf8(t::kMainWindowCaption));
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                            Qt::WindowContextHelpButtonHint;
    // Without a notification area "hide" minimises, so the window must be minimisable.
    if (!trayAvailable())
        flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    QIcon icon(QString::fromLatin1(t::kIcon101Large));
    icon.addFile(QString::fromLatin1(t::kIcon101Small));
    setWindowIcon(icon);
    setFont(dialogFont(t::kMainWindowFontPoints));
    const QSize base = dialogBaseUnits(font());
    templateSize_ = toPixels({0, 0, t::kMainWindowWidth, t::kMainWindowHeight}, base).size();
    hideRect_ = toPixels(t::kHideButton.rect, base);
    testRect_ = toPixels(t::kTestButton.rect, base);
    logRect_ = toPixels(t::kLogEdit.rect, base);
    setMinimumSize(templateSize_);
    resize(templateSize_);

    // Created in template order, which is the tab order.
    auto* hide = new QPushButton(QString::fromUtf8(t::kHideButton.text), this);
    hide->setObjectName(QStringLiteral("hide"));
    hide_ = hide;
    auto* test = new QPushButton(QString::fromUtf8(t::kTestButton.text), this);
    test->setObjectName(QStringLiteral("test"));
    test_ = test;
    log_ = new QtEditControl(this);
    log_->setObjectName(QStringLiteral("log"));
    placeControls();

    // Enter must press nothing: no button is a default button.
    for (QPushButton* button : {hide, test})
        button->setAutoDefault(false);
    connect(hide, &QPushButton::clicked, this, &MainWindow::hideWindow);
    connect(test, &QPushButton::clicked, this, &MainWindow::runNow);
    hide->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void MainWindow::placeControls() {
    if (log_ == nullptr)
        return;  // not built yet
    const QSize grown = (size() - templateSize_).expandedTo(QSize(0, 0));
    hide_->setGeometry(hideRect_.translated(grown.width(), 0));
    test_->setGeometry(testRect_.translated(grown.width(), 0));
    log_->setGeometry(logRect_.adjusted(0, 0, grown.width(), grown.height()));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    // A log that showed its end still shows it at the new size, however the view would place
    // its lines.
    const bool showedEnd = log_ != nullptr && log_->showsEnd();
    QDialog::resizeEvent(event);
    placeControls();
    if (showedEnd)
        log_->showEnd();
}

void MainWindow::createTrayIcon() {
    if (environment_.tray == DesktopEnvironment::Tray::absent)
        return;
    trayIcon_ = new QSystemTrayIcon(this);
    showTrayState();
    connect(trayIcon_, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
    trayIcon_->show();
}

void MainWindow::showTrayState() {
    if (trayIcon_ == nullptr)
        return;
    trayIcon_->setIcon(QIcon(QString::fromLatin1(running() ? t::kIcon105 : t::kIcon101Small)));
    trayIcon_->setToolTip(trayTipText(run_.summary().trayTip()));
}

bool MainWindow::trayAvailable() const {
    switch (environment_.tray) {
        case DesktopEnvironment::Tray::present:
            return true;
        case DesktopEnvironment::Tray::absent:
            return false;
        case DesktopEnvironment::Tray::fromPlatform:
            break;
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

EditControl* MainWindow::findControl(int id) {
    return id == kLogControlId ? log_ : nullptr;
}

void MainWindow::runNow() {
    if (run_.request())  // "TEST" is disabled during a run, so only a tick waits for its end
        startRun();
}

void MainWindow::startRun() {
    const bool testHadFocus = test_->hasFocus();
    test_->setEnabled(false);
    focusDuringRun_ = testHadFocus ? focusWidget() : nullptr;
    // The run wakes the window from its thread; leave() stops that before the window goes.
    // The thread keeps its own copies of the texts the run reads, as it may outlive the window.
    run_.start(
        log_->text(), log_->characterLimit(),
        [this] { QMetaObject::invokeMethod(this, &MainWindow::deliverLog, Qt::QueuedConnection); },
        [run = environment_.run, path = descriptionPath_, folder = systemConfigFolder_](
            Window& window, std::string& answerHead) mutable {
            if (run.descriptionPath != nullptr)
                run.descriptionPath = path.c_str();
            if (run.systemConfigFolder != nullptr)
                run.systemConfigFolder = folder.c_str();
            run.answerHead = &answerHead;
            return runRequest(window, kDescriptionFileName, run);
        });
    showTrayState();
}

void MainWindow::deliverLog() {
    if (const auto delay = run_.deliveryDelay(); delay.count() > 0) {
        if (!deliveryTimer_.isActive())
            deliveryTimer_.start(delay);
        return;
    }
    deliveryTimer_.stop();
    if (!run_.deliverTo(*log_))
        return;
    const platform::SystemClock systemClock;
    const platform::Clock& clock =
        environment_.run.clock != nullptr ? *environment_.run.clock : systemClock;
    const bool again = run_.finish(log_->text(), clock.now());
    showTrayState();
    test_->setEnabled(true);
    if (focusDuringRun_ != nullptr && focusWidget() == focusDuringRun_)
        test_->setFocus();
    focusDuringRun_ = nullptr;
    if (again)
        startRun();
}

void MainWindow::hideWindow() {
    if (!isVisible())
        return;
    // Asked when pressed, as a notification area can come and go while the program runs.
    if (trayIcon_ != nullptr && trayAvailable()) {
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger)
        return;
    if (isVisible()) {
        hide();
        return;
    }
    showAndRaise();
}

void MainWindow::showAndRaise() {
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::showAbout() {
    AboutBox box(this);
    box.exec();
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::EnterWhatsThisMode) {
        // The caption's help button: the about box instead of help on single controls.
        QWhatsThis::leaveWhatsThisMode();
        QMetaObject::invokeMethod(this, &MainWindow::showAbout, Qt::QueuedConnection);
        return true;
    }
    return QDialog::event(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            hideWindow();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return;  // command 1: nothing
        case Qt::Key_F1:
            showAbout();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    done(kCloseResult);
    event->accept();
}

void MainWindow::done(int result) {
    stopTimerAndRemoveIcon();
    run_.leave();
    QDialog::done(result);
}

void MainWindow::stopTimerAndRemoveIcon() {
    requestTimer_.stop();
    deliveryTimer_.stop();
    if (trayIcon_ != nullptr)
        trayIcon_->hide();
}

}  // namespace tarven
