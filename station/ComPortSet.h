// CComPortSet: the "COM PORT SETTING" dialog. Eight boxes "PORT 1".."PORT 8" choose the rows
// that take part; each row's flag lives in the profile ("Port"/"m_intPort<N>").
//
// The boxes write through: the first opening of the dialog on a fresh profile stores 1 for
// all eight keys at once, and every click stores the clicked box's key at once. OK keeps what
// was stored (the view applies the flags after OK); CANCEL (the button, Escape or closing the
// dialog) puts every box's and device's key back as it was when the dialog opened.
// A box or device the administrator's file sets (station/Profile.h) is disabled, its tooltip
// naming that file.
//
// Each box names its row and COM port ("PORT 1 (COM5)"). Beside it an editable list names the
// serial device of that COM port ("Device"/"COM<N+4>"): stable /dev/serial/by-path and by-id
// names first, then the devices the system lists. A device field writes through like its box:
// picking an entry or leaving the edited field stores it at once (OK stores a field still
// being edited); an empty entry means the default device /dev/ttyS<N-1>. A setting that
// cannot be saved is shown in red under the boxes and announced by saveFailed().
//
// The dialog is never wider than the station form, so it fits beside the main window.
//
// Threading: a widget; GUI thread only.
#pragma once

#include <QDialog>
#include <QStringList>
#include <array>
#include <functional>
#include <utility>
#include <vector>

#include <QVariant>

class QCheckBox;
class QComboBox;
class QLabel;
class QGroupBox;
class QPushButton;

namespace tarvo {

struct SerialDeviceChoice {
    QString path;         // what the list stores, e.g. /dev/serial/by-id/usb-...
    QString description;  // what it is, shown as the entry's tooltip
};

// Serial devices of this machine: the links in /dev/serial/by-path and /dev/serial/by-id
// (stable across reboots and re-plugging), then every port QSerialPortInfo lists.
QList<SerialDeviceChoice> ListSerialDevices();

class CComPortSet : public QDialog {
    Q_OBJECT
public:
    using DeviceLister = std::function<QList<SerialDeviceChoice>()>;

    explicit CComPortSet(QWidget* parent = nullptr, DeviceLister lister = ListSerialDevices);

    // Reads the flags from the profile into the members and the boxes (done when the dialog
    // is first shown).
    void OnInitDialog();

    // The member of box N (1..8): 0 unchecked, 1 checked.
    int Member(int n) const { return m_intPort[n - 1]; }
    QCheckBox* PortBox(int n) const { return m_boxes[n - 1]; }
    QComboBox* DeviceBox(int n) const { return m_devices[n - 1]; }
    QPushButton* OkButton() const { return m_ok; }
    QPushButton* CancelButton() const { return m_cancel; }

    void accept() override;
    void reject() override;

signals:
    // A setting could not be saved; `problem` names the file and the reason.
    void saveFailed(const QString& problem);

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Sets every text again in the language in force.
    void Retranslate();
    void LayOut();
    // The device box's tooltip of row n: the COM port, the default device and what is
    // plugged in behind the chosen name now.
    void UpdateDeviceTip(int n);
    void OnPortClicked(int n);
    void OnDeviceChosen(int n);
    void Saved(bool ok);
    void TakeBoxes();
    void PutBoxes();

    // The operator's profile as the dialog found it: each key's stored value (invalid: absent).
    std::vector<std::pair<QString, QVariant>> m_before;
    std::array<int, 8> m_intPort{};
    std::array<QCheckBox*, 8> m_boxes{};
    std::array<QComboBox*, 8> m_devices{};
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    QLabel* m_saveProblem = nullptr;
    QGroupBox* m_group = nullptr;
    DeviceLister m_lister;
    bool m_initialised = false;
};

}  // namespace tarvo
