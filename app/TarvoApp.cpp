#include "app/TarvoApp.h"

#include <QApplication>

#include "app/AboutBox.h"
#include "app/MainFrm.h"
#include "controls/DialogUnits.h"
#include "resources/Forms.h"
#include "resources/Pictures.h"
#include "resources/Strings.h"

namespace tarvo {

void ConfigureApplication(QApplication& application)
{
    application.setApplicationName(QString::fromUtf8(strings::kAppTitle));
    application.setOrganizationName(QString::fromUtf8(strings::kProfileCompany));
    QApplication::setFont(FormFont(forms::kStationFontPoints));
    QApplication::setWindowIcon(pictures::AppIconSet());
}

CTarvoApp::CTarvoApp(ViewOptions options) : m_options(std::move(options)) {}

CTarvoApp::~CTarvoApp() = default;

bool CTarvoApp::InitInstance()
{
    m_frame = std::make_unique<CMainFrame>(m_options);
    QObject::connect(m_frame.get(), &CMainFrame::aboutRequested, m_frame.get(), [this] { OnAppAbout(); },
                     Qt::DirectConnection);
    m_frame->View()->OnInitialUpdate();
    m_frame->show();
    m_frame->repaint();
    return true;
}

void CTarvoApp::OnAppAbout()
{
    CAboutBox about(m_frame.get());
    about.exec();
}

}  // namespace tarvo
