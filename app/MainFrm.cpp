#include "app/MainFrm.h"

#include <QAction>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimerEvent>
#include <QtDebug>

#include "app/LockKeys.h"
#include "app/Marquee.h"
#include "resources/Pictures.h"
#include "resources/Strings.h"

namespace tarvo {
namespace {

// The marquee position, shared by every marquee step of the process.
std::size_t g_marqueePosition = 0;

// "prompt\ntooltip" -> the two parts.
std::pair<QString, QString> Prompt(const char* text)
{
    const QString all = QString::fromUtf8(text);
    const qsizetype split = all.indexOf(QLatin1Char('\n'));
    if (split < 0)
        return {all, QString()};
    return {all.left(split), all.mid(split + 1)};
}

}  // namespace

CMainFrame::CMainFrame(ViewOptions options, QWidget* parent) : QMainWindow(parent)
{
    // Caption, system menu and minimize box only: no sizing border, no maximize box, and the
    // caption never carries a document title.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(pictures::AppIconSet());
    move(0, 0);
    resize(strings::kFrameInitialWidth, strings::kFrameInitialHeight);

    m_view = new CTarvoView(this, std::move(options));
    setCentralWidget(m_view);
    connect(m_view, &CTarvoView::fitFrameRequested, this, &CMainFrame::FitToForm, Qt::DirectConnection);
    connect(m_view, &CTarvoView::statusMessage, this, &CMainFrame::ShowStatusMessage, Qt::DirectConnection);
    connect(m_view, &CTarvoView::statusProblem, this, &CMainFrame::ShowStatusProblem, Qt::DirectConnection);

    CreateMenus();
    if (!CreateStatusBar())
        qWarning("%s", strings::kStatusBarFailed);
    setWindowTitle(QString::fromUtf8(strings::kFrameCaption));

    m_marquee = MarqueeText(strings::kMarqueeMessage);
    m_marqueeTimer.start(kMarqueePeriodMs, this);
}

void CMainFrame::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QString::fromUtf8(strings::kMenuFile));
    m_open = file->addAction(QString::fromUtf8(strings::kMenuOpen));
    m_open->setObjectName(QString::number(strings::kCmdFileOpen));
    m_open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_open->setShortcutContext(Qt::WindowShortcut);
    m_open->setStatusTip(Prompt(strings::kOpenPrompt).first);
    m_open->setToolTip(Prompt(strings::kOpenPrompt).second);
    // The view's file selection takes the command.
    connect(m_open, &QAction::triggered, m_view, &CTarvoView::SelectMainSoftware, Qt::DirectConnection);

    m_exit = file->addAction(QString::fromUtf8(strings::kMenuExit));
    m_exit->setObjectName(QString::number(strings::kCmdAppExit));
    m_exit->setStatusTip(Prompt(strings::kExitPrompt).first);
    m_exit->setToolTip(Prompt(strings::kExitPrompt).second);
    connect(m_exit, &QAction::triggered, this, &QWidget::close, Qt::DirectConnection);

    QMenu* help = menuBar()->addMenu(QString::fromUtf8(strings::kMenuHelp));
    m_about = help->addAction(QString::fromUtf8(strings::kMenuAbout));
    m_about->setObjectName(QString::number(strings::kCmdAppAbout));
    m_about->setStatusTip(Prompt(strings::kAboutPrompt).first);
    connect(m_about, &QAction::triggered, this, &CMainFrame::aboutRequested, Qt::DirectConnection);
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    if (!bar)
        return false;
    bar->setSizeGripEnabled(false);

    const QString identifier = QString::fromUtf8(strings::kStatusIdentifier);
    m_messagePane = new QLabel(identifier, bar);
    m_messagePane->setObjectName(QStringLiteral("57346"));
    m_messagePane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_messagePane->setFixedWidth(m_messagePane->fontMetrics().horizontalAdvance(identifier) + 8);
    bar->addWidget(m_messagePane);

    auto* separator = new QLabel(bar);
    separator->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bar->addWidget(separator, 1);

    const char* locks[] = {strings::kCaps, strings::kNum, strings::kScrl};
    const int ids[] = {59137, 59138, 59139};
    for (int i = 0; i < 3; ++i) {
        auto* pane = new QLabel(bar);
        pane->setObjectName(QString::number(ids[i]));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        pane->setFixedWidth(pane->fontMetrics().horizontalAdvance(QString::fromUtf8(locks[i])) + 10);
        bar->addPermanentWidget(pane);
        m_lockPanes[i] = pane;
    }
    UpdateLockPanes();
    // A standing problem comes back whenever a passing message or menu prompt is gone.
    connect(bar, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty() && !m_problem.isEmpty())
            statusBar()->showMessage(m_problem);
    }, Qt::QueuedConnection);
    return true;
}

void CMainFrame::FitToForm()
{
    // Shrink only: the frame keeps its top-left corner and becomes as large as the form with
    // menu and status bar need, never larger than it was; then it stays at that size.
    if (QLayout* frameLayout = layout())
        frameLayout->activate();
    const QSize need = sizeHint().expandedTo(minimumSizeHint());
    const QSize fitted(std::min(width(), need.width()), std::min(height(), need.height()));
    setFixedSize(fitted);
}

void CMainFrame::ShowStatusMessage(const QString& text)
{
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text, 30000);
}

void CMainFrame::ShowStatusProblem(const QString& text)
{
    m_problem = text;
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text);
}

void CMainFrame::UpdateLockPanes()
{
    const LockKey keys[] = {LockKey::Caps, LockKey::Num, LockKey::Scroll};
    const char* texts[] = {strings::kCaps, strings::kNum, strings::kScrl};
    for (int i = 0; i < 3; ++i)
        m_lockPanes[i]->setText(m_lockKeys.IsOn(keys[i]) ? QString::fromUtf8(texts[i]) : QString());
}

void CMainFrame::OnMarqueeTimer()
{
    const std::size_t from = MarqueeStep(g_marqueePosition, m_marquee.size());
    m_messagePane->setText(QString::fromStdString(m_marquee.substr(from)));
    UpdateLockPanes();
}

std::size_t CMainFrame::MarqueePosition() { return g_marqueePosition; }

void CMainFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_marqueeTimer.timerId())
        OnMarqueeTimer();
    else
        QMainWindow::timerEvent(event);
}

}  // namespace tarvo
