#include "status/StatusServer.h"

#include <httplib.h>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <sys/socket.h>
#include <deque>

#include "status/Page.h"
#include "status/StationModel.h"

namespace tarvo::status {
namespace {

constexpr char kSecurityPolicy[] =
    "default-src 'self'; img-src 'self'; style-src 'self'; script-src 'self'; connect-src 'self'; "
    "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
// A comment line keeps an idle stream alive and finds clients that went away.
constexpr auto kKeepAlive = std::chrono::seconds(15);
// The server's threads: every event stream holds one, and requests need a few more.
constexpr std::size_t kThreads = StatusServer::kMaxEventClients + 8;

void SetCommonHeaders(httplib::Response& res)
{
    res.set_header("Content-Security-Policy", kSecurityPolicy);
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Referrer-Policy", "no-referrer");
    res.set_header("Cache-Control", "no-store");
}

std::string SseEvent(const std::string& name, const std::string& data)
{
    // The data is one line of JSON (control characters are escaped in it).
    return "event: " + name + "\ndata: " + data + "\n\n";
}

// The words of tarvo_port_state: every state a port can show.
const char* const kStateWords[] = {"CLOSE", "READY", "ERASE", "DOWNLOAD", "COMPLETE", "ERROR", kNoDevice};

}  // namespace

struct StatusServer::Client {
    std::condition_variable wake;
    std::deque<std::string> out;
    std::size_t bytes = 0;
    bool dropped = false;    // fell behind: its stream ends without the rest
    bool finishing = false;  // the station's job ended: send what is buffered, then end
};

bool ParseListen(const std::string& text, ListenAddress& out, std::string& error)
{
    ListenAddress parsed;
    std::string port = text;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "--listen " + text + ": expected [ADDRESS]:PORT";
            return false;
        }
        parsed.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        parsed.host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    char* end = nullptr;
    const long number = port.empty() ? -1 : std::strtol(port.c_str(), &end, 10);
    if (parsed.host.empty() || port.empty() || *end != '\0' || number < 0 || number > 65535) {
        error = "--listen " + text + ": expected [ADDRESS:]PORT with a port from 0 to 65535";
        return false;
    }
    parsed.port = static_cast<int>(number);
    out = parsed;
    return true;
}

StatusServer::StatusServer(StationModel& model) : m_model(model), m_http(std::make_unique<httplib::Server>())
{
    httplib::Server& http = *m_http;
    http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    http.set_payload_max_length(kMaxBodyBytes);
    // One request per connection, and short time-outs: the library polls an idle kept-alive
    // connection, and stopping the server waits for every connection's thread, so none may
    // linger (a client that stalls mid-request or stops reading is cut off after 1 s).
    http.set_keep_alive_max_count(1);
    http.set_keep_alive_timeout(1);
    http.set_read_timeout(1, 0);
    http.set_write_timeout(1, 0);
    // SO_REUSEADDR only: the library's default adds SO_REUSEPORT, with which a second station on
    // the same port would bind too and take half of the requests meant for the first.
    http.set_socket_options([](int sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    // Read-only: a method other than GET (or HEAD) is refused before any route is looked up.
    http.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        SetCommonHeaders(res);
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD");
            res.set_content("method not allowed\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A request to this server has no body; one that brings one is refused unread (the
        // connection closes, so its bytes are never taken for a request).
        if (req.has_header("Transfer-Encoding") ||
            (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0")) {
            res.status = 413;
            res.set_header("Connection", "close");
            res.set_content("a request to this server has no body\n", "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    http.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        SetCommonHeaders(res);
        if (res.body.empty()) {
            const std::string text = res.status == 404 ? "not found\n" : "bad request\n";
            res.set_content(text, "text/plain; charset=utf-8");
        }
    });

    http.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kPageHtml, "text/html; charset=utf-8");
    });
    http.Get("/app.js", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kPageScript, "text/javascript; charset=utf-8");
    });
    http.Get("/style.css", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(kPageStyle, "text/css; charset=utf-8");
    });
    http.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(StatusJson(m_model.Snapshot()), "application/json");
    });
    http.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(Metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    http.Get("/events", [this](const httplib::Request&, httplib::Response& res) {
        auto client = std::make_shared<Client>();
        bool admitted = false;
        // The first event is the state at this moment: read under the model's mutex, so no event
        // of the model falls between it and the stream's next events.
        m_model.Read([&](const StationSnapshot& snapshot) {
            std::lock_guard lock(m_mutex);
            if (m_finishing || m_clients.size() >= kMaxEventClients)
                return;
            std::string first = SseEvent("status", StatusJson(snapshot));
            client->bytes = first.size();
            client->out.push_back(std::move(first));
            m_clients.insert(client);
            admitted = true;
        });
        if (!admitted) {
            res.status = 503;
            res.set_content("too many event clients\n", "text/plain; charset=utf-8");
            return;
        }
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, client](std::size_t, httplib::DataSink& sink) {
                std::unique_lock lock(m_mutex);
                client->wake.wait_for(lock, kKeepAlive, [&] {
                    return !client->out.empty() || client->dropped || client->finishing;
                });
                // The events that follow within the batching interval go out with this one (they
                // do not wake this thread: OnEvent wakes it only when its buffer was empty).
                if (!client->out.empty() && !client->dropped && !client->finishing)
                    client->wake.wait_for(lock, kEventBatch, [&] { return client->dropped || client->finishing; });
                if (client->dropped)
                    return false;
                std::string chunk;
                for (const std::string& event : client->out)
                    chunk += event;
                client->out.clear();
                client->bytes = 0;
                const bool last = client->finishing;
                lock.unlock();
                if (chunk.empty() && !last)
                    chunk = ": keep-alive\n\n";
                if (!chunk.empty() && !sink.write(chunk.data(), chunk.size()))
                    return false;
                if (last)
                    sink.done();
                return true;
            },
            [this, client](bool) {
                std::lock_guard lock(m_mutex);
                m_clients.erase(client);
                m_gone.notify_all();
            });
    });

    m_observer = m_model.Subscribe([this](const StationEvent& event) { OnEvent(event.name, event.data); });
}

StatusServer::~StatusServer()
{
    m_model.Unsubscribe(m_observer);
    Finish(std::chrono::milliseconds(0));
}

bool StatusServer::Start(const ListenAddress& address, std::string& error)
{
    const std::string where = address.host.find(':') != std::string::npos
                                  ? "[" + address.host + "]:" + std::to_string(address.port)
                                  : address.host + ":" + std::to_string(address.port);
    // The library reports a failed name lookup only as a failed bind: look the name up first so
    // the message says what went wrong.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (const int lookup = ::getaddrinfo(address.host.c_str(), nullptr, &hints, &found); lookup != 0) {
        error = "status server: cannot listen on " + where + ": " + ::gai_strerror(lookup);
        return false;
    }
    ::freeaddrinfo(found);
    errno = 0;
    if (address.port == 0)
        m_port = m_http->bind_to_any_port(address.host);
    else
        m_port = m_http->bind_to_port(address.host, address.port) ? address.port : -1;
    if (m_port <= 0) {
        const int code = errno;
        error = "status server: cannot listen on " + where + ": " +
                (code != 0 ? std::string(std::strerror(code)) : std::string("address not usable"));
        m_port = 0;
        return false;
    }
    m_thread = std::thread([this] { m_http->listen_after_bind(); });
    return true;
}

void StatusServer::OnEvent(const std::string& name, const std::string& data)
{
    const std::string event = SseEvent(name, data);
    std::lock_guard lock(m_mutex);
    for (const auto& client : m_clients) {
        if (client->dropped || client->finishing)
            continue;
        if (client->bytes + event.size() > kClientBufferBytes) {
            // Too far behind: the client is dropped rather than held up or held on to.
            client->dropped = true;
            client->out.clear();
            client->bytes = 0;
            client->wake.notify_one();
        } else {
            // Only the first event of a batch wakes the client's thread; the rest join it.
            const bool first = client->out.empty();
            client->out.push_back(event);
            client->bytes += event.size();
            if (first)
                client->wake.notify_one();
        }
    }
}

void StatusServer::Finish(std::chrono::milliseconds limit)
{
    {
        std::unique_lock lock(m_mutex);
        m_finishing = true;
        for (const auto& client : m_clients) {
            client->finishing = true;
            client->wake.notify_one();
        }
        m_gone.wait_for(lock, limit, [this] { return m_clients.empty(); });
        // Streams still open now are cut off.
        for (const auto& client : m_clients) {
            client->dropped = true;
            client->wake.notify_one();
        }
    }
    if (m_thread.joinable()) {
        m_http->stop();
        m_thread.join();
    }
}

std::size_t StatusServer::EventClients() const
{
    std::lock_guard lock(m_mutex);
    return m_clients.size();
}

std::string StatusServer::Metrics() const
{
    const StationSnapshot s = m_model.Snapshot();
    prometheus::Registry registry;
    auto& runs = prometheus::BuildCounter()
                     .Name("tarvo_runs_total")
                     .Help("Finished runs by port and the record's result")
                     .Register(registry);
    auto& duration = prometheus::BuildHistogram()
                         .Name("tarvo_run_duration_seconds")
                         .Help("Total time of finished runs (the record's total_ms)")
                         .Register(registry);
    auto& state = prometheus::BuildGauge()
                      .Name("tarvo_port_state")
                      .Help("1 for the port's current state word, 0 for the others")
                      .Register(registry);
    auto& progress = prometheus::BuildGauge()
                         .Name("tarvo_port_progress_ratio")
                         .Help("Progress of the port's current download, 0 to 1")
                         .Register(registry);
    auto& bytes = prometheus::BuildCounter()
                      .Name("tarvo_bytes_sent_total")
                      .Help("Bytes of download images sent by finished runs")
                      .Register(registry);
    auto& pending = prometheus::BuildGauge()
                        .Name("tarvo_forward_pending")
                        .Help("Finished records waiting to be forwarded to the line database")
                        .Register(registry);
    auto& setAside = prometheus::BuildGauge()
                         .Name("tarvo_forward_set_aside")
                         .Help("Records the line database refused, kept aside")
                         .Register(registry);
    auto& lastSuccess = prometheus::BuildGauge()
                            .Name("tarvo_forward_last_success_timestamp_seconds")
                            .Help("Unix time of the last successful forward (0: none yet)")
                            .Register(registry);
    auto& recordOk = prometheus::BuildGauge()
                         .Name("tarvo_record_ok")
                         .Help("1 while the station's record can be written")
                         .Register(registry);
    auto& build = prometheus::BuildGauge().Name("tarvo_build_info").Help("The station's version").Register(registry);

    for (const PortState& p : s.ports) {
        const std::string port = std::to_string(p.port);
        for (const auto& [result, count] : p.results)
            runs.Add({{"station", s.station}, {"port", port}, {"result", result}}).Increment(static_cast<double>(count));
        std::vector<double> increments(p.durationBuckets.begin(), p.durationBuckets.end());
        duration.Add({{"station", s.station}, {"port", port}}, DurationBuckets()).ObserveMultiple(increments, p.durationSum);
        for (const char* word : kStateWords)
            state.Add({{"station", s.station}, {"port", port}, {"state", word}}).Set(p.state == word ? 1 : 0);
        progress.Add({{"station", s.station}, {"port", port}}).Set(p.progress / 100.0);
        bytes.Add({{"station", s.station}, {"port", port}}).Increment(static_cast<double>(p.bytesSent));
    }
    pending.Add({{"station", s.station}}).Set(static_cast<double>(s.forward.pending));
    setAside.Add({{"station", s.station}}).Set(static_cast<double>(s.forward.setAside));
    lastSuccess.Add({{"station", s.station}}).Set(s.forward.lastSuccess.value_or(0));
    recordOk.Add({{"station", s.station}}).Set(s.recordProblem.empty() ? 1 : 0);
    build.Add({{"version", s.version}}).Set(1);
    return prometheus::TextSerializer().Serialize(registry.Collect());
}

}  // namespace tarvo::status
