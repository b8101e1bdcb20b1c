// A real PostgreSQL 15 server for the record tests, in a temporary folder: initdb, start on a
// free loopback port with its socket in the folder, stop, start again, and removal at the end.
// The server refuses to run as root, so under root it runs as the user "nobody" (runuser).
// Tests may add server options (TLS), rules in front of pg_hba.conf, and run SQL as the
// superuser "tarvo" (roles, old schemas).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "record/TestSupport.h"

namespace tarvo::test {

class PgServer {
public:
    // SQL that removes Tarvo's whole schema (tables, views, the approval trigger's function).
    static constexpr const char* kDropSchema =
        "DROP TABLE IF EXISTS runs CASCADE; DROP TABLE IF EXISTS image_approvals; "
        "DROP FUNCTION IF EXISTS tarvo_stamp_approval(); DROP TABLE IF EXISTS schema_migrations;";

    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin";

    static bool Available() { return std::filesystem::exists(std::string(kBin) + "/initdb"); }

    // Creates the cluster and starts the server; Error() tells why when it did not.
    PgServer()
    {
        m_port = FreePort();
        std::string prefix;
        if (::geteuid() == 0) {
            struct passwd* nobody = ::getpwnam("nobody");
            if (!nobody) {
                m_error = "no user 'nobody' to run the server as";
                return;
            }
            if (::chown(m_dir.Path().c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
                m_error = "cannot give the folder to nobody";
                return;
            }
            m_prefix = "runuser -u nobody -- ";
        }
        if (!Shell(std::string(kBin) + "/initdb -D " + Data() + " -A trust -U tarvo --no-sync -E UTF8 --locale=C.UTF-8 >" +
                   m_dir.Path() + "/initdb.log 2>&1")) {
            m_error = "initdb failed, see " + m_dir.Path() + "/initdb.log";
            return;
        }
        if (!Start())
            m_error = "the server did not start";
    }

    ~PgServer() { Stop(); }

    bool Start()
    {
        return Shell(std::string(kBin) + "/pg_ctl -D " + Data() + " -l " + m_dir.Path() + "/server.log -w -t 30 -o \"-p " +
                     std::to_string(m_port) + " -k " + m_dir.Path() +
                     " -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off" + m_options +
                     "\" start >/dev/null");
    }

    // Server options for the next Start (e.g. " -c ssl=on -c ssl_cert_file=...").
    void SetOptions(const std::string& options) { m_options = options; }

    // Puts `line` in front of the rules of pg_hba.conf (read at the next Start).
    bool PrependHba(const std::string& line)
    {
        const std::string path = Data() + "/pg_hba.conf";
        std::ifstream in(path);
        std::stringstream old;
        old << in.rdbuf();
        std::ofstream out(path, std::ios::trunc);
        out << line << "\n" << old.str();
        return static_cast<bool>(out);
    }

    // Makes a file in the test's folder the server's (its key files must be its own, mode 0600).
    bool GiveToServer(const std::string& path, mode_t mode) const
    {
        if (::chmod(path.c_str(), mode) != 0)
            return false;
        if (m_prefix.empty())
            return true;
        struct passwd* nobody = ::getpwnam("nobody");
        return nobody && ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
    }

    // Runs SQL as the superuser; the error, or "" on success.
    std::string Sql(const std::string& sql) const
    {
        PGconn* conn = PQconnectdb(Url().c_str());
        std::string error;
        if (PQstatus(conn) != CONNECTION_OK) {
            error = PQerrorMessage(conn);
        } else {
            PGresult* r = PQexec(conn, ("SET client_min_messages = warning; " + sql).c_str());
            if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK)
                error = PQerrorMessage(conn);
            PQclear(r);
        }
        PQfinish(conn);
        return error;
    }

    // The test's folder (owned by the server's user).
    const std::string& Dir() const { return m_dir.Path(); }

    bool Stop() { return Shell(std::string(kBin) + "/pg_ctl -D " + Data() + " -m fast -w -t 30 stop >/dev/null 2>&1"); }

    const std::string& Error() const { return m_error; }
    int Port() const { return m_port; }
    std::string Url() const { return UrlAs("tarvo"); }
    std::string UrlAs(const std::string& user, const std::string& host = "127.0.0.1") const
    {
        return "postgresql://" + user + "@" + host + ":" + std::to_string(m_port) + "/postgres";
    }

private:
    std::string Data() const { return m_dir.Path() + "/data"; }

    bool Shell(const std::string& command) const
    {
        const std::string line = m_prefix + "sh -c '" + command + "'";
        return std::system(line.c_str()) == 0;
    }

    static int FreePort()
    {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t size = sizeof addr;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
        ::close(fd);
        return ntohs(addr.sin_port);
    }

    TempDir m_dir;
    std::string m_prefix;
    std::string m_options;
    int m_port = 0;
    std::string m_error;
};

// A test suite whose tests share one server: started before the first test, stopped after the
// last. NeedServer (called by SetUp) skips a test when PostgreSQL is not installed and fails it
// when the server did not start; a suite's own SetUp calls it first and goes on only when
// Ready(). `Base` is the fixture the suite builds on (a window test's own fixture, for one).
template <class Base = ::testing::Test>
class PgSuiteOn : public Base {
protected:
    static void SetUpTestSuite()
    {
        if (PgServer::Available())
            server = new PgServer();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override { NeedServer(); }
    void NeedServer()
    {
        if (!PgServer::Available())
            GTEST_SKIP() << "PostgreSQL 15 is not installed (" << PgServer::kBin << "); install the Debian package postgresql";
        ASSERT_EQ(server->Error(), "");
    }
    bool Ready() const { return !Base::IsSkipped() && !Base::HasFatalFailure(); }

    inline static PgServer* server = nullptr;
};

using PgSuite = PgSuiteOn<>;

}  // namespace tarvo::test
