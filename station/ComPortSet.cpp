#include "station/ComPortSet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSet>
#include <QSettings>

#include <algorithm>

#include "controls/DialogUnits.h"
#include "resources/Forms.h"
#include "resources/Strings.h"
#include "serial/DeviceInfo.h"
#include "serial/PortDirectory.h"
#include "station/Profile.h"
#include "station/RowLogic.h"

namespace tarvo {
namespace {

// The device field beside each box, in dialog units: gap, widest width, height.
constexpr int kDeviceGap = 2;
constexpr int kDeviceWidth = 120;
constexpr int kDeviceHeight = 13;

// What sysfs tells about the device behind `path`: its USB socket (bus-port path), vendor,
// product, serial number and driver, so the engineer can tell which socket a row drives.
QString Details(const QString& path)
{
    const SerialDeviceInfo info = DescribeSerialDevice(QFile::encodeName(path).toStdString());
    return QString::fromStdString(info.Summary());
}

void AddLinks(const QString& folder, QList<SerialDeviceChoice>& out, QSet<QString>& seen)
{
    const QDir dir(folder);
    const QFileInfoList links = dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& link : links) {
        const QString path = link.absoluteFilePath();
        if (seen.contains(path))
            continue;
        seen.insert(path);
        QString description = QStringLiteral("-> %1").arg(link.canonicalFilePath());
        const QString details = Details(path);
        if (!details.isEmpty())
            description += QStringLiteral(": ") + details;
        out.push_back({path, description});
    }
}

}  // namespace

QList<SerialDeviceChoice> ListSerialDevices()
{
    QList<SerialDeviceChoice> devices;
    QSet<QString> seen;
    AddLinks(QStringLiteral("/dev/serial/by-path"), devices, seen);
    AddLinks(QStringLiteral("/dev/serial/by-id"), devices, seen);
    // The kernel's names, with their stable names and hardware.
    for (const SerialDeviceInfo& info : FindSerialDevices()) {
        const QString path = QString::fromStdString(info.devicePath);
        if (seen.contains(path))
            continue;
        seen.insert(path);
        QString description = QString::fromStdString(info.Summary());
        for (const std::string& link : info.byPath)
            description += QStringLiteral("\n") + QString::fromStdString(link);
        for (const std::string& link : info.byId)
            description += QStringLiteral("\n") + QString::fromStdString(link);
        devices.push_back({path, description});
    }
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        if (seen.contains(path))
            continue;
        seen.insert(path);
        QStringList about;
        for (const QString& part : {info.description(), info.manufacturer(), info.serialNumber()}) {
            if (!part.isEmpty())
                about << part;
        }
        devices.push_back({path, about.join(QStringLiteral(", "))});
    }
    return devices;
}

CComPortSet::CComPortSet(QWidget* parent, DeviceLister lister) : QDialog(parent), m_lister(std::move(lister))
{
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(FormFont(forms::kPortDialogFontPoints));

    const QList<SerialDeviceChoice> devices = m_lister ? m_lister() : QList<SerialDeviceChoice>{};
    m_group = new QGroupBox(this);
    m_group->setObjectName(QString::number(forms::kIdPortGroup));
    m_group->setProperty("controlId", forms::kIdPortGroup);
    for (int n = 1; n <= 8; ++n) {
        const int id = forms::kIdPortBox1 + n - 1;
        auto* box = new QCheckBox(this);
        box->setObjectName(QString::number(id));
        box->setProperty("controlId", id);
        connect(box, &QCheckBox::clicked, this, [this, n] { OnPortClicked(n); }, Qt::DirectConnection);
        m_boxes[n - 1] = box;

        const int port = station::PortForRow(n);
        auto* combo = new QComboBox(this);
        combo->setObjectName(QStringLiteral("COM%1").arg(port));
        combo->setProperty("portNumber", port);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // The tooltip also tells what is plugged in behind the chosen name now.
        connect(combo, &QComboBox::currentTextChanged, this, [this, n] { UpdateDeviceTip(n); },
                Qt::DirectConnection);
        for (const SerialDeviceChoice& device : devices) {
            combo->addItem(device.path);
            combo->setItemData(combo->count() - 1, device.description, Qt::ToolTipRole);
        }
        // Stored like the box beside it: at once, when the operator picks an entry or leaves
        // the edited field.
        connect(combo, &QComboBox::activated, this, [this, n] { OnDeviceChosen(n); }, Qt::DirectConnection);
        connect(combo->lineEdit(), &QLineEdit::editingFinished, this, [this, n] { OnDeviceChosen(n); },
                Qt::DirectConnection);
        m_devices[n - 1] = combo;
    }
    for (const forms::Item& item : forms::kPortDialog) {
        if (item.kind != forms::Kind::PushButton)
            continue;
        auto* button = new QPushButton(this);
        button->setObjectName(QString::number(item.id));
        button->setProperty("controlId", item.id);
        if (item.id == forms::kIdOk) {
            button->setDefault(true);
            m_ok = button;
            connect(button, &QPushButton::clicked, this, &CComPortSet::accept, Qt::DirectConnection);
        } else {
            m_cancel = button;
            connect(button, &QPushButton::clicked, this, &CComPortSet::reject, Qt::DirectConnection);
        }
    }
    // A setting that cannot be saved is said here, under the boxes.
    m_saveProblem = new QLabel(this);
    m_saveProblem->setObjectName(QStringLiteral("saveProblem"));
    m_saveProblem->setStyleSheet(QStringLiteral("color: red"));
    m_saveProblem->hide();
    Retranslate();
}

void CComPortSet::LayOut()
{
    // The form's two columns of boxes, each box followed by its device field. The dialog is
    // at most as wide as the station form, so it fits beside the main window; the device
    // fields take what the boxes leave. Box captions depend on the language, so this runs
    // again after every change of it.
    const DialogUnits du(font());
    const int maxWidth = DialogUnits(FormFont(forms::kStationFontPoints)).X(forms::kStationWidth);
    int boxWidth = 0;
    for (QCheckBox* box : m_boxes)
        boxWidth = std::max(boxWidth, box->sizeHint().width());
    const int margin = du.X(13);
    const int inner = du.X(8);
    const int gap = du.X(kDeviceGap);
    const int columnGap = du.X(10);
    const int deviceWidth =
        std::clamp((maxWidth - 2 * margin - 2 * inner - columnGap) / 2 - boxWidth - gap, du.X(40), du.X(kDeviceWidth));
    const int columnWidth = boxWidth + gap + deviceWidth;
    const int groupWidth = 2 * inner + 2 * columnWidth + columnGap;
    const int width = groupWidth + 2 * margin;

    m_group->setGeometry(margin, du.Y(7), groupWidth, du.Y(97));
    m_group->lower();
    const int rowY[4] = {28, 45, 61, 78};
    const int deviceHeight = std::max(du.Y(kDeviceHeight), m_devices[0]->sizeHint().height());
    for (int n = 1; n <= 8; ++n) {
        const int column = n <= 4 ? 0 : 1;
        const int x = margin + inner + column * (columnWidth + columnGap);
        const int centre = du.Y(rowY[(n - 1) % 4]) + du.Y(10) / 2;
        const int boxHeight = m_boxes[n - 1]->sizeHint().height();
        m_boxes[n - 1]->setGeometry(x, centre - boxHeight / 2, boxWidth, boxHeight);
        m_devices[n - 1]->setGeometry(x + boxWidth + gap, centre - deviceHeight / 2, deviceWidth, deviceHeight);
    }
    m_saveProblem->setGeometry(margin, du.Y(105), groupWidth, du.Y(10));
    // The button pair keeps its distance and stays centred under the group.
    const int left = (width - du.X(154 - 30)) / 2;
    m_ok->setGeometry(left, du.Y(116), du.X(50), du.Y(14));
    m_cancel->setGeometry(left + du.X(104 - 30), du.Y(116), du.X(50), du.Y(14));
    setFixedSize(width, du.Y(forms::kPortDialogHeight));
}

void CComPortSet::Retranslate()
{
    const char* context = "PortDialog";
    setWindowTitle(Tr(context, forms::kPortDialogCaption));
    for (const forms::Item& item : forms::kPortDialog) {
        const QString text = Tr(context, item.text);
        if (item.kind == forms::Kind::GroupBox) {
            m_group->setTitle(text);
        } else if (item.kind == forms::Kind::CheckBox) {
            // Each box names the COM port its row drives: "PORT 1 (COM5)".
            const int n = item.id - forms::kIdPortBox1 + 1;
            m_boxes[n - 1]->setText(QStringLiteral("%1 (COM%2)").arg(text).arg(station::PortForRow(n)));
        } else if (item.id == forms::kIdOk) {
            m_ok->setText(text);
        } else if (item.id == forms::kIdCancel) {
            m_cancel->setText(text);
        }
    }
    for (int n = 1; n <= 8; ++n) {
        const QString fallback = QString::fromStdString(DefaultDevicePath(station::PortForRow(n)));
        m_devices[n - 1]->lineEdit()->setPlaceholderText(Tr(context, strings::kDeviceDefault).arg(fallback));
        UpdateDeviceTip(n);
    }
    LayOut();
}

void CComPortSet::UpdateDeviceTip(int n)
{
    QComboBox* combo = m_devices[n - 1];
    if (!combo)
        return;  // still being built; the constructor sets the tip when done
    const int port = station::PortForRow(n);
    const QString fallback = QString::fromStdString(DefaultDevicePath(port));
    QString tip = Tr("PortDialog", strings::kDeviceTip).arg(port).arg(n).arg(fallback);
    const QString text = combo->currentText();
    const QString path = text.isEmpty() ? fallback : text;
    const std::string resolved = ResolveDevicePath(QFile::encodeName(path).toStdString());
    if (resolved.empty())
        tip += QStringLiteral("\n") + tr("Nothing plugged in at %1").arg(path);
    else if (const QString details = Details(path); !details.isEmpty())
        tip += QStringLiteral("\n") + tr("Now: %1, %2").arg(QString::fromStdString(resolved), details);
    else
        tip += QStringLiteral("\n") + tr("Now: %1").arg(QString::fromStdString(resolved));
    if (profile::IsLocked(profile::kDeviceSection, profile::DeviceKey(port)))
        tip = profile::LockedTip() + QStringLiteral("\n") + tip;
    combo->setToolTip(tip);
}

void CComPortSet::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QDialog::changeEvent(event);
}

void CComPortSet::showEvent(QShowEvent* event)
{
    if (!m_initialised)
        OnInitDialog();
    QDialog::showEvent(event);
}

void CComPortSet::OnInitDialog()
{
    m_initialised = true;
    const int first = profile::ReadInt(profile::kPortSection, profile::PortFlagKey(1), 2);
    if (first == 2) {
        // No flags stored yet: every row takes part, stored at once.
        for (int n = 1; n <= 8; ++n) {
            m_intPort[n - 1] = 1;
            profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), 1);
        }
    } else {
        for (int n = 1; n <= 8; ++n)
            m_intPort[n - 1] = profile::ReadInt(profile::kPortSection, profile::PortFlagKey(n), 0);
    }
    // What CANCEL puts back.
    m_before.clear();
    {
        const auto settings = profile::Open();
        for (int n = 1; n <= 8; ++n) {
            for (const QString& path : {QLatin1String(profile::kPortSection) + QLatin1Char('/') + profile::PortFlagKey(n),
                                        QLatin1String(profile::kDeviceSection) + QLatin1Char('/') +
                                            profile::DeviceKey(station::PortForRow(n))})
                m_before.emplace_back(path, settings->value(path));
        }
    }
    PutBoxes();
    for (int n = 1; n <= 8; ++n) {
        m_devices[n - 1]->setCurrentText(profile::DeviceFor(station::PortForRow(n)));
        m_devices[n - 1]->lineEdit()->setCursorPosition(0);  // a long path shows its start
        if (profile::IsLocked(profile::kPortSection, profile::PortFlagKey(n))) {
            m_boxes[n - 1]->setEnabled(false);
            m_boxes[n - 1]->setToolTip(profile::LockedTip());
        }
        if (profile::IsLocked(profile::kDeviceSection, profile::DeviceKey(station::PortForRow(n)))) {
            m_devices[n - 1]->setEnabled(false);
            UpdateDeviceTip(n);
        }
    }
}

void CComPortSet::PutBoxes()
{
    // Only 1 shows as checked: the view enables a row for 1 alone.
    for (int n = 1; n <= 8; ++n)
        m_boxes[n - 1]->setChecked(m_intPort[n - 1] == 1);
}

void CComPortSet::TakeBoxes()
{
    for (int n = 1; n <= 8; ++n)
        m_intPort[n - 1] = m_boxes[n - 1]->isChecked() ? 1 : 0;
}

void CComPortSet::OnPortClicked(int n)
{
    TakeBoxes();
    Saved(profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), m_intPort[n - 1]));
}

void CComPortSet::OnDeviceChosen(int n)
{
    if (!m_initialised)
        return;
    const int port = station::PortForRow(n);
    const QString chosen = m_devices[n - 1]->currentText().trimmed();
    if (chosen == profile::DeviceFor(port))
        return;
    Saved(profile::SetDeviceFor(port, chosen));
}

void CComPortSet::Saved(bool ok)
{
    if (ok)
        return;
    const QString problem = profile::SaveProblem();
    m_saveProblem->setText(problem);
    m_saveProblem->setToolTip(problem);
    m_saveProblem->show();
    emit saveFailed(problem);
}

void CComPortSet::accept()
{
    TakeBoxes();
    // A field still being edited is stored like one that was left.
    for (int n = 1; n <= 8; ++n)
        OnDeviceChosen(n);
    QDialog::accept();
}

void CComPortSet::reject()
{
    if (m_initialised) {
        const auto settings = profile::Open();
        for (const auto& [path, value] : m_before) {
            if (value.isValid())
                settings->setValue(path, value);
            else
                settings->remove(path);
        }
        settings->sync();
        Saved(settings->status() == QSettings::NoError);
    }
    QDialog::reject();
}

}  // namespace tarvo
