// Session-manager client (app/session.h) over liblo: the NSM protocol on OSC
// over UDP. liblo's server thread receives; the window thread waits for the
// open at start and answers saves. The program asks for none of the optional
// capabilities: it cannot switch sessions without a restart and has no
// optional interface, dirty state or progress to report.
#include <lo/lo.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

#include "app/session.h"
#include "base/program.h"

namespace {

constexpr const char* SESSION_APP_NAME = "Zorve Button";
constexpr const char* SESSION_CAPABILITIES = ":";
// A manager answers at once; silence this long means nobody listens.
constexpr auto SESSION_WAIT = std::chrono::seconds(3);
constexpr const char* STATE_SUFFIX = ".conf";

struct Session {
    lo_server_thread server = nullptr;
    lo_address manager = nullptr;
    void (*wake)() = nullptr;
    std::mutex lock;  // guards the fields below, written on liblo's thread
    std::condition_variable changed;
    bool opened = false;
    std::string refused;  // the manager's error to the announce
    SessionOpen open;
    bool save_pending = false;
};

Session g_session;

void reply(const char* path, const char* text) {
    lo_send_from(g_session.manager, lo_server_thread_get_server(g_session.server), LO_TT_IMMEDIATE, "/reply", "ss",
                 path, text);
}

int on_error(const char*, const char*, lo_arg** argv, int argc, lo_message, void*) {
    if (argc < 3 || std::string(&argv[0]->s) != "/nsm/server/announce") return 0;
    std::lock_guard<std::mutex> hold(g_session.lock);
    g_session.refused = &argv[2]->s;
    g_session.changed.notify_all();
    return 0;
}

int on_open(const char*, const char*, lo_arg** argv, int, lo_message, void*) {
    std::lock_guard<std::mutex> hold(g_session.lock);
    g_session.open.state_file = std::string(&argv[0]->s) + STATE_SUFFIX;
    g_session.open.client_name = &argv[2]->s;
    g_session.opened = true;
    g_session.changed.notify_all();
    return 0;
}

int on_save(const char*, const char*, lo_arg**, int, lo_message, void*) {
    {
        std::lock_guard<std::mutex> hold(g_session.lock);
        g_session.save_pending = true;
    }
    if (g_session.wake) g_session.wake();
    return 0;
}

void error_handler(int, const char*, const char*) {}

SessionStart fail(const char* what, const char* url) {
    report_error("%s at NSM_URL '%s'; the panel runs outside the session", what, url);
    session_stop();
    return SESSION_FAILED;
}

}  // namespace

SessionStart session_start(SessionOpen& open, void (*wake)()) {
    const char* url = std::getenv("NSM_URL");
    if (!url || !*url) return SESSION_NONE;
    // liblo would print its own line about an unknown protocol.
    if (lo_url_get_protocol_id(url) < 0) return fail("no session manager address", url);
    g_session.manager = lo_address_new_from_url(url);
    if (!g_session.manager) return fail("no session manager address", url);
    g_session.server =
        lo_server_thread_new_with_proto(nullptr, lo_address_get_protocol(g_session.manager), error_handler);
    if (!g_session.server) return fail("no OSC port for the session manager", url);
    g_session.wake = wake;
    lo_server_thread_add_method(g_session.server, "/error", "sis", on_error, nullptr);
    lo_server_thread_add_method(g_session.server, "/nsm/client/open", "sss", on_open, nullptr);
    lo_server_thread_add_method(g_session.server, "/nsm/client/save", "", on_save, nullptr);
    lo_server_thread_start(g_session.server);
    const int sent = lo_send_from(g_session.manager, lo_server_thread_get_server(g_session.server), LO_TT_IMMEDIATE,
                                  "/nsm/server/announce", "sssiii", SESSION_APP_NAME, SESSION_CAPABILITIES,
                                  PROGRAM_NAME, 1, 2, int(getpid()));
    if (sent < 0) return fail("no session manager reachable", url);
    std::unique_lock<std::mutex> hold(g_session.lock);
    g_session.changed.wait_for(hold, SESSION_WAIT, [] { return g_session.opened || !g_session.refused.empty(); });
    if (!g_session.opened) {
        const std::string why = g_session.refused.empty() ? "no session manager answers"
                                                          : "the session manager refused: " + g_session.refused;
        hold.unlock();
        return fail(why.c_str(), url);
    }
    open = g_session.open;
    hold.unlock();
    reply("/nsm/client/open", "OK");
    return SESSION_OPENED;
}

void session_poll(const SessionState& state) {
    std::string file;
    {
        std::lock_guard<std::mutex> hold(g_session.lock);
        if (!g_session.save_pending) return;
        g_session.save_pending = false;
        file = g_session.open.state_file;
    }
    std::ofstream out(file, std::ios::trunc);
    out << session_state_text(state);
    out.flush();
    if (out) {
        reply("/nsm/client/save", "OK");
        return;
    }
    lo_send_from(g_session.manager, lo_server_thread_get_server(g_session.server), LO_TT_IMMEDIATE, "/error", "sis",
                 "/nsm/client/save", -1, ("could not write " + file).c_str());
}

bool session_active() { return g_session.server && g_session.opened; }

void session_stop() {
    if (g_session.server) lo_server_thread_free(g_session.server);
    if (g_session.manager) lo_address_free(g_session.manager);
    g_session.server = nullptr;
    g_session.manager = nullptr;
}
