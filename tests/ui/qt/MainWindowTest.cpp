#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWhatsThis>
#include <cstring>

#include "log/LogView.h"
#include "log/MemoryEditControl.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TestPeer.h"
#include "ui/qt/AboutBox.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtEditControl.h"

namespace tarven::test {
namespace {

constexpr int kWaitMs = 5000;

class FixedClock final : public platform::Clock {
  public:
    platform::LocalTime now() const override { return {2024, 3, 5, 7, 9, 11}; }
};

// A host named "tarven-test" whose name resolves to 10.1.2.3.
class FixedHost final : public platform::HostNetwork {
  public:
    bool hostName(char* buffer, int size) const override {
        return std::snprintf(buffer, static_cast<std::size_t>(size), "tarven-test") < size;
    }
    bool resolve(const char*, platform::Ipv4& address) const override {
        const unsigned char bytes[] = {10, 1, 2, 3};
        std::memcpy(&address, bytes, sizeof address);
        return true;
    }
    bool firstExternalAddress(platform::Ipv4&) const override { return false; }
};

class MemoryWindow final : public Window {
  public:
    EditControl* findControl(int id) override { return id == kLogControlId ? &log : nullptr; }
    MemoryEditControl log;
};

// Closes every about box that opens while it lives, counting them and noting the last owner.
class AboutBoxCloser {
  public:
    AboutBoxCloser() {
        timer_.callOnTimeout([this] {
            if (auto* box = qobject_cast<AboutBox*>(QApplication::activeModalWidget())) {
                ++closed;
                owner = box->parentWidget();
                box->reject();
            }
        });
        timer_.start(10);
    }
    int closed = 0;
    QWidget* owner = nullptr;

  private:
    QTimer timer_;
};

class MainWindowTest : public testing::Test {
  protected:
    // A window whose runs read `description` (with PORT replaced by the peer's port), see a
    // fixed clock and host, and which acts as if the desktop had a notification area.
    std::unique_ptr<MainWindow> makeWindow(
        DesktopEnvironment::Tray tray = DesktopEnvironment::Tray::present,
        const TestPeer* server = nullptr) {
        std::string text = description;
        text.replace(text.find("PORT"), 4, (server ? *server : peer).portText());
        path = widePath(folder.write("tarven.txt", text));
        DesktopEnvironment environment;
        environment.run.clock = &clock;
        environment.run.host = &host;
        environment.run.descriptionPath = path.c_str();
        environment.tray = tray;
        return std::make_unique<MainWindow>(environment);
    }

    static QtEditControl& logOf(MainWindow& window) {
        return *window.findChild<QtEditControl*>(QStringLiteral("log"));
    }
    static QPushButton& button(MainWindow& window, const char* name) {
        return *window.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    static QTimer& timerOf(MainWindow& window) {
        return *window.findChild<QTimer*>(QString(), Qt::FindDirectChildrenOnly);
    }
    static bool logHas(MainWindow& window, const char16_t* part) {
        return logOf(window).text().find(part) != std::u16string::npos;
    }
    static void showAndWait(MainWindow& window) {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    std::string description =
        "TARVEN_connect: 127.0.0.1\r\n"
        "TARVEN_port: PORT\r\n"
        "TARVEN_request: GET /hourly?from=%IPADDRESS% HTTP/1.0\r\n"
        "Host: 127.0.0.1\r\n";
    const std::string expectedRequest =
        "GET /hourly?from=10.1.2.3 HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    TestPeer peer{PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\nplain\nlone\rend \xC3\xA9\r\n"}};
    TempDir folder;
    std::u16string path;
    FixedClock clock;
    FixedHost host;
};

TEST_F(MainWindowTest, StartsWithTheInitLineTheIconAndAnHourlyTimerButNoRun) {
    auto window = makeWindow();
    showAndWait(*window);
    QCoreApplication::processEvents();

    EXPECT_EQ(logOf(*window).text(), u"** Init dialog.\r\n");
    QTimer& timer = timerOf(*window);
    EXPECT_TRUE(timer.isActive());
    EXPECT_FALSE(timer.isSingleShot());
    EXPECT_EQ(timer.interval(), 3'600'000);
    EXPECT_GT(timer.remainingTime(), 3'590'000);  // the first run is an hour away
    EXPECT_EQ(peer.connections(), 0);
    auto* tray = window->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    EXPECT_TRUE(tray->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tarven"));
    EXPECT_EQ(window->focusWidget(), &button(*window, "hide"));
}

TEST_F(MainWindowTest, TestButtonShowsTheWholeExchangeExactly) {
    auto window = makeWindow();
    showAndWait(*window);
    QTest::mouseClick(&button(*window, "test"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, kWaitMs));

    // The same run into the in-memory control gives the transcript to match, unit for unit.
    MemoryWindow reference;
    DesktopEnvironment environment;
    environment.run.clock = &clock;
    environment.run.host = &host;
    environment.run.descriptionPath = path.c_str();
    ASSERT_TRUE(runRequest(reference, kDescriptionFileName, environment.run));

    EXPECT_EQ(peer.received(2), expectedRequest + expectedRequest);
    QtEditControl& log = logOf(*window);
    const std::u16string transcript = log.text();
    EXPECT_EQ(transcript, reference.log.text());
    EXPECT_EQ(transcript.find(u"** Init dialog."), std::u16string::npos);  // cleared by the run
    EXPECT_NE(transcript.find(u"plain\nlone\rend \u00E9\r\n** Socket close.\r\n"),
              std::u16string::npos);
    EXPECT_NE(transcript.find(u"2024/03/05:07:09:11\r\n"), std::u16string::npos);
    EXPECT_EQ(log.lineCount(), reference.log.lineCount());
    EXPECT_EQ(log.document()->blockCount(), log.lineCount() + 1);  // the lone LF shows as a break
}

TEST_F(MainWindowTest, HideAndEscapeHideTheWindowWhileEnterDoesNothing) {
    auto window = makeWindow();
    QSignalSpy finished(window.get(), &QDialog::finished);

    showAndWait(*window);
    QTest::mouseClick(&button(*window, "hide"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());

    showAndWait(*window);
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());

    // Enter, with the focus on either button or on the log, neither runs nor hides nor ends.
    showAndWait(*window);
    for (const char* name : {"hide", "test", "log"}) {
        QWidget* target = window->findChild<QWidget*>(QString::fromLatin1(name));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter, Qt::KeypadModifier);
        EXPECT_TRUE(window->isVisible()) << name;
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(peer.connections(), 0);
    EXPECT_EQ(logOf(*window).text(), u"** Init dialog.\r\n");
    EXPECT_EQ(finished.count(), 0);
    EXPECT_TRUE(timerOf(*window).isActive());
}

TEST_F(MainWindowTest, LeftClickOnTheTrayIconTogglesTheWindowOtherClicksDoNothing) {
    auto window = makeWindow();
    showAndWait(*window);
    auto* tray = window->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);

    for (auto reason :
         {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
        emit tray->activated(reason);
        EXPECT_TRUE(window->isVisible());
    }
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(window->isVisible());
    for (auto reason :
         {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick}) {
        emit tray->activated(reason);
        EXPECT_FALSE(window->isVisible());
    }

    window->showMinimized();  // shown again in its normal state, in front and active
    window->hide();
    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->isMinimized());
    EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));

    emit tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, TimerTickRunsTheRequestWhileTheWindowIsHidden) {
    auto window = makeWindow();
    showAndWait(*window);
    QTest::mouseClick(&button(*window, "hide"), Qt::LeftButton);
    ASSERT_FALSE(window->isVisible());

    timerOf(*window).setInterval(1);  // let the hour pass at once
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer.connections() >= 1; }, kWaitMs));
    timerOf(*window).stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, kWaitMs));
    EXPECT_EQ(peer.received(1).substr(0, expectedRequest.size()), expectedRequest);
    EXPECT_NE(logOf(*window).text().find(u"** Socket close.\r\n"), std::u16string::npos);
}

TEST_F(MainWindowTest, ARunLeavesTheWindowLiveAndATickDuringItMakesOneRunAfterIt) {
    using namespace std::chrono_literals;
    TestPeer trickling{PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\nfirst\r\n",
                                  .parts = {"second\r\n", "third\r\n"},
                                  .pause = 500ms}};
    auto window = makeWindow(DesktopEnvironment::Tray::present, &trickling);
    showAndWait(*window);
    QPushButton& test = button(*window, "test");
    QTest::mouseClick(&test, Qt::LeftButton);
    EXPECT_TRUE(window->running());
    EXPECT_FALSE(test.isEnabled());
    QTest::mouseClick(&test, Qt::LeftButton);  // disabled: queues nothing

    // What arrived shows while the rest is still on its way.
    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas(*window, u"first\r\n"); }, kWaitMs));
    EXPECT_FALSE(logHas(*window, u"third"));
    QTimer& timer = timerOf(*window);
    timer.setInterval(1);  // many ticks during the run, taken as one
    QTest::qWait(50);
    timer.stop();
    ASSERT_TRUE(window->running());

    ASSERT_TRUE(QTest::qWaitFor([&] { return trickling.connections() == 1; }, kWaitMs));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->running(); }, kWaitMs));
    QTest::mouseClick(&button(*window, "hide"), Qt::LeftButton);  // hides during a run too
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, kWaitMs));
    QTest::qWait(100);
    EXPECT_EQ(trickling.connections(), 2);
    EXPECT_FALSE(window->running());
    EXPECT_TRUE(test.isEnabled());
    EXPECT_TRUE(logHas(*window, u"first\r\nsecond\r\nthird\r\n** Socket close.\r\n"));
}

// The tip and icon before, during and after runs that end well, fail, or answer with markup.
TEST_F(MainWindowTest, TheTrayTipAndIconTellHowTheLastRunWent) {
    using namespace std::chrono_literals;
    const auto image = [](const QIcon& icon) { return icon.pixmap(16, 16).toImage(); };
    const QImage idleIcon = image(QIcon(QStringLiteral(":/icons/tarven-101-16.xpm")));
    const QImage runIcon = image(QIcon(QStringLiteral(":/icons/tarven-105-16.xpm")));
    ASSERT_NE(idleIcon, runIcon);
    TestPeer slow{PeerScript{.answer = "HTTP/1.1 503 Service Unavailable\r\n\r\n",
                             .parts = {"late\r\n"},
                             .pause = 300ms}};
    auto window = makeWindow(DesktopEnvironment::Tray::present, &slow);
    showAndWait(*window);
    auto* tray = window->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), QStringLiteral("Tarven"));
    EXPECT_EQ(image(tray->icon()), idleIcon);

    QTest::mouseClick(&button(*window, "test"), Qt::LeftButton);
    EXPECT_EQ(tray->toolTip(), QStringLiteral("Tarven: running..."));
    EXPECT_EQ(image(tray->icon()), runIcon);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, kWaitMs));
    EXPECT_EQ(tray->toolTip(), QStringLiteral("Tarven: 07:09 HTTP/1.1 503 Service Unavailable"));
    EXPECT_EQ(image(tray->icon()), idleIcon);

    const struct {
        PeerScript script;
        QString tip;
    } cases[] = {
        {PeerScript{.refuse = true}, QStringLiteral("Tarven: 07:09 failed: Connect failed")},
        // Shown as the text it is, not as Qt's rich text.
        {PeerScript{.answer = "HTTP/1.0 200 <b>OK</b>\r\n\r\n"},
         QStringLiteral("<p style='white-space:pre'>Tarven: 07:09 HTTP/1.0 200 "
                        "&lt;b&gt;OK&lt;/b&gt;</p>")},
    };
    for (const auto& c : cases) {
        TestPeer server{c.script};
        auto other = makeWindow(DesktopEnvironment::Tray::present, &server);
        QTest::mouseClick(&button(*other, "test"), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !other->running(); }, kWaitMs));
        EXPECT_EQ(other->findChild<QSystemTrayIcon*>()->toolTip(), c.tip);
    }
}

TEST_F(MainWindowTest, ClosingDuringARunEndsAtOnceAndTheRunEndsAloneWritingNowhere) {
    using namespace std::chrono_literals;
    TestPeer slow{
        PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\n", .parts = {"late\r\n"}, .pause = 1500ms}};
    auto window = makeWindow(DesktopEnvironment::Tray::present, &slow);
    showAndWait(*window);
    QTest::mouseClick(&button(*window, "test"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas(*window, u"** Reciving"); }, kWaitMs));
    QSignalSpy finished(window.get(), &QDialog::finished);
    auto* tray = window->findChild<QSystemTrayIcon*>();

    window->close();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(timerOf(*window).isActive());
    EXPECT_FALSE(tray->isVisible());
    EXPECT_TRUE(window->leftRunBehind());
    window.reset();  // the run still goes on

    EXPECT_EQ(slow.received(1).substr(0, expectedRequest.size()), expectedRequest);
    EXPECT_EQ(slow.connections(), 1);
}

TEST_F(MainWindowTest, AnAnswerWithoutCrLfKeepsTheLogWithinItsCharacterLimit) {
    std::string body;
    for (int i = 0; body.size() < 3 * static_cast<std::size_t>(kLogCharacterLimit) / 2; ++i)
        body += "{\"line\": " + std::to_string(i) + ", \"text\": \"LF only\"}\n";
    TestPeer large{PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\n" + body}};
    auto window = makeWindow(DesktopEnvironment::Tray::present, &large);
    showAndWait(*window);
    QTest::mouseClick(&button(*window, "test"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, 60'000));

    struct LimitedWindow final : Window {  // the same log, with the desktop's limit
        EditControl* findControl(int) override { return &log; }
        MemoryEditControl log{MemoryEditControl::Keep::text, kLogCharacterLimit};
    } reference;
    const RunEnvironment run{.host = &host, .clock = &clock, .descriptionPath = path.c_str()};
    ASSERT_TRUE(runRequest(reference, kDescriptionFileName, run));
    const std::u16string transcript = logOf(*window).text();
    EXPECT_EQ(transcript.size(), static_cast<std::size_t>(kLogCharacterLimit));
    EXPECT_TRUE(transcript == reference.log.text());
    EXPECT_TRUE(transcript.ends_with(u"\"LF only\"}\n** Socket close.\r\n2024/03/05:07:09:11\r\n"));
}

TEST_F(MainWindowTest, GrowsFromTheTemplateSizeWithTheLogWhileTheButtonsKeepTheTopRight) {
    auto window = makeWindow();
    showAndWait(*window);
    const QSize opened = window->size();
    EXPECT_EQ(window->minimumSize(), opened);
    QWidget& log = logOf(*window);
    QWidget& hide = button(*window, "hide");
    const QRect logAtStart = log.geometry();
    const int hideFromRight = opened.width() - hide.geometry().right();

    window->resize(opened + QSize(300, 200));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == opened + QSize(300, 200); }));
    EXPECT_EQ(log.geometry(), logAtStart.adjusted(0, 0, 300, 200));
    EXPECT_EQ(window->width() - hide.geometry().right(), hideFromRight);
    EXPECT_EQ(hide.y(), button(*window, "test").y());

    window->resize(opened - QSize(50, 50));  // no smaller than the template
    QCoreApplication::processEvents();
    EXPECT_EQ(window->size(), opened);
    EXPECT_EQ(log.geometry(), logAtStart);
}

TEST_F(MainWindowTest, AGrowingWindowKeepsTheLogsEndInViewAndALogReadHigherUpInPlace) {
    auto window = makeWindow();
    showAndWait(*window);
    QtEditControl& log = logOf(*window);
    // An answer with LF line ends is one line of the log, shown as many.
    appendWide(*window, u"HTTP/1.0 200 OK\r\n\r\n");
    for (int i = 0; i < 150; ++i)
        appendWide(*window, u"{\"a line of the answer\": 1}\n");
    appendWide(*window, u"** Socket close.\r\n");
    QScrollBar& scroll = *log.verticalScrollBar();
    ASSERT_TRUE(QTest::qWaitFor([&] { return scroll.maximum() > 0; }));
    QCoreApplication::processEvents();
    ASSERT_TRUE(log.showsEnd());

    // Grown in steps, as a user drags the window's corner.
    const QSize opened = window->size();
    for (int step = 1; step <= 5; ++step) {
        window->resize(opened + QSize(30 * step, 40 * step));
        QCoreApplication::processEvents();
    }
    EXPECT_TRUE(log.showsEnd());
    QTextCursor end(log.document());
    end.movePosition(QTextCursor::End);
    EXPECT_TRUE(log.viewport()->rect().contains(log.cursorRect(end)));

    scroll.setValue(10);  // someone reading the start keeps reading it
    window->resize(opened + QSize(0, 260));
    QCoreApplication::processEvents();
    EXPECT_EQ(scroll.value(), 10);
}

TEST_F(MainWindowTest, WithoutANotificationAreaHideMinimisesAndTheHourlyRunsGoOn) {
    auto window = makeWindow(DesktopEnvironment::Tray::absent);
    showAndWait(*window);
    EXPECT_EQ(window->findChild<QSystemTrayIcon*>(), nullptr);

    QTest::mouseClick(&button(*window, "hide"), Qt::LeftButton);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isMinimized());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(timerOf(*window).isActive());
}

TEST_F(MainWindowTest, F1AndTheCaptionHelpButtonOpenTheAboutBoxOverTheWindow) {
    auto window = makeWindow();
    showAndWait(*window);
    AboutBoxCloser closer;

    QTest::keyClick(window.get(), Qt::Key_F1);  // returns once the box has ended
    EXPECT_EQ(closer.closed, 1);
    EXPECT_EQ(closer.owner, window.get());

    QWhatsThis::enterWhatsThisMode();
    ASSERT_TRUE(QTest::qWaitFor([&] { return closer.closed == 2; }, kWaitMs));
    EXPECT_FALSE(QWhatsThis::inWhatsThisMode());
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainWindowTest, CloseEndsWithZeroStopsTheTimerAndRemovesTheIcon) {
    for (const bool hiddenFirst : {false, true}) {
        auto window = makeWindow();
        showAndWait(*window);
        if (hiddenFirst)
            window->hide();  // closing from the tray's hidden state ends it too
        QSignalSpy finished(window.get(), &QDialog::finished);
        auto* tray = window->findChild<QSystemTrayIcon*>();

        window->close();

        ASSERT_EQ(finished.count(), 1) << hiddenFirst;
        EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
        EXPECT_FALSE(window->isVisible());
        EXPECT_FALSE(timerOf(*window).isActive());
        EXPECT_FALSE(tray->isVisible());
    }
    EXPECT_EQ(peer.connections(), 0);
}

TEST_F(MainWindowTest, TestButtonMakesAVerifiedHttpsExchange) {
    TestAuthority authority(folder.path());
    ASSERT_TRUE(authority.ready());
    const TestAuthority::Server certificate = authority.issue("server", {"127.0.0.1"});
    TestPeer tlsPeer(PeerScript{.answer = "HTTP/1.0 200 OK\r\n\r\nsecure\r\n",
                                .tlsCertificateFile = certificate.certificateFile.string(),
                                .tlsKeyFile = certificate.keyFile.string()});
    description =
        "TARVEN_connect: 127.0.0.1\r\nTARVEN_port: PORT\r\nTARVEN_tls: on\r\n"
        "TARVEN_cafile: " +
        authority.certificateFile().string() + "\r\nTARVEN_request: GET /hourly HTTP/1.0\r\n";
    auto window = makeWindow(DesktopEnvironment::Tray::present, &tlsPeer);
    showAndWait(*window);
    QTest::mouseClick(&button(*window, "test"), Qt::LeftButton);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->running(); }, kWaitMs));
    EXPECT_EQ(tlsPeer.received(), "GET /hourly HTTP/1.0\r\n\r\n");
    const std::u16string transcript = logOf(*window).text();
    EXPECT_NE(transcript.find(u"** Connceted.\r\n** TLS: TLSv1.3 "), std::u16string::npos);
    EXPECT_NE(transcript.find(u", certificate verified for 127.0.0.1.\r\nGET /hourly HTTP/1.0\r\n"),
              std::u16string::npos);
    EXPECT_NE(transcript.find(u"** Reciving...\r\nHTTP/1.0 200 OK\r\n\r\nsecure\r\n"
                              u"** Socket close.\r\n2024/03/05:07:09:11\r\n"),
              std::u16string::npos);
}

}  // namespace
}  // namespace tarven::test
