// tarvo-target-sim as a child process for the window tests, reachable through a link in a
// temporary folder.
#pragma once

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

namespace tarvo::test {

#ifdef TARVO_TARGET_SIM_PATH

// A flashloader handset (erase 300 ms) with `extra` options.
class SimulatedHandset {
public:
    explicit SimulatedHandset(QStringList extra)
    {
        m_link = m_folder.filePath(QStringLiteral("handset"));
        QStringList args{QStringLiteral("--flashloader"), QStringLiteral("1.2.5"), QStringLiteral("--link"), m_link,
                         QStringLiteral("--erase-ms"), QStringLiteral("300")};
        args += extra;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(TARVO_TARGET_SIM_PATH), args);
    }
    ~SimulatedHandset()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool WaitReady()
    {
        return m_process.waitForStarted(5000) &&
               QTest::qWaitFor([&] { return QFileInfo::exists(m_link); }, 5000);
    }
    const QString& Link() const { return m_link; }

private:
    QTemporaryDir m_folder;
    QString m_link;
    QProcess m_process;
};

#endif  // TARVO_TARGET_SIM_PATH

}  // namespace tarvo::test
