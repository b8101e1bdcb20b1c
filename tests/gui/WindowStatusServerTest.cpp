// The window's status server ("Status"/"Listen"): with a simulated handset flashed through row 1,
// /api/status shows the port COMPLETE with its counts and /metrics counts the PASS, both read
// over a real loopback socket while the window runs. With forwarding to a real PostgreSQL
// server, both show the forwarder's own state: the time of its last pass that succeeded, and
// its problem and the waiting record while the server is away.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLabel>
#include <QRegularExpression>

#include <chrono>

#include "app/MainFrm.h"
#include "controls/Label.h"
#include "engine/Clock.h"
#include "record/PgServer.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/gui/SimHandset.h"

#ifdef TARVO_TARGET_SIM_PATH

namespace tarvo::test {
namespace {

using namespace std::chrono_literals;

// GET `path` from 127.0.0.1:`port` (HTTP/1.0, the server closes): the body, empty on failure.
std::string Get(int port, const std::string& path)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            pollfd wait{fd, POLLIN, 0};
            while (::poll(&wait, 1, 3000) > 0) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                response.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    ::close(fd);
    const auto body = response.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : response.substr(body + 4);
}

class WindowStatusServer : public GuiTest {};

TEST_F(WindowStatusServer, ServesTheRowsRunAndItsCountsWhileTheWindowRuns)
{
    SimulatedHandset handset({QStringLiteral("--fault"), QStringLiteral("ack-delay=15")});
    ASSERT_TRUE(handset.WaitReady());
    QTemporaryDir folder;
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
    profile::SetDeviceFor(5, handset.Link());
    profile::WriteString("Record", QStringLiteral("Database"), folder.filePath(QStringLiteral("records.sqlite")));
    profile::WriteString("Station", QStringLiteral("Name"), QStringLiteral("bay-7"));
    profile::WriteString("Status", QStringLiteral("Listen"), QStringLiteral("127.0.0.1:0"));
    TestOptions test;
    test.chosen = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(test.chosen, 64, 16));
    ScaledClock clock{10.0};
    ViewOptions options = test.Make();
    options.clock = &clock;
    CTarvoView view(nullptr, options);
    view.OnInitialUpdate();
    view.show();
    const int port = view.StatusPort();
    ASSERT_GT(port, 0);

    // Before any run: the row that takes part, CLOSE, and the image with its digest.
    std::string status = Get(port, "/api/status");
    EXPECT_NE(status.find("\"station\":\"bay-7\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"port\":5"), std::string::npos) << status;
    EXPECT_NE(status.find("\"state\":\"CLOSE\""), std::string::npos) << status;

    QTest::mouseClick(view.StateField(1), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.StateField(1)->Text() == QStringLiteral("COMPLETE"); }, 20000))
        << view.StateField(1)->Text().toStdString();

    // The record completes after the row shows its end: wait for it to be counted.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            status = Get(port, "/api/status");
            return status.find("\"pass\":1") != std::string::npos;
        },
        10000))
        << status;
    EXPECT_NE(status.find("\"state\":\"COMPLETE\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"fail\":0"), std::string::npos) << status;
    EXPECT_NE(status.find("\"device\":\"" + handset.Link().toStdString() + "\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"sha256\":\"" ), std::string::npos) << status;
    EXPECT_EQ(status.find("\"sha256\":\"\""), std::string::npos) << status;

    const QString metrics = QString::fromStdString(Get(port, "/metrics"));
    const QRegularExpression passes(QStringLiteral("^tarvo_runs_total\\{[^}]*result=\"PASS\"[^}]*\\} 1$"),
                                    QRegularExpression::MultilineOption);
    EXPECT_TRUE(passes.match(metrics).hasMatch()) << metrics.toStdString();
    EXPECT_TRUE(metrics.contains(QStringLiteral("tarvo_port_state{")) &&
                metrics.contains(QStringLiteral("state=\"COMPLETE\"")))
        << metrics.toStdString();
}

TEST_F(WindowStatusServer, ContinuousRowWithoutItsDeviceShowsNoDevice)
{
    QTemporaryDir folder;
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(2), 1);
    profile::SetDeviceFor(6, folder.filePath(QStringLiteral("ttyABSENT")));
    profile::WriteInt("Station", QStringLiteral("Continuous"), 1);
    profile::WriteString("Record", QStringLiteral("Database"), folder.filePath(QStringLiteral("records.sqlite")));
    profile::WriteString("Status", QStringLiteral("Listen"), QStringLiteral("127.0.0.1:0"));
    TestOptions test;
    test.chosen = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(test.chosen));
    CTarvoView view(nullptr, test.Make());
    view.OnInitialUpdate();
    ASSERT_GT(view.StatusPort(), 0);

    const std::string status = Get(view.StatusPort(), "/api/status");
    EXPECT_NE(status.find("\"port\":6"), std::string::npos) << status;
    EXPECT_NE(status.find("\"state\":\"NO DEVICE\""), std::string::npos) << status;
    const QString metrics = QString::fromStdString(Get(view.StatusPort(), "/metrics"));
    const QRegularExpression noDevice(QStringLiteral("^tarvo_port_state\\{[^}]*state=\"NO DEVICE\"[^}]*\\} 1$"),
                                      QRegularExpression::MultilineOption);
    EXPECT_TRUE(noDevice.match(metrics).hasMatch()) << metrics.toStdString();
}

// The "forward" object of /api/status ("" when absent).
std::string ForwardPart(const std::string& status)
{
    const auto begin = status.find("\"forward\":{");
    if (begin == std::string::npos)
        return {};
    const auto end = status.find('}', begin);
    return end == std::string::npos ? std::string() : status.substr(begin, end + 1 - begin);
}

// The value of tarvo_forward_last_success_timestamp_seconds in /metrics (-1: absent).
double LastSuccess(const std::string& metrics)
{
    static const QRegularExpression line(
        QStringLiteral("^tarvo_forward_last_success_timestamp_seconds\\{[^}]*\\} (\\S+)$"),
        QRegularExpression::MultilineOption);
    const auto match = line.match(QString::fromStdString(metrics));
    return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class WindowStatusForward : public PgSuite {
protected:
    TempProfile m_profile;
};

TEST_F(WindowStatusForward, ShowsTheForwardersLastSuccessAndItsProblemWhileTheServerIsAway)
{
    if (!Ready())
        return;
    ASSERT_EQ(server->Sql(PgServer::kDropSchema), "");
    SimulatedHandset handset({QStringLiteral("--fault"), QStringLiteral("ack-delay=15")});
    ASSERT_TRUE(handset.WaitReady());
    QTemporaryDir folder;
    profile::WriteInt(profile::kPortSection, profile::PortFlagKey(1), 1);
    profile::SetDeviceFor(5, handset.Link());
    profile::WriteString("Record", QStringLiteral("Database"), folder.filePath(QStringLiteral("records.sqlite")));
    profile::WriteString("Record", QStringLiteral("Forward"), QString::fromStdString(server->Url()));
    profile::WriteString("Status", QStringLiteral("Listen"), QStringLiteral("127.0.0.1:0"));
    TestOptions test;
    test.chosen = folder.filePath(QStringLiteral("phone.m0"));
    ASSERT_TRUE(WriteMainSoftware(test.chosen, 64, 16));
    ScaledClock clock{10.0};
    ViewOptions options = test.Make();
    options.clock = &clock;
    const double opened = Now();
    CMainFrame frame(options);
    CTarvoView& view = *frame.View();
    view.OnInitialUpdate();
    frame.show();
    const int port = view.StatusPort();
    ASSERT_GT(port, 0);

    // The forwarder's first pass finds the server and nothing to send: its time shows at once,
    // with nothing waiting and no problem.
    double first = -1;
    std::string metrics;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            metrics = Get(port, "/metrics");
            first = LastSuccess(metrics);
            return first > 0;
        },
        5000))
        << metrics;
    EXPECT_GE(first, opened - 1);
    EXPECT_LE(first, Now() + 1);
    std::string forward = ForwardPart(Get(port, "/api/status"));
    EXPECT_NE(forward.find("\"pending\":0,\"set_aside\":0,\"problem\":null,\"last_success\":"), std::string::npos)
        << forward;

    // The server goes away; a run ends: its record waits, the problem shows on the status server
    // and in the window's line database pane, and the last success stays before the run's end.
    ASSERT_TRUE(server->Stop());
    QTest::mouseClick(view.StateField(1), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.StateField(1)->Text() == QStringLiteral("COMPLETE"); }, 20000))
        << view.StateField(1)->Text().toStdString();
    const double ended = Now();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            forward = ForwardPart(Get(port, "/api/status"));
            return forward.find("\"pending\":1,") != std::string::npos &&
                   forward.find("\"problem\":null") == std::string::npos;
        },
        10000))
        << forward;
    metrics = Get(port, "/metrics");
    EXPECT_GE(LastSuccess(metrics), first);
    EXPECT_LE(LastSuccess(metrics), ended);
    EXPECT_NE(metrics.find("tarvo_forward_pending{station=\""), std::string::npos) << metrics;
    ASSERT_TRUE(QTest::qWaitFor([&] { return frame.LineDatabasePane()->isVisible(); }, 5000));
    EXPECT_TRUE(frame.LineDatabasePane()->text().startsWith(QStringLiteral("Line DB: 1 waiting")))
        << frame.LineDatabasePane()->text().toStdString();

    // Back: the forwarder delivers the record on its next try; nothing waits, no problem, and
    // the last success is that delivery.
    const double back = Now();
    ASSERT_TRUE(server->Start());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            forward = ForwardPart(Get(port, "/api/status"));
            return forward.find("\"pending\":0,\"set_aside\":0,\"problem\":null,") != std::string::npos;
        },
        15000))
        << forward;
    EXPECT_GE(LastSuccess(Get(port, "/metrics")), back);
    EXPECT_EQ(server->Sql("DO $$ BEGIN IF (SELECT count(*) FROM runs WHERE result = 'PASS') <> 1 THEN "
                          "RAISE EXCEPTION 'the PASS record is not in the line database'; END IF; END $$"),
              "");
}

}  // namespace
}  // namespace tarvo::test

#endif
