#include "ui/qt/AboutBox.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "ui/qt/DialogUnits.h"
#include "ui/resources/DialogTemplates.h"

namespace tarven {

namespace t = templates;

QPoint aboutBoxPosition(const QRect& ownerClient, QSize ownSize) {
    const int x = ownerClient.left() + (ownerClient.width() - ownSize.width()) / 2;
    const int y = ownerClient.top() + (ownerClient.height() - ownSize.height()) / 2;
    return {std::max(x, 0), std::max(y, 0)};
}

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QString::fromUtf8(t::kAboutBoxCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFont(dialogFont(t::kAboutBoxFontPoints));
    const QSize base = dialogBaseUnits(font());
    setFixedSize(toPixels({0, 0, t::kAboutBoxWidth, t::kAboutBoxHeight}, base).size());

    auto* icon = new QLabel(this);
    icon->setGeometry(toPixels(t::kAboutIcon.rect, base));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    icon->setPixmap(QIcon(t::kIcon101Large).pixmap(32, 32));

    for (const t::ControlTemplate& line : {t::kAboutVersion, t::kAboutOrigin}) {
        auto* label = new QLabel(QString::fromUtf8(line.text), this);
        label->setGeometry(toPixels(line.rect, base));
    }

    auto* ok = new QPushButton(QString::fromUtf8(t::kAboutOk.text), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry(toPixels(t::kAboutOk.rect, base));
    ok->setDefault(true);  // Enter is command 1 too
    connect(ok, &QPushButton::clicked, this, [this] { done(kOkCommand); });
}

void AboutBox::reject() {
    done(kCancelCommand);
}

void AboutBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Placed once the box has its outer size, over the owner wherever that stands.
    if (QWidget* owner = parentWidget()) {
        const QRect client(owner->mapToGlobal(QPoint(0, 0)), owner->size());
        move(aboutBoxPosition(client, frameGeometry().size()));
    }
}

}  // namespace tarven
