// The map file: every field read, every fault with its line and column, the
// table kept for keys the file does not name, what mapped keys put on the
// wire (program change with bank, latch, channel, value), the computer keys
// it gives and takes, and the map read again while keys are held.
#include <cstdio>
#include <fstream>

#include "app/key_list.h"
#include "app/map_file.h"
#include "app/options.h"
#include "app/shell.h"
#include "app/user_map.h"
#include "midi/panel_connect.h"
#include "test_util.h"

namespace {

constexpr int PAD_1 = 74, PAD_2 = 75, TRACK_1 = 58, PLAY = 15, KEYPAD_1 = 46;

PanelMap parsed(const std::string& text) {
    const MapLoad load = parse_map(text, "map.toml");
    EXPECT_TRUE(load.ok) << load.error;
    return load.map;
}

TEST(MapFile, EveryFieldOfAKey) {
    const PanelMap map = parsed(R"(connect = ["fluidsynth", "Synth input"]
[keys]
"pad 1" = { note = 36, channel = 10, value = 90, key = "q" }
play = { control = 64, latch = true }
"Track Select 1" = { program = 5, bank = 130 }
"keypad 1" = { key = "" }
)");
    const KeyMessage& pad = map.sends[PAD_1];
    EXPECT_TRUE(pad.set);
    EXPECT_EQ(pad.kind, SEND_NOTE);
    EXPECT_EQ(pad.number, 36);
    EXPECT_EQ(pad.channel, 9);
    EXPECT_EQ(pad.value, 90);
    EXPECT_FALSE(pad.latch);
    EXPECT_EQ(map.computer_key[PAD_1], POS_Q);
    EXPECT_EQ(map.sends[PLAY].kind, SEND_CONTROL);
    EXPECT_EQ(map.sends[PLAY].number, 64);
    EXPECT_TRUE(map.sends[PLAY].latch);
    EXPECT_EQ(map.sends[PLAY].channel, -1);  // the panel's
    EXPECT_EQ(map.sends[PLAY].value, 0);     // the press's
    EXPECT_EQ(map.sends[TRACK_1].kind, SEND_PROGRAM);
    EXPECT_EQ(map.sends[TRACK_1].number, 5);
    EXPECT_EQ(map.sends[TRACK_1].bank, 130);
    // A key named with no message keeps the table's.
    EXPECT_EQ(map.sends[KEYPAD_1].kind, SEND_NOTE);
    EXPECT_EQ(map.sends[KEYPAD_1].number, 102);
    EXPECT_EQ(map.computer_key[KEYPAD_1], POS_NONE);
    EXPECT_TRUE(map.names_computer_keys);
    EXPECT_EQ(map.connect, (std::vector<std::string>{"fluidsynth", "Synth input"}));
    // Unnamed keys keep the table.
    EXPECT_FALSE(map.sends[PAD_2].set);
    EXPECT_EQ(map.computer_key[PAD_2], COMPUTER_KEY_DEFAULT);
}

TEST(MapFile, ComputerKeysMoveAndTheDefaultMapKeepsTheRest) {
    const PanelMap map = parsed("[keys]\n\"pad 1\" = { key = \"Q\" }\n\"keypad 1\" = { key = \"\" }\n");
    EXPECT_EQ(map_played_key(map, POS_Q), PAD_1);  // given
    EXPECT_EQ(map_played_key(map, POS_Z), -1);     // pad 1's old key now plays nothing
    EXPECT_EQ(map_played_key(map, POS_X), PAD_2);  // untouched
    EXPECT_EQ(map_played_key(map, POS_KP_1), -1);  // taken away
    EXPECT_EQ(map_computer_key(map, PAD_1), POS_Q);
    EXPECT_EQ(map_computer_key(map, PAD_1 + 8), POS_NONE);  // pad 9 lost Q to pad 1
    EXPECT_EQ(map_computer_key(map, KEYPAD_1), POS_NONE);
    EXPECT_EQ(map_computer_key(map, PAD_2), POS_X);
    EXPECT_FALSE(parsed("[keys]\n\"pad 1\" = { note = 1 }\n").names_computer_keys);
}

struct Fault {
    const char* text;
    const char* line;  // what the one line says after "zorve-button: "
};

const Fault FAULTS[] = {
    {"[keys]\n\"pad 1\" = { note = 36 }\n\n\"pad 17\" = { note = 1 }\n",
     "map.toml:4:1: pad 17 is not a key of the panel (pad 1-16)"},
    {"[keys]\n  transport = { note = 1 }\n",
     "map.toml:2:3: 'transport' is not a key of the panel (zorve-button --list-keys names them)"},
    {"[keys]\n\"transport PLAYS\" = { note = 1 }\n",
     "map.toml:2:1: transport PLAYS is not a key of the panel (transport: REC, DUB, STOP, PLAY, START, <<BAR, "
     "BAR>>, <<STEP, STEP>>)"},
    // A line break in a key's name (an escape in the file) is written as one.
    {"[keys]\n\"pad\\n1\" = { note = 1 }\n",
     "map.toml:2:1: 'pad\\n1' is not a key of the panel (zorve-button --list-keys names them)"},
    {"[keys]\n\"1\" = { note = 1 }\n", "map.toml:2:1: '1' names 3 keys (keypad 1, track select 1, pad 1): say which"},
    {"[keys]\n\"pad 1\" = { note = 128 }\n", "map.toml:2:20: pad 1: note must be a whole number from 0 to 127"},
    {"[keys]\n\"pad 1\" = { control = -1 }\n", "map.toml:2:23: pad 1: control must be a whole number from 0 to 127"},
    {"[keys]\n\"pad 1\" = { note = 1.5 }\n", "map.toml:2:20: pad 1: note must be a whole number from 0 to 127"},
    {"[keys]\n\"pad 1\" = { channel = 0 }\n", "map.toml:2:23: pad 1: channel must be a whole number from 1 to 16"},
    {"[keys]\n\"pad 1\" = { channel = 17 }\n", "map.toml:2:23: pad 1: channel must be a whole number from 1 to 16"},
    {"[keys]\n\"pad 1\" = { value = 0 }\n", "map.toml:2:21: pad 1: value must be a whole number from 1 to 127"},
    {"[keys]\n\"pad 1\" = { program = 1, bank = 16384 }\n",
     "map.toml:2:33: pad 1: bank must be a whole number from 0 to 16383"},
    {"[keys]\n\"pad 1\" = { note = 1, bank = 2 }\n", "map.toml:2:30: pad 1: bank goes with program"},
    {"[keys]\n\"pad 1\" = { program = 1, latch = true }\n", "map.toml:2:34: pad 1: a program change cannot latch"},
    {"[keys]\n\"pad 1\" = { program = 1, value = 3 }\n", "map.toml:2:34: pad 1: a program change has no value"},
    {"[keys]\n\"pad 1\" = { note = 1, control = 2 }\n",
     "map.toml:2:23: pad 1: note and control both given; a key sends one message"},
    {"[keys]\n\"pad 1\" = { latch = 1 }\n", "map.toml:2:21: pad 1: latch must be true or false"},
    {"[keys]\n\"pad 1\" = { velocity = 1 }\n",
     "map.toml:2:13: pad 1: 'velocity' is not a setting of a key (note, control, program, channel, value, bank, "
     "latch, key)"},
    {"[keys]\n\"pad 1\" = 36\n", "map.toml:2:11: pad 1: give a table, such as { note = 36 }"},
    {"[keys]\n\"pad 1\" = { key = \"Q2\" }\n", "map.toml:2:19: pad 1: 'Q2' is not a computer key the panel knows"},
    {"[keys]\n\"pad 1\" = { key = 5 }\n",
     "map.toml:2:19: pad 1: key must be a computer key's name in quotes, such as \"Z\", or \"\""},
    {"[keys]\n\"pad 1\" = { key = \"Escape\" }\n", "map.toml:2:19: pad 1: Escape lets go of every key; it plays none"},
    // The key clash: the second use is the fault, and the line says where the first was.
    {"[keys]\n\"pad 1\" = { key = \"Q\" }\n\"pad 2\" = { key = \"q\" }\n",
     "map.toml:3:19: pad 2: computer key Q already plays pad 1 (line 2)"},
    {"[keys]\n\"pad 1\" = {}\n\"PAD 1\" = {}\n", "map.toml:3:1: pad 1 is named twice"},
    {"keys = 3\n", "map.toml:1:8: keys must be a table of panel keys"},
    {"connect = \"fluidsynth\"\n",
     "map.toml:1:11: connect must be a list of port names in quotes, such as [\"fluidsynth\"]"},
    {"connect = [\"a\", \"\"]\n",
     "map.toml:1:17: connect must be a list of port names in quotes, such as [\"fluidsynth\"]"},
    {"colour = 3\n", "map.toml:1:1: 'colour' is not a setting of the map (keys, connect)"},
    // Beyond ASCII where TOML has no place for it (toml++ would not reach
    // its own report): the character's place.
    {"[keys]\n\"pad 1\" = { note = 36 } \xC4\xB1\n",
     "map.toml:2:25: a character beyond ASCII outside quotes and comments"},
    {"# r\xC3\xA9glage\n\xC4\xB1 = 1\n", "map.toml:2:1: a character beyond ASCII outside quotes and comments"},
    {"connect = [\"\"\"\\\n  \xC2\xA7\"\"\"]\n",
     "map.toml:2:3: a character beyond ASCII after a backslash in a multi-line string; write it as \\uXXXX"},
    {"connect = [\"\"\"\\\xC4\xB1\"\"\"]\n",
     "map.toml:1:16: a character beyond ASCII after a backslash in a multi-line string; write it as \\uXXXX"},
    {"connect = 0x1[\"\xC2\xA7\"]\n", "map.toml:1:16: a character beyond ASCII outside quotes and comments"},
    // Where TOML lets strings begin, they may hold them: the fault is then the map's own.
    {"x = [1, \"\xC3\xA9\", {a = '\xC3\xA9'}] # \xC3\xA9\n",
     "map.toml:1:1: 'x' is not a setting of the map (keys, connect)"},
    {"[\"k\xC3\xA9ys\"]\n", "map.toml:1:2: 'k\xC3\xA9ys' is not a setting of the map (keys, connect)"},
    // Not TOML at all: toml++'s own words, at its place.
    {"[keys\n", "map.toml:1:6: Error while parsing table header: expected ']', saw '\\n'"},
};

// Characters beyond ASCII where TOML has them: comments and every kind of
// string, escapes and a line-ending backslash around them, a byte order mark.
TEST(MapFile, CharactersBeyondAsciiInStringsAndComments) {
    const PanelMap map = parsed(
        "\xEF\xBB\xBF# f\xC3\xBCr Kanal 10\n"
        "connect = [\"S\xC3\xBDnth\", 'S\xC3\xBDnth 2', \"\"\"a\\\\ \\\"\xC3\xA9\\\" \\\n  b\"\"\", "
        "'''\xC3\xA9''', \"\\\\\xC3\xA9\"]\n"
        "[keys]\n\"pad 1\" = { note = 36 } # \xC4\xB1\n");
    EXPECT_EQ(map.connect, (std::vector<std::string>{"S\xC3\xBDnth", "S\xC3\xBDnth 2", "a\\ \"\xC3\xA9\" b", "\xC3\xA9",
                                                     "\\\xC3\xA9"}));
    EXPECT_EQ(map.sends[PAD_1].number, 36);
}

TEST(MapFile, EachFaultIsOneLineWithLineAndColumn) {
    for (const Fault& f : FAULTS) {
        const MapLoad load = parse_map(f.text, "map.toml");
        EXPECT_FALSE(load.ok) << f.text;
        EXPECT_EQ(load.error, f.line) << f.text;
    }
}

TEST(MapFile, DefaultPathPerPlatform) {
    EXPECT_EQ(default_map_path(false, "/x/cfg", "/home/u", nullptr), "/x/cfg/zorve-button/map.toml");
    EXPECT_EQ(default_map_path(false, "", "/home/u", nullptr), "/home/u/.config/zorve-button/map.toml");
    EXPECT_EQ(default_map_path(false, nullptr, nullptr, "C:\\A"), "");
    EXPECT_EQ(default_map_path(true, "/x", "/home/u", "C:\\Users\\u\\AppData\\Roaming"),
              "C:\\Users\\u\\AppData\\Roaming\\zorve-button\\map.toml");
    EXPECT_EQ(default_map_path(true, nullptr, nullptr, nullptr), "");
}

// ------------------------------------------------------- on the wire

struct MapSend : CoreTest {
    void use(const std::string& text) {
        open_outputs(2);
        use_map(parsed(text), "", {});
    }
    std::vector<uint32_t> sent() { return fake::sent_to(1); }
};

TEST_F(MapSend, ANoteOnItsChannelWithItsOwnValueAndUnnamedKeysAsBefore) {
    use("[keys]\n\"pad 1\" = { note = 36, channel = 10, value = 90 }\n");
    at(160, 490, EV_LEFT_DOWN);
    at(160, 490, EV_LEFT_UP);
    at(210, 490, EV_LEFT_DOWN);  // pad 2: the table's controller 17, the panel's channel
    at(210, 490, EV_LEFT_UP);
    EXPECT_EQ(sent(),
              (std::vector<uint32_t>{msg(0x99, 36, 90), msg(0x99, 36, 0), msg(0xB0, 17, 127), msg(0xB0, 17, 0)}));
}

TEST_F(MapSend, AProgramChangeSendsItsBankFirstAndNothingAtTheRelease) {
    use("[keys]\n\"track select 1\" = { program = 5, bank = 130, channel = 2 }\n\"track select 2\" = { program = 6 "
        "}\n");
    at(160, 460, EV_LEFT_DOWN);
    at(160, 460, EV_LEFT_UP);
    at(210, 460, EV_LEFT_DOWN);
    at(210, 460, EV_LEFT_UP);
    // 130 = 1 * 128 + 2; a program change is two bytes.
    EXPECT_EQ(sent(), (std::vector<uint32_t>{msg(0xB1, 0, 1), msg(0xB1, 32, 2), msg(0xC1, 5, 0), msg(0xC0, 6, 0)}));
}

TEST_F(MapSend, ALatchTurnsOnAtOnePressAndOffAtTheNextAndLooksHeldBetween) {
    use("[keys]\nPLAY = { control = 64, latch = true }\n");
    at(730, 400, EV_LEFT_DOWN);
    at(730, 400, EV_LEFT_UP);
    EXPECT_EQ(sent(), (std::vector<uint32_t>{msg(0xB0, 64, 127)}));
    EXPECT_TRUE(g_panel.sends.latched[PLAY]);
    hold_key(PLAY, HOLD_KEYBOARD, 100);  // the computer key: the second press
    let_go_key(PLAY, HOLD_KEYBOARD);
    EXPECT_EQ(sent(), (std::vector<uint32_t>{msg(0xB0, 64, 127), msg(0xB0, 64, 0)}));
    EXPECT_FALSE(g_panel.sends.latched[PLAY]);
}

// ------------------------------------------------------- read again

struct MapReload : CoreTest {
    std::string path = temp_path("zorve_map");
    void write(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    void SetUp() override {
        CoreTest::SetUp();
        open_outputs(2);
    }
    void TearDown() override {
        std::remove(path.c_str());
        CoreTest::TearDown();
    }
    void start(const std::string& text) {
        write(text);
        const MapLoad load = load_map_file(path);
        ASSERT_TRUE(load.ok) << load.error;
        use_map(load.map, path, {"given"});
    }
};

TEST_F(MapReload, HeldKeysAndLatchesGoWithTheirOldMessagesThenTheNewMapPlays) {
    g_app.play_keys = true;
    start("connect = [\"a\"]\n[keys]\n\"pad 1\" = { note = 36, channel = 10 }\nPLAY = { note = 50, latch = true }\n");
    EXPECT_EQ(g_app.user_map.connect, (std::vector<std::string>{"given", "a"}));
    shell_key_pressed(KEY_NONE, POS_Z, false, false);  // pad 1 held from the keyboard
    at(730, 400, EV_LEFT_DOWN);                        // PLAY latched on
    at(730, 400, EV_LEFT_UP);
    write("connect = [\"b\"]\n[keys]\n\"pad 1\" = { note = 40, channel = 10, key = \"Q\" }\n");
    fake::world().file_changed = true;
    testing::internal::CaptureStderr();
    map_poll();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "zorve-button: " + path + ": read again\n");
    shell_key_released(POS_Z);  // its release was already sent
    shell_key_pressed(KEY_NONE, POS_Q, false, false);
    shell_key_released(POS_Q);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{msg(0x99, 36, 127), msg(0x90, 50, 127), msg(0x99, 36, 0),
                                                       msg(0x90, 50, 0), msg(0x99, 40, 127), msg(0x99, 40, 0)}));
    EXPECT_EQ(g_app.user_map.connect, (std::vector<std::string>{"given", "b"}));
}

TEST_F(MapReload, ABrokenEditKeepsTheMapInForceAndSaysSoOnce) {
    start("[keys]\n\"pad 1\" = { note = 36 }\n");
    at(160, 490, EV_LEFT_DOWN);
    write("[keys]\n\"pad 1\" = { note = 360 }\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(reload_map());
    EXPECT_FALSE(reload_map());  // the same text again: nothing more said
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "zorve-button: " + path +
                  ":2:20: pad 1: note must be a whole number from 0 to 127 (the map in force "
                  "stays)\n");
    at(160, 490, EV_LEFT_UP);  // still held, released with the map in force
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{msg(0x90, 36, 127), msg(0x90, 36, 0)}));
    // No change noted: nothing read.
    write("[keys]\n\"pad 1\" = { note = 37 }\n");
    map_poll();
    EXPECT_EQ(key_message(PAD_1).number, 36);
}

TEST_F(MapReload, ListKeysShowsTheMappedRows) {
    const PanelMap map = parsed(
        "[keys]\n\"pad 16\" = { note = 51, channel = 10, key = \"4\" }\n"
        "\"track select 1\" = { program = 0, bank = 3 }\n");
    const std::string text = key_list_text(KEY_LIST_TEXT, map, "position");
    EXPECT_NE(text.find("\n16           pad           Note On             51       10  position  4\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n1            track select  Program Change       0        1    bank 3  M\n"),
              std::string::npos)
        << text;
    // With --channel, the keys the map gives no channel of their own.
    const std::string on_7 = key_list_text(KEY_LIST_TEXT, map, "127", 7);
    EXPECT_NE(on_7.find("\n16           pad           Note On             51       10     127  4\n"), std::string::npos)
        << on_7;
    EXPECT_NE(on_7.find("\n1            track select  Program Change       0        7  bank 3  M\n"), std::string::npos)
        << on_7;
    EXPECT_NE(on_7.find("\n15           pad           Control Change      30        7     127  3\n"), std::string::npos)
        << on_7;
}

}  // namespace

namespace {

TEST(PanelConnect, AFullNameOrAUniquePartChoosesEachPortOnce) {
    const std::vector<std::string> ports = {"fsynth:midi_00", "zr0:input", "zr1:input", "Synth input"};
    std::vector<std::string> ambiguous;
    // "zr" is held by two names and chooses neither; "fsynth" and the full
    // name choose the same port once; "late" waits for its port.
    EXPECT_EQ(panel_connect_targets({"fsynth", "zr", "fsynth:midi_00", "late", "Synth input"}, ports, &ambiguous),
              (std::vector<std::string>{"fsynth:midi_00", "Synth input"}));
    EXPECT_EQ(ambiguous, std::vector<std::string>{"zr"});
    // A full name wins over the other names that hold it.
    EXPECT_EQ(panel_connect_targets({"zr0:input"}, {"zr0:input", "zr0:input-2"}),
              std::vector<std::string>{"zr0:input"});
}

}  // namespace
