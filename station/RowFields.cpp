#include "station/RowFields.h"

#include <QLabel>
#include <QProgressBar>
#include <QWidget>
#include <utility>

#include "controls/DialogUnits.h"
#include "controls/Label.h"
#include "resources/Forms.h"
#include "resources/Translate.h"

namespace tarvo {
namespace {

constexpr char kStation[] = "Station";

// The row logic's words (station/RowLogic.h), marked here for the translation tools; the row
// shows them through Tr(kStation, word).
[[maybe_unused]] constexpr const char* kRowWords[] = {
    QT_TRANSLATE_NOOP("Station", "CLOSE"),         QT_TRANSLATE_NOOP("Station", "READY"),
    QT_TRANSLATE_NOOP("Station", "ERASE"),         QT_TRANSLATE_NOOP("Station", "DOWNLOAD"),
    QT_TRANSLATE_NOOP("Station", "COMPLETE"),      QT_TRANSLATE_NOOP("Station", "ERROR"),
    QT_TRANSLATE_NOOP("Station", "INSERT TARGET"), QT_TRANSLATE_NOOP("Station", "Serial Port Open Failed..."),
    QT_TRANSLATE_NOOP("Station", "Erasing..."),    QT_TRANSLATE_NOOP("Station", "NO DEVICE - PLUG IN THE NEXT HANDSET"),
    QT_TRANSLATE_NOOP("Station", "HANDSET PLUGGED AT START - CLICK OR REPLUG"),
    QT_TRANSLATE_NOOP("Station", "Run ended without a result"),
    QT_TRANSLATE_NOOP("Station", "NOT STARTED - RECORD NOT WRITTEN"),
};
constexpr char kDownloading[] = QT_TRANSLATE_NOOP("Station", "Downloading : %1 %");

}  // namespace

void RowFields::Build(QWidget* view, int r, const DialogUnits& du)
{
    const forms::RowIds& ids = forms::kRowIds[r - 1];
    const int y = forms::kRowY[r - 1];

    portField = new QLabel(QString::number(r), view);
    portField->setAlignment(Qt::AlignCenter);
    portField->setGeometry(du.Rect(forms::kPortFieldX, y, forms::kPortFieldWidth, forms::kRowHeight));

    message = new CLabel(view);
    message->SetSunken(true);
    message->SetNotify(true);
    message->setGeometry(du.Rect(forms::kMessageX, y, forms::kMessageWidth, forms::kRowHeight));

    state = new CLabel(view);
    state->SetNotify(true);
    state->setGeometry(du.Rect(forms::kStateX, y, forms::kStateWidth, forms::kRowHeight));
    state->setCursor(Qt::PointingHandCursor);

    progress = new QProgressBar(view);
    progress->setTextVisible(false);
    progress->setAlignment(Qt::AlignCenter);
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setGeometry(du.Rect(forms::kProgressX, y, forms::kProgressWidth, forms::kRowHeight));

    const std::pair<QWidget*, int> named[] = {
        {portField, ids.portField}, {message, ids.message}, {state, ids.state}, {progress, ids.progress}};
    for (const auto& [widget, id] : named) {
        widget->setObjectName(QString::number(id));
        widget->setProperty("controlId", id);
    }
}

void RowFields::ShowState(const std::string& word)
{
    stateSource = word;
    state->SetText(Tr(kStation, stateSource.c_str()));
}

void RowFields::ShowMessage(const std::string& text, bool own, int percent)
{
    messageSource = text;
    messageOwn = own;
    messagePercent = percent;
    message->SetText(MessageText());
}

void RowFields::ShowNote(const QString& text, station::ColorRef colour, const QString& tip)
{
    messageSource = text.toStdString();
    messageOwn = false;
    messagePercent = -1;
    message->SetTextColor(colour);
    message->SetText(text);
    message->setToolTip(tip);
}

void RowFields::Retranslate()
{
    if (!stateSource.empty())
        state->SetText(Tr(kStation, stateSource.c_str()));
    if (messageOwn)
        message->SetText(MessageText());
}

QString RowFields::MessageText() const
{
    if (!messageOwn)
        return QString::fromStdString(messageSource);
    if (messagePercent >= 0)
        return Tr(kStation, kDownloading).arg(messagePercent);
    return Tr(kStation, messageSource.c_str());
}

}  // namespace tarvo
