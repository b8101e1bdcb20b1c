#include "app/MainFrm.h"

#include <QAction>
#include <QActionGroup>
#include <QDateTime>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimerEvent>
#include <QtDebug>

#include "app/LockKeys.h"
#include "app/Marquee.h"
#include "resources/Pictures.h"
#include "resources/Strings.h"
#include "station/EngineerLock.h"
#include "station/Profile.h"
#include "station/RecordDialog.h"
#include "station/StationRecord.h"

namespace tarvo {
namespace {

// The marquee position, shared by every marquee step of the process.
std::size_t g_marqueePosition = 0;

constexpr char kMenu[] = "Menu";
constexpr char kStatusBar[] = "StatusBar";

// "prompt\ntooltip" -> the two parts, translated.
std::pair<QString, QString> Prompt(const char* text)
{
    const QString all = Tr(kMenu, text);
    const qsizetype split = all.indexOf(QLatin1Char('\n'));
    if (split < 0)
        return {all, QString()};
    return {all.left(split), all.mid(split + 1)};
}

}  // namespace

CMainFrame::CMainFrame(ViewOptions options, QWidget* parent)
    : QMainWindow(parent), m_languages(options.translationFolders)
{
    // The profile's language before any text is made; an unknown one leaves the form's texts.
    m_languages.Apply(CLanguages::Stored());
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
    CreateRecordParts();
    Retranslate();
    m_marqueeTimer.start(kMarqueePeriodMs, this);
}

void CMainFrame::CreateMenus()
{
    m_file = menuBar()->addMenu(QString());
    m_open = m_file->addAction(QString());
    m_open->setObjectName(QString::number(strings::kCmdFileOpen));
    m_open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_open->setShortcutContext(Qt::WindowShortcut);
    // The view's file selection takes the command (after the engineer PIN, when one is set).
    connect(m_open, &QAction::triggered, m_view, &CTarvoView::OnFileOpen, Qt::DirectConnection);

    m_exit = m_file->addAction(QString());
    m_exit->setObjectName(QString::number(strings::kCmdAppExit));
    connect(m_exit, &QAction::triggered, this, &QWidget::close, Qt::DirectConnection);

    m_settings = menuBar()->addMenu(QString());
    m_settings->setObjectName(QStringLiteral("settings"));
    m_language = m_settings->addMenu(QString());
    m_language->setObjectName(QStringLiteral("language"));
    m_languageGroup = new QActionGroup(this);
    m_languageGroup->setExclusive(true);
    // Looked up again each time the menu opens: a translation dropped in meanwhile shows up.
    connect(m_language, &QMenu::aboutToShow, this, &CMainFrame::FillLanguageMenu, Qt::DirectConnection);
    FillLanguageMenu();
    m_sound = m_settings->addAction(QString());
    m_sound->setObjectName(QStringLiteral("sound"));
    m_sound->setCheckable(true);
    m_sound->setChecked(m_view->SoundOn());
    connect(m_sound, &QAction::triggered, this, &CMainFrame::OnSoundToggled, Qt::DirectConnection);
    m_settings->addSeparator();
    m_pin = m_settings->addAction(QString());
    m_pin->setObjectName(QStringLiteral("engineerPin"));
    connect(m_pin, &QAction::triggered, m_view, &CTarvoView::EditEngineerPin, Qt::DirectConnection);

    // Station: continuous runs (kept in the profile by the view) and the preflight report.
    m_station = menuBar()->addMenu(QString());
    m_station->setObjectName(QStringLiteral("station"));
    m_continuous = m_station->addAction(QString());
    m_continuous->setObjectName(QStringLiteral("continuous"));
    m_continuous->setCheckable(true);
    m_continuous->setChecked(m_view->Continuous());
    // Switching continuous runs is the engineer's (the PIN first, when one is set).
    connect(m_continuous, &QAction::triggered, this, &CMainFrame::OnContinuousToggled, Qt::DirectConnection);
    m_preflight = m_station->addAction(QString());
    m_preflight->setObjectName(QStringLiteral("preflight"));
    connect(m_preflight, &QAction::triggered, m_view, &CTarvoView::ShowPreflightReport, Qt::DirectConnection);
    m_help = menuBar()->addMenu(QString());
    m_about = m_help->addAction(QString());
    m_about->setObjectName(QString::number(strings::kCmdAppAbout));
    connect(m_about, &QAction::triggered, this, &CMainFrame::aboutRequested, Qt::DirectConnection);
}

void CMainFrame::FillLanguageMenu()
{
    for (QAction* action : m_languageGroup->actions()) {
        m_languageGroup->removeAction(action);
        delete action;
    }
    const auto add = [this](const QString& code, const QString& name) {
        QAction* action = m_language->addAction(name);
        action->setObjectName(QStringLiteral("language:") + code);
        action->setData(code);
        action->setCheckable(true);
        action->setChecked(code == m_languages.Current());
        m_languageGroup->addAction(action);
        connect(action, &QAction::triggered, this, [this, code] { ChooseLanguage(code); }, Qt::DirectConnection);
    };
    add(QString(), Tr(kMenu, strings::kMenuFormTexts));
    for (const LanguageChoice& choice : m_languages.Available())
        add(choice.code, choice.name);
}

bool CMainFrame::ChooseLanguage(const QString& code)
{
    const bool ok = m_languages.Apply(code);
    CLanguages::Store(ok ? code : QString());
    for (QAction* action : m_languageGroup->actions())
        action->setChecked(action->data().toString() == m_languages.Current());
    return ok;
}

void CMainFrame::OnSoundToggled(bool on)
{
    if (!m_view->UnlockEngineer(strings::kGuardSound)) {
        m_sound->setChecked(!on);
        return;
    }
    m_view->SetSoundOn(on);
}

void CMainFrame::OnContinuousToggled(bool on)
{
    if (!m_view->UnlockEngineer(strings::kGuardContinuous)) {
        m_continuous->setChecked(!on);
        return;
    }
    m_view->SetContinuous(on);
}

void CMainFrame::Retranslate()
{
    setWindowTitle(Tr("MainFrame", strings::kFrameCaption));
    m_file->setTitle(Tr(kMenu, strings::kMenuFile));
    m_open->setText(Tr(kMenu, strings::kMenuOpen));
    m_open->setStatusTip(Prompt(strings::kOpenPrompt).first);
    m_open->setToolTip(Prompt(strings::kOpenPrompt).second);
    m_exit->setText(Tr(kMenu, strings::kMenuExit));
    m_exit->setStatusTip(Prompt(strings::kExitPrompt).first);
    m_exit->setToolTip(Prompt(strings::kExitPrompt).second);
    m_settings->setTitle(Tr(kMenu, strings::kMenuSettings));
    m_language->setTitle(Tr(kMenu, strings::kMenuLanguage));
    m_language->menuAction()->setStatusTip(Prompt(strings::kLanguagePrompt).first);
    m_language->menuAction()->setToolTip(Prompt(strings::kLanguagePrompt).second);
    for (QAction* action : m_languageGroup->actions()) {
        if (action->data().toString().isEmpty())
            action->setText(Tr(kMenu, strings::kMenuFormTexts));
    }
    m_sound->setText(Tr(kMenu, strings::kMenuSound));
    m_sound->setStatusTip(Prompt(strings::kSoundPrompt).first);
    m_sound->setToolTip(Prompt(strings::kSoundPrompt).second);
    m_pin->setText(Tr(kMenu, strings::kMenuEngineerPin));
    m_pin->setStatusTip(Prompt(strings::kEngineerPinPrompt).first);
    m_pin->setToolTip(Prompt(strings::kEngineerPinPrompt).second);
    m_station->setTitle(Tr(kMenu, strings::kMenuStation));
    m_continuous->setText(Tr(kMenu, strings::kMenuContinuous));
    m_continuous->setStatusTip(Prompt(strings::kContinuousPrompt).first);
    m_continuous->setToolTip(Prompt(strings::kContinuousPrompt).second);
    m_preflight->setText(Tr(kMenu, strings::kMenuPreflight));
    m_preflight->setStatusTip(Prompt(strings::kPreflightPrompt).first);
    m_preflight->setToolTip(Prompt(strings::kPreflightPrompt).second);
    m_help->setTitle(Tr(kMenu, strings::kMenuHelp));
    m_about->setText(Tr(kMenu, strings::kMenuAbout));
    m_about->setStatusTip(Prompt(strings::kAboutPrompt).first);
    m_about->setToolTip(Prompt(strings::kAboutPrompt).second);

    if (m_messagePane) {
        const QString identifier = Tr(kStatusBar, strings::kStatusIdentifier);
        m_messagePane->setText(identifier);
        m_messagePane->setFixedWidth(m_messagePane->fontMetrics().horizontalAdvance(identifier) + 8);
        UpdateLockPanes();
    }
    m_marquee = Tr(kStatusBar, strings::kMarqueeMessage);
    m_marquee += m_marquee;
    m_marquee += m_marquee;
    if (m_recordAction)
        RetranslateRecordParts();
    ApplyAdministratorLocks();
}

void CMainFrame::ApplyAdministratorLocks()
{
    const struct {
        QAction* action;
        const char* section;
        const char* key;
    } locks[] = {
        {m_open, profile::kMainSwSection, profile::kMainSwKey},
        {m_sound, "Station", "Sound"},
        {m_continuous, "Station", "Continuous"},
        {m_pin, CEngineerLock::kSection, CEngineerLock::kKey},
        {m_language->menuAction(), CLanguages::kSection, CLanguages::kKey},
    };
    for (const auto& lock : locks) {
        if (!profile::IsLocked(lock.section, QString::fromLatin1(lock.key)))
            continue;
        lock.action->setEnabled(false);
        lock.action->setToolTip(profile::LockedTip());
        lock.action->setStatusTip(profile::LockedTip());
    }
    // Tooltips of disabled menu items show only where the menu asks for them.
    for (QMenu* menu : {m_file, m_settings, m_station})
        menu->setToolTipsVisible(true);
}

void CMainFrame::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        Retranslate();
    QMainWindow::changeEvent(event);
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    if (!bar)
        return false;
    bar->setSizeGripEnabled(false);

    // Text and width follow the language (Retranslate).
    m_messagePane = new QLabel(bar);
    m_messagePane->setObjectName(QStringLiteral("57346"));
    m_messagePane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
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
        pane->setFixedWidth(pane->fontMetrics().horizontalAdvance(Tr(kStatusBar, locks[i])) + 10);
        bar->addPermanentWidget(pane);
        m_lockPanes[i] = pane;
    }
    // A standing problem comes back whenever a passing message or menu prompt is gone.
    connect(bar, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty() && !m_problem.isEmpty())
            statusBar()->showMessage(m_problem);
    }, Qt::QueuedConnection);
    return true;
}

void CMainFrame::CreateRecordParts()
{
    // In the File menu, before Exit.
    m_recordAction = new QAction(this);
    m_file->insertAction(m_exit, m_recordAction);
    m_recordAction->setObjectName(QStringLiteral("productionRecord"));
    connect(m_recordAction, &QAction::triggered, this, &CMainFrame::ShowProductionRecord);

    QStatusBar* bar = statusBar();
    m_recordWarning = new QLabel(bar);
    m_recordWarning->setObjectName(QStringLiteral("recordWarning"));
    m_recordWarning->setStyleSheet(QStringLiteral("color: white; background: red; padding: 0 4px"));
    m_recordWarning->hide();
    m_recordTotals = new QLabel(m_view->RecordTotalsText(), bar);
    m_recordTotals->setObjectName(QStringLiteral("recordTotals"));
    m_recordTotals->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_lineDatabase = new QLabel(bar);
    m_lineDatabase->setObjectName(QStringLiteral("lineDatabase"));
    m_lineDatabase->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_lineDatabase->hide();
    // After the stretching separator: at the right, before the lock panes. The totals and the
    // line database are permanent panes: a passing message never hides them.
    bar->addWidget(m_recordWarning);
    // Indexes count every pane: after the three normal ones (message, separator, warning) and
    // before the lock panes.
    bar->insertPermanentWidget(3, m_lineDatabase);
    bar->insertPermanentWidget(4, m_recordTotals);
    connect(m_view, &CTarvoView::recordTotalsChanged, m_recordTotals, &QLabel::setText);
    connect(&m_view->Record(), &CStationRecord::lineStatusChanged, this, &CMainFrame::ShowLineStatus);
    connect(m_view, &CTarvoView::recordProblemChanged, this, &CMainFrame::ShowRecordProblem);
    ShowRecordProblem(m_view->Record().Problem());
}

void CMainFrame::RetranslateRecordParts()
{
    m_recordAction->setText(tr("Production record(&R)..."));
    m_recordAction->setStatusTip(tr("Show the record of every run of this station"));
    m_recordTotals->setText(m_view->RecordTotalsText());
    m_recordTotals->setToolTip(m_view->Record().Enabled() ? tr("Runs, PASS and FAIL of this station since start-up")
                                                          : tr("Recording is off (profile \"Record\"/\"Enabled\"=0)"));
    ShowRecordProblem(m_view->Record().Problem());
}

void CMainFrame::ShowRecordProblem(const QString& problem)
{
    if (problem.isEmpty()) {
        m_recordWarning->hide();
        m_recordWarning->clear();
        return;
    }
    m_recordWarning->setText(tr("Record not written: %1. No row starts until it works again.").arg(problem));
    m_recordWarning->setToolTip(problem);
    m_recordWarning->show();
}

void CMainFrame::ShowLineStatus(qint64 waiting, qint64 setAside, const QString& problem)
{
    ShowLineStatusAt(waiting, setAside, problem, QDateTime::currentDateTime());
}

void CMainFrame::ShowLineStatusAt(qint64 waiting, qint64 setAside, const QString& problem, const QDateTime& now)
{
    if (problem.isEmpty())
        m_lineFailingSince = QDateTime();
    else if (!m_lineFailingSince.isValid())
        m_lineFailingSince = now;
    if (waiting == 0 && setAside == 0 && problem.isEmpty()) {
        m_lineDatabase->hide();
        m_lineDatabase->clear();
        return;
    }
    QString count = waiting < 0 ? QStringLiteral("?") : QString::number(waiting);
    if (setAside > 0)
        count = tr("%1, %2 set aside").arg(count).arg(setAside);
    // A failure shows only once it has lasted: a server restart of a few seconds is no news.
    const bool failing = m_lineFailingSince.isValid() && m_lineFailingSince.secsTo(now) >= kLineFailureShownAfterS;
    if (failing) {
        m_lineDatabase->setText(tr("Line DB: %1 waiting \u2014 %2 since %3")
                                    .arg(count, problem, m_lineFailingSince.toString(QStringLiteral("HH:mm"))));
        m_lineDatabase->setStyleSheet(QStringLiteral("color: red"));
    } else {
        m_lineDatabase->setText(tr("Line DB: %1 waiting").arg(count));
        m_lineDatabase->setStyleSheet(QString());
    }
    m_lineDatabase->setToolTip(problem.isEmpty() ? tr("Finished records not yet in the line database") : problem);
    m_lineDatabase->show();
}

void CMainFrame::ShowProductionRecord()
{
    if (!m_recordDialog) {
        auto* dialog = new CRecordDialog(m_view->Record().DatabasePath(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        m_recordDialog = dialog;
    }
    m_recordDialog->show();
    m_recordDialog->raise();
    m_recordDialog->activateWindow();
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
        m_lockPanes[i]->setText(m_lockKeys.IsOn(keys[i]) ? Tr(kStatusBar, texts[i]) : QString());
}

void CMainFrame::OnMarqueeTimer()
{
    // Counted in UTF-16 units: a Hangul syllable is one, so no character is ever cut.
    const std::size_t from = MarqueeStep(g_marqueePosition, static_cast<std::size_t>(m_marquee.size()));
    m_messagePane->setText(m_marquee.mid(static_cast<qsizetype>(from)));
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
