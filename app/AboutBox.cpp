#include "app/AboutBox.h"

#include <QEvent>
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

    for (int i = 0; i < 2; ++i) {
        const forms::Item& item = items[1 + i];
        auto* line = new QLabel(this);
        m_lines[i] = line;
        line->setObjectName(i == 0 ? QStringLiteral("version") : QStringLiteral("secondLine"));
        // The line is as high as the font needs: 8 units are a character's height.
        line->setGeometry(du.Rect(item.x, item.y, item.cx, item.cy).adjusted(0, -1, 0, 2));
    }

    const forms::Item& ok = items[3];
    m_ok = new QPushButton(this);
    m_ok->setObjectName(QString::number(ok.id));
    m_ok->setDefault(true);
    m_ok->setGeometry(du.Rect(ok.x, ok.y, ok.cx, ok.cy));
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept, Qt::DirectConnection);
    Retranslate();
}

void CAboutBox::Retranslate()
{
    setWindowTitle(Tr("AboutBox", strings::kAboutCaption));
    m_lines[0]->setText(Tr("AboutBox", strings::kAboutVersion));
    m_lines[1]->setText(Tr("AboutBox", strings::kAboutSecondLine));
    m_ok->setText(Tr("AboutBox", strings::kAboutOk));
}

void CAboutBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QDialog::changeEvent(event);
}

}  // namespace tarvo
