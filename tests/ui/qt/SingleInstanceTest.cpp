#include "ui/qt/SingleInstance.h"

#include <gtest/gtest.h>

#include <QLockFile>
#include <QSignalSpy>
#include <QTest>

#include "support/TempDir.h"

namespace tarven::test {
namespace {

using Start = SingleInstance::Start;

TEST(SingleInstance, ALaterStartTellsTheFirstToShowAndTheFirstsEndFreesThePlace) {
    TempDir folder;
    const QString path = QString::fromStdString(folder.path().string());
    {
        SingleInstance first(path);
        ASSERT_EQ(first.start(), Start::first);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        for (int later = 1; later <= 2; ++later) {
            SingleInstance second(path);
            EXPECT_EQ(second.start(), Start::shownOther);
            EXPECT_TRUE(QTest::qWaitFor([&] { return shown.count() == later; }, 5000)) << later;
        }
    }
    SingleInstance next(path);
    EXPECT_EQ(next.start(), Start::first);
}

// A lock whose holder does not listen (still starting, or hung): the later start gives up.
TEST(SingleInstance, ALockWithoutAListenerIsReportedNotTakenOver) {
    TempDir folder;
    const QString path = QString::fromStdString(folder.path().string());
    QLockFile held(path + QStringLiteral("/tarven.lock"));
    held.setStaleLockTime(0);
    ASSERT_TRUE(held.tryLock(0));
    SingleInstance later(path);
    EXPECT_EQ(later.start(), Start::otherSilent);
}

}  // namespace
}  // namespace tarven::test
