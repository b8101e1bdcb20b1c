// CTarvoApp: start-up of the station program: application font and icon, the main frame with
// its view, the view's initial update, then the frame on screen. Also the about command.
#pragma once

#include <memory>

#include "station/TarvoView.h"

class QApplication;

namespace tarvo {

class CMainFrame;

// Settings of the application object every window relies on: the form font as default font
// (the fields' default font), the window icon.
void ConfigureApplication(QApplication& application);

class CTarvoApp {
public:
    explicit CTarvoApp(ViewOptions options = {});
    ~CTarvoApp();

    // Creates the frame and the view, runs the view's initial update and shows the frame.
    bool InitInstance();
    // Shows the about box modally.
    void OnAppAbout();
    CMainFrame* Frame() const { return m_frame.get(); }

private:
    ViewOptions m_options;
    std::unique_ptr<CMainFrame> m_frame;
};

}  // namespace tarvo
