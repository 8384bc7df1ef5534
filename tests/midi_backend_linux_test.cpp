// The choice of MIDI system on Linux, over two backends of the test's own in
// place of the sequencer's and JACK's: which are started, in what order,
// which is chosen, and the one line said when none is.
#include <gtest/gtest.h>

#include <string>

#include "midi/midi_backend_linux.h"

namespace {

struct Machine {
    bool alsa_starts, alsa_absent, jack_starts;
};
Machine g_machine;
std::string g_started;  // "<system> <client name>;" per start, in order

const char* start_alsa(const char* client_name) {
    g_started += std::string("alsa ") + client_name + ";";
    if (g_machine.alsa_starts) return nullptr;
    return g_machine.alsa_absent ? "no ALSA sequencer (/dev/snd/seq)"
                                 : "no permission to use the ALSA sequencer (/dev/snd/seq)";
}
const char* start_jack(const char* client_name) {
    g_started += std::string("jack ") + client_name + ";";
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

}  // namespace

extern const MidiBackend ALSA_BACKEND = {MIDI_SYSTEM_ALSA, "no ALSA sequencer",
                                         alsa_absent,      start_alsa,
                                         no_count,         no_name,
                                         no_open,          no_count,
                                         no_name,          no_open,
                                         no_send,          no_panel_send,
                                         no_stop};
extern const MidiBackend JACK_BACKEND = {MIDI_SYSTEM_JACK, "no JACK server running",
                                         jack_absent,      start_jack,
                                         no_count,         no_name,
                                         no_open,          no_count,
                                         no_name,          no_open,
                                         no_send,          no_panel_send,
                                         no_stop};

namespace {

struct Choice {
    const char* what;
    MidiSystem asked;
    MidiUse use;
    Machine machine;
    MidiSystem chosen;
    const char* started;
    const char* line;
};

TEST(MidiBackendLinux, AutoTakesTheSequencerFirst) {
    const Choice cases[] = {
        {"both there", MIDI_SYSTEM_AUTO, MIDI_USE_PANEL, {true, false, true}, MIDI_SYSTEM_ALSA, "alsa Z;", ""},
        {"sequencer unusable",
         MIDI_SYSTEM_AUTO,
         MIDI_USE_PANEL,
         {false, false, true},
         MIDI_SYSTEM_JACK,
         "alsa Z;jack Z;",
         ""},
        {"no sequencer", MIDI_SYSTEM_AUTO, MIDI_USE_PANEL, {false, true, true}, MIDI_SYSTEM_JACK, "alsa Z;jack Z;", ""},
        {"neither there",
         MIDI_SYSTEM_AUTO,
         MIDI_USE_PANEL,
         {false, true, false},
         MIDI_SYSTEM_NONE,
         "alsa Z;jack Z;",
         "zorve-button: no MIDI system found (no ALSA sequencer, no JACK server running); the panel runs without "
         "MIDI devices\n"},
        {"sequencer unusable, no server",
         MIDI_SYSTEM_AUTO,
         MIDI_USE_LISTING,
         {false, false, false},
         MIDI_SYSTEM_NONE,
         "alsa Z;jack Z;",
         "zorve-button: no permission to use the ALSA sequencer (/dev/snd/seq), and no JACK server running; no "
         "devices to list\n"},
        {"JACK asked for, both there",
         MIDI_SYSTEM_JACK,
         MIDI_USE_PANEL,
         {true, false, true},
         MIDI_SYSTEM_JACK,
         "jack Z;",
         ""},
        {"sequencer asked for, unusable",
         MIDI_SYSTEM_ALSA,
         MIDI_USE_PANEL,
         {false, false, true},
         MIDI_SYSTEM_NONE,
         "alsa Z;",
         "zorve-button: no permission to use the ALSA sequencer (/dev/snd/seq); the panel runs without MIDI "
         "devices\n"},
        {"none asked for", MIDI_SYSTEM_NONE, MIDI_USE_PANEL, {true, false, true}, MIDI_SYSTEM_NONE, "", ""},
    };
    for (const Choice& c : cases) {
        SCOPED_TRACE(c.what);
        g_machine = c.machine;
        g_started.clear();
        testing::internal::CaptureStderr();
        const MidiBackend& chosen = midi_start_backend(c.asked, c.use, "Z");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.line);
        EXPECT_EQ(chosen.system, c.chosen);
        EXPECT_EQ(g_started, c.started);
    }
}

// The order is data: another list, another first choice.
TEST(MidiBackendLinux, AutoFollowsTheListItIsGiven) {
    g_machine = {true, false, true};
    g_started.clear();
    const MidiBackend* const jack_first[] = {&JACK_BACKEND, &ALSA_BACKEND};
    EXPECT_EQ(midi_start_backend(MIDI_SYSTEM_AUTO, MIDI_USE_PANEL, "Z", jack_first).system, MIDI_SYSTEM_JACK);
    EXPECT_EQ(g_started, "jack Z;");
}

}  // namespace
