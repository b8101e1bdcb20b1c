// Helpers of the operator tests (languages, engineer lock, sounds, unit labels): a clock the
// test moves by hand, a sound player that counts, and every text a window shows.
#pragma once

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>
#include <atomic>
#include <vector>

#include "controls/Label.h"
#include "engine/Clock.h"
#include "station/Sound.h"

namespace tarvo::test {

// Milliseconds that pass only when the test says so.
class ManualClock final : public IClock {
public:
    uint32_t TickMs() const override { return m_now.load(); }
    void SleepMs(uint32_t ms) override { m_now += ms; }
    bool WaitForData(CComm&, uint32_t ms) override
    {
        m_now += ms;
        return false;
    }
    void Advance(uint32_t ms) { m_now += ms; }

private:
    std::atomic<uint32_t> m_now{1000};
};

class CountingSound final : public ISoundPlayer {
public:
    void Play(ResultSound sound) override { played.push_back(sound); }
    int Count(ResultSound sound) const
    {
        int n = 0;
        for (ResultSound s : played)
            n += s == sound ? 1 : 0;
        return n;
    }
    std::vector<ResultSound> played;
};

// One text a window shows, and where.
struct ShownText {
    QString where;
    QString text;
};

inline void AddText(std::vector<ShownText>& out, const QString& where, const QString& text)
{
    if (!text.trimmed().isEmpty())
        out.push_back({where, text});
}

inline void AddMenuTexts(std::vector<ShownText>& out, QMenu* menu)
{
    AddText(out, QStringLiteral("menu ") + menu->objectName(), menu->title());
    for (QAction* action : menu->actions()) {
        if (action->isSeparator())
            continue;
        if (action->menu()) {
            AddText(out, QStringLiteral("menu tip ") + action->menu()->title(), action->statusTip());
            // The language menu lists each language by its own name.
            if (action->menu()->objectName() == QLatin1String("language")) {
                AddText(out, QStringLiteral("menu ") + action->menu()->title(), action->menu()->title());
                for (QAction* item : action->menu()->actions()) {
                    if (item->data().toString().isEmpty())
                        AddText(out, QStringLiteral("language default"), item->text());
                }
                continue;
            }
            AddMenuTexts(out, action->menu());
            continue;
        }
        AddText(out, QStringLiteral("action ") + action->objectName(), action->text());
        AddText(out, QStringLiteral("prompt ") + action->objectName(), action->statusTip());
    }
}

// Every caption, label, button, group title, menu item and prompt of `root` and its children.
inline std::vector<ShownText> TextsOf(QWidget* root)
{
    std::vector<ShownText> out;
    if (root->isWindow())
        AddText(out, QStringLiteral("caption ") + root->metaObject()->className(), root->windowTitle());
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        const QString where = QStringLiteral("%1 %2").arg(QString::fromLatin1(widget->metaObject()->className()),
                                                         widget->objectName());
        if (auto* label = qobject_cast<CLabel*>(widget))
            AddText(out, where, label->Text());
        else if (auto* plain = qobject_cast<QLabel*>(widget))
            AddText(out, where, plain->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            AddText(out, where, button->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            AddText(out, where, group->title());
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            AddText(out, where + QStringLiteral(" placeholder"), edit->placeholderText());
        else if (auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model()) {
            // Column captions of tables and trees.
            const QAbstractItemModel* model = view->model();
            for (int c = 0; c < model->columnCount(); ++c)
                AddText(out, where + QStringLiteral(" column"), model->headerData(c, Qt::Horizontal).toString());
        }
        if (widget != root && widget->isWindow() && !qobject_cast<QMenu*>(widget))
            AddText(out, QStringLiteral("caption ") + where, widget->windowTitle());
        AddText(out, where + QStringLiteral(" tooltip"), widget->toolTip());
    }
    if (auto* menuBar = root->findChild<QMenuBar*>()) {
        for (QAction* action : menuBar->actions()) {
            if (action->menu())
                AddMenuTexts(out, action->menu());
        }
    }
    return out;
}

inline bool HasHangul(const QString& text)
{
    for (const QChar c : text) {
        if ((c.unicode() >= 0xAC00 && c.unicode() <= 0xD7A3) || (c.unicode() >= 0x1100 && c.unicode() <= 0x11FF) ||
            (c.unicode() >= 0x3130 && c.unicode() <= 0x318F))
            return true;
    }
    return false;
}

}  // namespace tarvo::test
