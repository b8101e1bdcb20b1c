// CAboutBox: the modal about box ("Tarvo 정보"): icon, version line, a second line and the
// "확인" button that closes it. Its texts follow the language in force.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tarvo {

class CAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit CAboutBox(QWidget* parent = nullptr);
    QPushButton* OkButton() const { return m_ok; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void Retranslate();

    QLabel* m_lines[2] = {nullptr, nullptr};
    QPushButton* m_ok = nullptr;
};

}  // namespace tarvo
