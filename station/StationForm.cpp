#include "station/StationForm.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>

#include "controls/DialogUnits.h"
#include "controls/Label.h"
#include "controls/RoundButton.h"
#include "resources/Forms.h"
#include "resources/Pictures.h"
#include "resources/Translate.h"

namespace tarvo {

StationFormWidgets BuildStationForm(QWidget* view)
{
    StationFormWidgets form;
    const DialogUnits du(view->font());
    view->setFixedSize(du.Size(forms::kStationWidth, forms::kStationHeight));

    for (const forms::Item& item : forms::kStationForm) {
        const QRect rect = du.Rect(item.x, item.y, item.cx, item.cy);
        const QString text = Tr("StationForm", item.text);
        QWidget* widget = nullptr;
        switch (item.kind) {
        case forms::Kind::GroupBox:
            widget = new QGroupBox(text, view);
            break;
        case forms::Kind::Text: {
            auto* label = new QLabel(text, view);
            label->setAlignment(Qt::AlignCenter);
            widget = label;
            break;
        }
        case forms::Kind::Picture: {
            auto* picture = new QLabel(view);
            picture->setPixmap(item.id == forms::kIdBanner ? pictures::Banner(rect.size())
                                                           : pictures::StationPicture(rect.size()));
            widget = picture;
            break;
        }
        case forms::Kind::Label: {
            auto* label = new CLabel(view);
            label->SetSunken(true);
            if (item.id == forms::kIdClock)
                form.clock = label;
            else
                form.pathLine = label;
            widget = label;
            break;
        }
        case forms::Kind::RoundButton: {
            auto* button = new CRoundButton(text, view);
            button->setGeometry(rect);
            button->Attach();
            button->setFocusPolicy(Qt::TabFocus);
            if (item.id == forms::kIdExit) {
                form.buttons[0] = button;
            } else if (item.id == forms::kIdComPortSetting) {
                form.buttons[1] = button;
            } else if (item.id == forms::kIdOpenCloseAll) {
                form.buttons[2] = button;
                button->setEnabled(false);
            } else {
                form.buttons[3] = button;
            }
            widget = button;
            break;
        }
        default:
            break;
        }
        if (!widget)
            continue;
        widget->setObjectName(QString::number(item.id));
        widget->setProperty("controlId", item.id);
        if (item.text[0] != '\0')
            form.texts.emplace_back(widget, item.text);
        if (item.kind != forms::Kind::RoundButton)
            widget->setGeometry(rect);
    }
    return form;
}

void RetranslateStationForm(const std::vector<std::pair<QWidget*, const char*>>& texts)
{
    for (const auto& [widget, source] : texts) {
        const QString text = Tr("StationForm", source);
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(text);
        else if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(text);
    }
}

}  // namespace tarvo
