// The choice of MIDI system on Linux, over two backends of the test's own in
// place of the sequencer's and JACK's: which are started, in what order,
// which is chosen, and the one line said when none is.
#include <gtest/gtest.h>

#include <string>

#include "platform/linux/midi/midi_backend_linux.h"

namespace {

struct Machine {
    bool alsa_starts, alsa_absent, jack_starts;
};
Machine g_machine;
std::string g_started;  // the systems started, in order: "alsa jack"

void started(const char* system, const char* client_name) {
    g_started += (g_started.empty() ? "" : " ") + std::string(system);
    EXPECT_STREQ(client_name, "Z");
}
const char* start_alsa(const char* client_name) {
    started("alsa", client_name);
    if (g_machine.alsa_starts) return nullptr;
    return g_machine.alsa_absent ? "no ALSA sequencer (/dev/snd/seq)"
                                 : "no permission to use the ALSA sequencer (/dev/snd/seq)";
}
const char* start_jack(const char* client_name) {
    started("jack", client_name);
    return g_machine.jack_starts ? nullptr : "no JACK server running";
}
bool alsa_absent() { return g_machine.alsa_absent; }
bool jack_absent() { return true; }
// The rest is never called by the choice.
int no_count() { return 0; }
void no_name(int, char (&)[MIDI_NAME_FIELD]) {}
MidiHandle no_open(int) { return nullptr; }
void no_send(MidiHandle, uint32_t) {}
void no_panel_send(uint32_t) {}
void no_stop() {}

MidiBackend fake_backend(MidiSystem system, const char* missing, bool (*absent)(), const char* (*start)(const char*)) {
    return {system,   missing, absent,  start,   no_count,      no_name, no_open,
            no_count, no_name, no_open, no_send, no_panel_send, no_stop};
}

}  // namespace

extern const MidiBackend ALSA_BACKEND = fake_backend(MIDI_SYSTEM_ALSA, "no ALSA sequencer", alsa_absent, start_alsa);
extern const MidiBackend JACK_BACKEND =
    fake_backend(MIDI_SYSTEM_JACK, "no JACK server running", jack_absent, start_jack);

namespace {

constexpr MidiSystem AUTO = MIDI_SYSTEM_AUTO, ALSA = MIDI_SYSTEM_ALSA, JACK = MIDI_SYSTEM_JACK, NONE = MIDI_SYSTEM_NONE;

struct Choice {
    const char* what;
    MidiSystem asked;
    Machine machine;
    MidiSystem chosen;
    const char* started;
    const char* line;  // what is missing, as the one line says it
};

TEST(MidiBackendLinux, AutoTakesTheSequencerFirst) {
    const char* nothing = "no MIDI system found (no ALSA sequencer, no JACK server running)";
    const char* permission = "no permission to use the ALSA sequencer (/dev/snd/seq)";
    const std::string neither = permission + std::string(", and no JACK server running");
    const Choice cases[] = {
        {"both there", AUTO, {true, false, true}, ALSA, "alsa", ""},
        {"sequencer unusable", AUTO, {false, false, true}, JACK, "alsa jack", ""},
        {"no sequencer", AUTO, {false, true, true}, JACK, "alsa jack", ""},
        {"neither there", AUTO, {false, true, false}, NONE, "alsa jack", nothing},
        {"sequencer unusable, no server", AUTO, {false, false, false}, NONE, "alsa jack", neither.c_str()},
        {"JACK asked for, both there", JACK, {true, false, true}, JACK, "jack", ""},
        {"sequencer asked for, unusable", ALSA, {false, false, true}, NONE, "alsa", permission},
        {"none asked for", NONE, {true, false, true}, NONE, "", ""},
    };
    for (const Choice& c : cases) {
        for (const MidiUse use : {MIDI_USE_PANEL, MIDI_USE_LISTING}) {
            SCOPED_TRACE(std::string(c.what) + (use == MIDI_USE_PANEL ? ", panel" : ", listing"));
            g_machine = c.machine;
            g_started.clear();
            testing::internal::CaptureStderr();
            const MidiBackend& chosen = midi_start_backend(c.asked, use, "Z");
            const std::string works =
                use == MIDI_USE_PANEL ? "the panel runs without MIDI devices" : "no devices to list";
            EXPECT_EQ(testing::internal::GetCapturedStderr(),
                      *c.line ? std::string("zorve-button: ") + c.line + "; " + works + "\n" : "");
            EXPECT_EQ(chosen.system, c.chosen);
            EXPECT_EQ(g_started, c.started);
        }
    }
}

// The order is data: another list, another first choice.
TEST(MidiBackendLinux, AutoFollowsTheListItIsGiven) {
    g_machine = {true, false, true};
    g_started.clear();
    const MidiBackend* const jack_first[] = {&JACK_BACKEND, &ALSA_BACKEND};
    EXPECT_EQ(midi_start_backend(MIDI_SYSTEM_AUTO, MIDI_USE_PANEL, "Z", jack_first).system, MIDI_SYSTEM_JACK);
    EXPECT_EQ(g_started, "jack");
}

}  // namespace
