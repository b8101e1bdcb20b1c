#include "station/ComPortSet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QSet>

#include "controls/DialogUnits.h"
#include "resources/Forms.h"
#include "resources/Strings.h"
#include "serial/DeviceInfo.h"
#include "serial/PortDirectory.h"
#include "station/Profile.h"
#include "station/RowLogic.h"

namespace tarvo {
namespace {

// The device column beside each box, in dialog units, and how far the right-hand boxes move.
constexpr int kDeviceGap = 2;
constexpr int kDeviceWidth = 120;
constexpr int kDeviceHeight = 13;
constexpr int kColumnShift = 2 * kDeviceGap + kDeviceWidth - 10;

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
    const DialogUnits du(font());

    const QList<SerialDeviceChoice> devices = m_lister ? m_lister() : QList<SerialDeviceChoice>{};
    int groupRight = 0;
    int groupX = 0;
    for (const forms::Item& item : forms::kPortDialog) {
        // Boxes of the right-hand column move right to make room for the device column.
        const bool rightColumn = item.kind == forms::Kind::CheckBox && item.x > 100;
        const int x = rightColumn ? item.x + kColumnShift : item.x;
        switch (item.kind) {
        case forms::Kind::GroupBox: {
            auto* group = new QGroupBox(this);
            m_group = group;
            group->setObjectName(QString::number(item.id));
            group->setProperty("controlId", item.id);
            const int width = item.cx + kColumnShift + kDeviceGap + kDeviceWidth;
            group->setGeometry(du.Rect(item.x, item.y, width, item.cy));
            groupX = item.x;
            groupRight = item.x + width;
            break;
        }
        case forms::Kind::CheckBox: {
            const int n = item.id - forms::kIdPortBox1 + 1;
            auto* box = new QCheckBox(this);
            box->setObjectName(QString::number(item.id));
            box->setProperty("controlId", item.id);
            box->setGeometry(du.Rect(x, item.y, item.cx, item.cy));
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
            combo->setGeometry(du.Rect(x + item.cx + kDeviceGap, item.y - (kDeviceHeight - item.cy) / 2,
                                       kDeviceWidth, kDeviceHeight));
            m_devices[n - 1] = combo;
            break;
        }
        case forms::Kind::PushButton: {
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
            // The button pair stays centred under the wider group.
            const int shift = (groupRight + groupX - forms::kPortDialogWidth) / 2;
            button->setGeometry(du.Rect(item.x + shift, item.y, item.cx, item.cy));
            break;
        }
        default:
            break;
        }
    }
    setFixedSize(du.Size(groupRight + groupX, forms::kPortDialogHeight));
    Retranslate();
}

void CComPortSet::Retranslate()
{
    const char* context = "PortDialog";
    setWindowTitle(Tr(context, forms::kPortDialogCaption));
    for (const forms::Item& item : forms::kPortDialog) {
        const QString text = Tr(context, item.text);
        if (item.kind == forms::Kind::GroupBox)
            m_group->setTitle(text);
        else if (item.kind == forms::Kind::CheckBox)
            m_boxes[item.id - forms::kIdPortBox1]->setText(text);
        else if (item.id == forms::kIdOk)
            m_ok->setText(text);
        else if (item.id == forms::kIdCancel)
            m_cancel->setText(text);
    }
    for (int n = 1; n <= 8; ++n) {
        const QString fallback = QString::fromStdString(DefaultDevicePath(station::PortForRow(n)));
        m_devices[n - 1]->lineEdit()->setPlaceholderText(Tr(context, strings::kDeviceDefault).arg(fallback));
        UpdateDeviceTip(n);
    }
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
    PutBoxes();
    for (int n = 1; n <= 8; ++n) {
        m_devices[n - 1]->setCurrentText(profile::DeviceFor(station::PortForRow(n)));
        m_devices[n - 1]->lineEdit()->setCursorPosition(0);  // a long path shows its start
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
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(n), m_intPort[n - 1]);
}

void CComPortSet::accept()
{
    TakeBoxes();
    for (int n = 1; n <= 8; ++n)
        profile::SetDeviceFor(station::PortForRow(n), m_devices[n - 1]->currentText());
    QDialog::accept();
}

}  // namespace tarvo
