// The station's status server: a read-only HTTP server over the station model.
//
//   GET /            the live page (HTML; its script and style sheet at /app.js and /style.css)
//   GET /api/status  the model as one JSON object (status/StationModel.h StatusJson)
//   GET /events      Server-Sent Events: one "status" event on connect, then one event for each
//                    of the model's events ("report", "record", "port", "station")
//   GET /metrics     Prometheus text exposition (prometheus-cpp)
// Every other path is 404, every method but GET and HEAD 405, a request with a body 413,
// a header or request line over the HTTP library's bounds 4xx. No request changes the station.
// Pages carry a Content-Security-Policy that allows only the server's own origin.
//
// Engines never wait for a client: the model's events are appended to each client's bounded
// buffer (kClientBufferBytes); a client that falls that far behind is dropped. A stream's
// thread writes what gathered in its buffer at most once per kEventBatch, so the events of many
// ports cost each client a few wake-ups a second, not one per event. At most
// kMaxEventClients event streams are served at once; more get 503.
//
// Threading: Start, Finish and the destructor on the owner's thread; the server's own threads
// (the HTTP library's listener and its pool) serve the requests. The model's observer runs on
// whichever thread updated the model and only appends to buffers under the server's mutex.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

namespace tarvo::status {

class StationModel;

struct ListenAddress {
    std::string host = "127.0.0.1";
    int port = 0;  // 0: any free port (tests)
};

// Parses "PORT", "ADDR:PORT" or "[IPV6]:PORT". False with a message when it is not one.
bool ParseListen(const std::string& text, ListenAddress& out, std::string& error);

class StatusServer {
public:
    static constexpr std::size_t kMaxEventClients = 32;
    static constexpr std::size_t kClientBufferBytes = 256 * 1024;
    static constexpr std::size_t kMaxBodyBytes = 64 * 1024;
    // An event stream's thread, woken by an event, gathers what follows for this long and writes
    // it all at once: a burst of reports costs each client one wake-up and one write.
    static constexpr std::chrono::milliseconds kEventBatch{100};

    explicit StatusServer(StationModel& model);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Binds the address and starts serving. False with a message naming the address and the
    // reason when it cannot be bound.
    bool Start(const ListenAddress& address, std::string& error);
    // The bound port (after Start).
    int Port() const { return m_port; }
    // Ends every event stream once its buffered events are sent, waiting at most `limit` for
    // the clients to take them, then stops the server. Called when the station's job has ended,
    // so its last events reach the clients.
    void Finish(std::chrono::milliseconds limit);
    // Event streams open now (tests).
    std::size_t EventClients() const;

private:
    struct Client;
    void OnEvent(const std::string& name, const std::string& data);
    std::string Metrics() const;

    StationModel& m_model;
    std::unique_ptr<httplib::Server> m_http;
    std::thread m_thread;
    int m_port = 0;
    int m_observer = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_gone;  // a client's stream ended
    std::set<std::shared_ptr<Client>> m_clients;
    bool m_finishing = false;
};

}  // namespace tarvo::status
