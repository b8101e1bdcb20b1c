// CAboutBox: the modal about box ("Tarvo 정보"): icon, version line, a second line and the
// "확인" button that closes it.
#pragma once

#include <QDialog>

class QPushButton;

namespace tarvo {

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
    QPushButton* OkButton() const { return m_ok; }

private:
    QPushButton* m_ok = nullptr;
};

}  // namespace tarvo
