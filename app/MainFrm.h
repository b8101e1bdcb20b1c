// CMainFrame: the main window around the station form. Fixed size (no sizing border, no
// maximize button), caption "Orvane Program Ver 1.3", menu, and a status bar whose first pane
// scrolls the support message (one step every 500 ms) while the last three show the keyboard
// lock states of the display (app/LockKeys.h). The status bar shows the view's passing
// messages for a while and keeps its standing problem (a row that cannot be armed, a profile
// that cannot be read) until the view clears it.
//
// Beside File and Help a Settings menu chooses the language (the form's own texts, or any
// translation found, station/Language.h), switches the result sounds and sets the engineer
// PIN. The language takes effect at once and is kept in the profile; every text of the frame
// is set again on QEvent::LanguageChange. A Station menu switches continuous runs (kept in the
// profile, "Station"/"Continuous") and shows the preflight report of the rows and files.
// A setting the administrator's file sets (station/Profile.h) keeps its menu item disabled,
// with a tooltip naming that file.
//
// Threading: a widget; GUI thread only.
#pragma once

#include <QBasicTimer>
#include <QDateTime>
#include <QDialog>
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <string>

#include "app/LockKeys.h"
#include "station/Language.h"
#include "station/TarvoView.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;

namespace tarvo {

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kMarqueeTimerId = 34;
    static constexpr int kMarqueePeriodMs = 500;

    explicit CMainFrame(ViewOptions options = {}, QWidget* parent = nullptr);

    CTarvoView* View() const { return m_view; }
    QLabel* MessagePane() const { return m_messagePane; }
    // Panes 3 to 5: CAP, NUM, SCRL.
    QLabel* LockPane(int index) const { return m_lockPanes[index]; }
    QAction* OpenAction() const { return m_open; }
    QAction* ExitAction() const { return m_exit; }
    QAction* AboutAction() const { return m_about; }
    // The production record: the menu item that opens its view, the status bar's totals and
    // its red warning while the record cannot be written.
    QAction* RecordAction() const { return m_recordAction; }
    QLabel* RecordTotalsPane() const { return m_recordTotals; }
    QLabel* RecordWarningPane() const { return m_recordWarning; }
    // The line database (forwarding on): hidden while nothing waits; "Line DB: N waiting" (with
    // ", M set aside" for records the server refused); and after kLineFailureShownAfterS of
    // failure, in red, with the reason and since when.
    QLabel* LineDatabasePane() const { return m_lineDatabase; }
    void ShowLineStatus(qint64 waiting, qint64 setAside, const QString& problem);
    // The same as seen at `now` (tests).
    void ShowLineStatusAt(qint64 waiting, qint64 setAside, const QString& problem, const QDateTime& now);
    static constexpr int kLineFailureShownAfterS = 60;
    // Opens the production record view (modeless; one at a time).
    void ShowProductionRecord();
    QMenu* SettingsMenu() const { return m_settings; }
    QMenu* LanguageMenu() const { return m_language; }
    QMenu* StationMenu() const { return m_station; }
    QAction* ContinuousAction() const { return m_continuous; }
    QAction* PreflightAction() const { return m_preflight; }
    QAction* SoundAction() const { return m_sound; }
    QAction* PinAction() const { return m_pin; }
    const QString& Marquee() const { return m_marquee; }
    CLanguages& Languages() { return m_languages; }

    // Puts the language of `code` in force (empty: the form's texts) and keeps the choice.
    // False when no translation of that code is found (the form's texts are then shown).
    bool ChooseLanguage(const QString& code);
    // Fills the language menu with the translations found now.
    void FillLanguageMenu();
    // Sets every text of the frame again in the language in force.
    void Retranslate();

    // One marquee step: the first pane shows the marquee from the process-wide position on.
    void OnMarqueeTimer();
    // The process-wide marquee position.
    static std::size_t MarqueePosition();
    // The problem the status bar keeps showing; empty when none.
    const QString& StatusProblem() const { return m_problem; }

signals:
    void aboutRequested();

protected:
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void CreateMenus();
    bool CreateStatusBar();
    void FitToForm();
    void ShowStatusMessage(const QString& text);
    void ShowStatusProblem(const QString& text);
    void UpdateLockPanes();
    void CreateRecordParts();
    void RetranslateRecordParts();
    void ShowRecordProblem(const QString& problem);

    // Disables every menu item whose setting the administrator's file sets, with a tooltip
    // naming the file.
    void ApplyAdministratorLocks();
    void OnSoundToggled(bool on);
    void OnContinuousToggled(bool on);

    CLanguages m_languages;
    CTarvoView* m_view = nullptr;
    QLabel* m_messagePane = nullptr;
    std::array<QLabel*, 3> m_lockPanes{};
    QAction* m_open = nullptr;
    QAction* m_exit = nullptr;
    QAction* m_about = nullptr;
    QMenu* m_file = nullptr;
    QMenu* m_help = nullptr;
    QMenu* m_settings = nullptr;
    QMenu* m_station = nullptr;
    QAction* m_continuous = nullptr;
    QAction* m_preflight = nullptr;
    QMenu* m_language = nullptr;
    QActionGroup* m_languageGroup = nullptr;
    QAction* m_sound = nullptr;
    QAction* m_pin = nullptr;
    QString m_marquee;
    QAction* m_recordAction = nullptr;
    QLabel* m_recordTotals = nullptr;
    QLabel* m_recordWarning = nullptr;
    QLabel* m_lineDatabase = nullptr;
    QDateTime m_lineFailingSince;
    QPointer<QDialog> m_recordDialog;
    QBasicTimer m_marqueeTimer;
    QString m_problem;
    CLockKeys m_lockKeys;
};

}  // namespace tarvo
