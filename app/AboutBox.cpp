#include "app/AboutBox.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "controls/DialogUnits.h"
#include "resources/Forms.h"
#include "resources/Pictures.h"
#include "resources/Strings.h"

namespace tarvo {

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QString::fromUtf8(strings::kAboutCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(FormFont(forms::kAboutFontPoints));
    const DialogUnits du(font());
    setFixedSize(du.Size(forms::kAboutWidth, forms::kAboutHeight));

    const auto& items = forms::kAboutBox;
    const QRect iconRect = du.Rect(items[0].x, items[0].y, items[0].cx, items[0].cy);
    auto* icon = new QLabel(this);
    icon->setPixmap(pictures::AppIcon(std::min(iconRect.width(), iconRect.height())));
    icon->setGeometry(iconRect);

    const char* texts[] = {strings::kAboutVersion, strings::kAboutSecondLine};
    for (int i = 0; i < 2; ++i) {
        const forms::Item& item = items[1 + i];
        auto* line = new QLabel(QString::fromUtf8(texts[i]), this);
        line->setObjectName(i == 0 ? QStringLiteral("version") : QStringLiteral("secondLine"));
        // The line is as high as the font needs: 8 units are a character's height.
        line->setGeometry(du.Rect(item.x, item.y, item.cx, item.cy).adjusted(0, -1, 0, 2));
    }

    const forms::Item& ok = items[3];
    m_ok = new QPushButton(QString::fromUtf8(strings::kAboutOk), this);
    m_ok->setObjectName(QString::number(ok.id));
    m_ok->setDefault(true);
    m_ok->setGeometry(du.Rect(ok.x, ok.y, ok.cx, ok.cy));
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept, Qt::DirectConnection);
}

}  // namespace tarvo
