// TLS to the line database through the connection string, against a real server with ssl=on
// and a certificate authority the test makes (openssl): verify-full with the right authority
// connects encrypted, a client certificate logs in, a wrong authority fails with libpq's named
// error. And no password reaches a message in any of libpq's connection-string forms.

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <fstream>

#include "cli/RunProgram.h"
#include "record/LineDatabase.h"
#include "record/PgServer.h"
#include "record/TestSupport.h"

using namespace tarvo;
using namespace tarvo::record;
using tarvo::test::PgServer;
using tarvo::test::TempDir;

namespace {

bool Run(const std::string& command)
{
    return std::system(("(cd " + command + ") >/dev/null 2>&1").c_str()) == 0;
}

// A certificate authority and a certificate it signed for `name` (with the loopback names in
// its subjectAltName), as <dir>/<ca>.crt, <dir>/<name>.crt and <dir>/<name>.key.
bool MakeAuthority(const std::string& dir, const std::string& ca)
{
    return Run(dir + " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -keyout " + ca +
               ".key -out " + ca + ".crt -subj '/CN=" + ca + "'");
}

bool MakeCertificate(const std::string& dir, const std::string& ca, const std::string& name)
{
    std::ofstream(dir + "/san.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    return Run(dir + " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " + name +
               ".key -out " + name + ".csr -subj '/CN=" + name + "' && openssl x509 -req -in " + name + ".csr -CA " + ca +
               ".crt -CAkey " + ca + ".key -CAcreateserial -days 2 -extfile san.ext -out " + name + ".crt");
}

class LineTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!PgServer::Available())
            return;
        server = new PgServer();
        if (!server->Error().empty())
            return;
        const std::string& d = server->Dir();
        if (!MakeAuthority(d, "ca") || !MakeCertificate(d, "ca", "server") || !MakeCertificate(d, "ca", "tarvo_cert") ||
            !MakeAuthority(d, "other_ca")) {
            setupError = "openssl could not make the test certificates";
            return;
        }
        for (const char* file : {"ca.crt", "server.crt"})
            server->GiveToServer(d + "/" + file, 0644);
        server->GiveToServer(d + "/server.key", 0600);
        ::chmod((d + "/tarvo_cert.key").c_str(), 0600);
        server->Stop();
        server->SetOptions(" -c ssl=on -c ssl_cert_file=" + d + "/server.crt -c ssl_key_file=" + d +
                           "/server.key -c ssl_ca_file=" + d + "/ca.crt");
        server->PrependHba("hostssl all tarvo_cert 127.0.0.1/32 cert");
        server->PrependHba("host all tarvo_pw 127.0.0.1/32 scram-sha-256");
        if (!server->Start())
            setupError = "the server did not start with ssl=on";
        else
            setupError = server->Sql("CREATE ROLE tarvo_cert LOGIN SUPERUSER; CREATE ROLE tarvo_pw LOGIN SUPERUSER PASSWORD "
                                     "'pw-from-pgpass'");
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        if (!PgServer::Available())
            GTEST_SKIP() << "PostgreSQL 15 is not installed (" << PgServer::kBin << "); install the Debian package postgresql";
        ASSERT_EQ(server->Error(), "");
        ASSERT_EQ(setupError, "");
    }

    std::string Tls(const std::string& user, const std::string& host, const std::string& ca, const std::string& more = "")
    {
        return server->UrlAs(user, host) + "?sslmode=verify-full&sslrootcert=" + server->Dir() + "/" + ca + ".crt" + more;
    }

    static PgServer* server;
    static std::string setupError;
};

PgServer* LineTls::server = nullptr;
std::string LineTls::setupError;

TEST_F(LineTls, VerifiedCertificatesConnectAndAWrongAuthorityIsNamed)
{
    for (const char* host : {"localhost", "127.0.0.1"}) {
        LineDatabase line;
        std::string error;
        ASSERT_TRUE(line.Connect(Tls("tarvo", host, "ca"), 5000, error)) << error;
        EXPECT_EQ(line.Count(error), 0) << error;
    }
    // The listing's connection is encrypted.
    const auto list = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", Tls("tarvo", "localhost", "ca"), "--format", "json"});
    EXPECT_EQ(list.exitCode, 0) << list.err;

    // A client certificate instead of a password.
    const std::string& d = server->Dir();
    const auto cert = test::RunProgram(
        TARVO_CLI_PATH, {"records", "migrate", "--db",
                         Tls("tarvo_cert", "localhost", "ca", "&sslcert=" + d + "/tarvo_cert.crt&sslkey=" + d + "/tarvo_cert.key")});
    EXPECT_EQ(cert.exitCode, 0) << cert.err;
    const auto noCert = test::RunProgram(TARVO_CLI_PATH, {"records", "migrate", "--db", Tls("tarvo_cert", "localhost", "ca")});
    EXPECT_EQ(noCert.exitCode, 1);
    EXPECT_NE(noCert.err.find("certificate"), std::string::npos) << noCert.err;

    const auto wrong = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", Tls("tarvo", "localhost", "other_ca")});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("certificate verify failed"), std::string::npos) << wrong.err;
    EXPECT_NE(wrong.err.find("localhost"), std::string::npos) << wrong.err;
}

// Sets environment variables for the scope (the programs the test starts inherit them).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(m_name); }

private:
    const char* m_name;
};

TEST_F(LineTls, PasswordFileAndServiceFileAreLibpqsOwn)
{
    const std::string& d = server->Dir();
    std::ofstream(d + "/pgpass") << "127.0.0.1:" << server->Port() << ":*:tarvo_pw:pw-from-pgpass\n";
    ::chmod((d + "/pgpass").c_str(), 0600);
    std::ofstream(d + "/services") << "[line]\nhost=localhost\nport=" << server->Port()
                                   << "\ndbname=postgres\nuser=tarvo\nsslmode=verify-full\nsslrootcert=" << d << "/ca.crt\n";
    ScopedEnv passFile("PGPASSFILE", d + "/pgpass");
    ScopedEnv serviceFile("PGSERVICEFILE", d + "/services");

    const auto withPgpass = test::RunProgram(TARVO_CLI_PATH, {"records", "summary", "--db", server->UrlAs("tarvo_pw")});
    EXPECT_EQ(withPgpass.exitCode, 0) << withPgpass.err;
    const auto withService = test::RunProgram(TARVO_CLI_PATH, {"records", "migrate", "--db", "service=line"});
    EXPECT_EQ(withService.exitCode, 0) << withService.err;
    EXPECT_NE(withService.out.find("service=line"), std::string::npos) << withService.out;
    {
        ScopedEnv service("PGSERVICE", "line");
        LineDatabase line;
        std::string error;
        EXPECT_TRUE(line.Connect("", 5000, error)) << error;
    }
    // A wrong password in the string: refused by the server, and not shown.
    const std::string wrong = "host=127.0.0.1 port=" + std::to_string(server->Port()) +
                              " user=tarvo_pw dbname=postgres password='not it'";
    const auto refused = test::RunProgram(TARVO_CLI_PATH, {"records", "--db", wrong});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("password authentication failed"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("not it"), std::string::npos) << refused.err;
}

TEST(LineRedaction, NoFormOfConnectionStringShowsItsPassword)
{
    const std::string secret = "s3kr1t";
    const std::vector<std::string> forms = {
        "postgresql://station:" + secret + "@127.0.0.1:1/line",
        "postgres://station@127.0.0.1:1/line?password=" + secret + "&sslmode=disable",
        "host=127.0.0.1 port=1 user=station password=" + secret + " dbname=line",
        "host=127.0.0.1 port=1 password='" + secret + " it\\'s' dbname=line",
        "postgresql://station:" + secret + "%40x@127.0.0.1:1/line",
        "host=127.0.0.1 port=1 password=" + secret + " broken",  // libpq cannot read it
    };
    for (const std::string& url : forms) {
        EXPECT_TRUE(UrlHasPassword(url)) << url;
        const std::string shown = RedactedUrl(url);
        EXPECT_EQ(shown.find(secret), std::string::npos) << shown;
        LineDatabase line;
        std::string error;
        EXPECT_FALSE(line.Connect(url, 2000, error));
        EXPECT_EQ(error.find(secret), std::string::npos) << error;
        for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
                 {"records", "--db", url}, {"records", "summary", "--db", url}, {"records", "migrate", "--db", url}}) {
            const auto run = test::RunProgram(TARVO_CLI_PATH, args);
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_EQ(run.err.find(secret), std::string::npos) << run.err;
            EXPECT_EQ(run.out.find(secret), std::string::npos) << run.out;
        }
    }
    // The place of the server stays in the message.
    EXPECT_NE(RedactedUrl(forms[2]).find("host=127.0.0.1"), std::string::npos);
    // Without a password, the text is the user's own.
    for (const std::string url : {"postgresql://station@db.line/line?sslmode=verify-full", "host=db port=5432 user=s",
                                  "service=line"}) {
        EXPECT_FALSE(UrlHasPassword(url)) << url;
        EXPECT_EQ(RedactedUrl(url), url);
    }
}

}  // namespace
