// The key table's properties and the key behaviour through dispatch, with the
// MIDI bytes observed at the device double.
#include <set>
#include <utility>

#include "test_util.h"

namespace {

bool overlap(const Rect& a, const Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}

int find_label(const char* text) {
    for (int k = 0; k < KEY_COUNT; ++k)
        if (KeyTable[k].label[0] && std::string(KeyTable[k].label[0]) == text) return k;
    return -1;
}

TEST(KeyTable, NoOverlapsUniqueMessagesInsideTheirArea) {
    std::set<std::pair<int, int>> messages;
    for (int a = 0; a < KEY_COUNT; ++a) {
        const Rect& r = KeyTable[a].rect;
        EXPECT_GE(r.x, 10) << a;
        EXPECT_LE(r.x + r.w - 1, 889) << a;
        EXPECT_GE(r.y, 10) << a;
        EXPECT_LE(r.y + r.h - 1, 509) << a;
        EXPECT_TRUE(messages.insert({KeyTable[a].status, KeyTable[a].number}).second) << a;
        for (int b = a + 1; b < KEY_COUNT; ++b) EXPECT_FALSE(overlap(r, KeyTable[b].rect)) << a << " " << b;
        for (int s = 1; s <= 3; ++s) {
            const Rect hit = port_switch_hit_rect(s);
            EXPECT_FALSE(overlap(r, hit)) << a;
            EXPECT_FALSE(overlap(r, Rect{hit.x, hit.y - 2, hit.w, hit.h})) << a;
        }
    }
    EXPECT_EQ(messages.size(), size_t(KEY_COUNT));
}

TEST(KeyTable, RegularRowsFollowTheirRules) {
    // Soft keys F1..F6: dispatch 24..29.
    for (int k = 1; k <= 6; ++k) {
        const PanelKey& key = KeyTable[23 + k - 1];
        EXPECT_EQ(key.rect.x, 10 + 80 * (k - 1));
        EXPECT_EQ(key.rect.y, 10);
        EXPECT_EQ(key.rect.w, 70);
        EXPECT_EQ(key.rect.h, 30);
        EXPECT_EQ(key.label_at[0].x, key.rect.x + 25);
        EXPECT_EQ(key.label_at[0].y, 15);
        EXPECT_EQ(key.number, 92 + k);
        EXPECT_EQ(key.scheme, FACE_SOFT);
        EXPECT_EQ(std::string(key.label[0]), "F" + std::to_string(k));
    }
    // Mode keys: 4 x 4 of 70 x 70, row by row, dispatch 30..45.
    for (int i = 0; i < 16; ++i) {
        const Rect& r = KeyTable[29 + i].rect;
        EXPECT_EQ(r.x, 10 + 80 * (i % 4)) << i;
        EXPECT_EQ(r.y, 50 + 80 * (i / 4)) << i;
        EXPECT_EQ(r.w, 70);
        EXPECT_EQ(r.h, 70);
    }
    // Pad-bank and pad-function keys: dispatch 1..8.
    for (int i = 0; i < 8; ++i) {
        const Rect& r = KeyTable[i].rect;
        EXPECT_EQ(r.x, 540 + 80 * (i % 4));
        EXPECT_EQ(r.y, i < 4 ? 10 : 50);
        EXPECT_EQ(r.w, 60);
        EXPECT_EQ(r.h, 30);
    }
    // Keypad digits and "+": 50 x 50 on columns 350/405/460, rows 50..215.
    for (int k = 45; k <= 55; ++k) {
        const PanelKey& key = KeyTable[k];
        EXPECT_EQ(key.rect.w, 50);
        EXPECT_EQ(key.rect.h, 50);
        EXPECT_TRUE(key.rect.x == 350 || key.rect.x == 405 || key.rect.x == 460);
        EXPECT_EQ((key.rect.y - 50) % 55, 0);
        const bool seven = std::string(key.label[0]) == "7";
        EXPECT_EQ(key.label_at[0].x, key.rect.x + (seven ? 17 : 15));
        EXPECT_EQ(key.label_at[0].y, key.rect.y + 7);
        EXPECT_EQ(key.number, 101 + (k - 45));
        EXPECT_EQ(key.scheme, FACE_KEYPAD);
        EXPECT_EQ(key.font, 11);
    }
    // Digit keys sit where a phone-less keypad puts them: 7 8 9 on top.
    const char* rows[4][3] = {{"7", "8", "9"}, {"4", "5", "6"}, {"1", "2", "3"}, {"0", "+", nullptr}};
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 3; ++col) {
            if (!rows[row][col]) continue;
            int found = -1;
            for (int k = 45; k <= 55; ++k)
                if (KeyTable[k].rect.x == 350 + 55 * col && KeyTable[k].rect.y == 50 + 55 * row) found = k;
            ASSERT_GE(found, 0);
            EXPECT_EQ(std::string(KeyTable[found].label[0]), rows[row][col]);
        }
    // Bottom rows: 16 keys each, 45 x 30 at 155 + 46 (k - 1).
    for (int row = 0; row < 2; ++row)
        for (int k = 1; k <= 16; ++k) {
            const PanelKey& key = KeyTable[58 + row * 16 + k - 1];
            EXPECT_EQ(key.rect.x, 155 + 46 * (k - 1));
            EXPECT_EQ(key.rect.y, row ? 480 : 450);
            EXPECT_EQ(key.rect.w, 45);
            EXPECT_EQ(key.rect.h, 30);
            EXPECT_EQ(key.label_at[0].x, key.rect.x + (k <= 9 ? 16 : 10));
            EXPECT_EQ(key.label_at[0].y, key.rect.y + 2);
            EXPECT_EQ(std::string(key.label[0]), std::to_string(k));
            EXPECT_EQ(key.status, row ? 176 : 144);
            EXPECT_EQ(key.number, row ? 15 + k : 28 + k);
            EXPECT_EQ(key.font, 10);
        }
}

TEST(KeyTable, MidiAssignmentByNumber) {
    const std::pair<const char*, int> named[] = {
        {"START", 1},  {"PLAY", 2},    {"STOP", 3},   {"DUB", 4},      {"REC", 5},      {"BAR>>", 6},
        {"<<BAR", 7},  {"STEP>>", 8},  {"<<STEP", 9}, {"SLIDER", 14},  {"LOAD", 15},    {"SAVE", 16},
        {"TRACK", 17}, {"RECORD", 18}, {"TRIM", 19},  {"PROGRAM", 20}, {"PAD", 21},     {"MIDI", 22},
        {"OTHER", 23}, {"EFFECT", 24}, {"SEQ", 25},   {"STEP", 26},    {"GRID", 27},    {"SONG", 28},
        {"MAIN", 77},  {"WINDOW", 78}, {"FULL", 85},  {"16LEV", 86},   {"NEXT SQ", 87}, {"TR MUTE", 88},
        {"A", 89},     {"B", 90},      {"C", 91},     {"D", 92},       {"ENTER", 113},  {"LOOPER", 116},
    };
    for (const auto& [label, number] : named) {
        const int k = find_label(label);
        ASSERT_GE(k, 0) << label;
        EXPECT_EQ(KeyTable[k].status, 144) << label;
        EXPECT_EQ(KeyTable[k].number, number) << label;
    }
    // The arrows and the minus bar.
    EXPECT_EQ(KeyTable[8].arrow, ARROW_LEFT);
    EXPECT_EQ(KeyTable[8].number, 13);
    EXPECT_EQ(KeyTable[9].number, 12);
    EXPECT_EQ(KeyTable[10].number, 10);
    EXPECT_EQ(KeyTable[11].number, 11);
    EXPECT_EQ(KeyTable[56].style, STYLE_BAR);
    EXPECT_EQ(KeyTable[56].number, 112);
    // Unused numbers stay unused; controllers only 16..31.
    for (int k = 0; k < KEY_COUNT; ++k) {
        const int n = KeyTable[k].number;
        if (KeyTable[k].status == 176) {
            EXPECT_TRUE(n >= 16 && n <= 31);
            continue;
        }
        EXPECT_FALSE(n == 0 || (n >= 45 && n <= 76) || (n >= 79 && n <= 84) || n == 99 || n == 100 || n >= 117) << n;
        EXPECT_NE(n, 114);
        EXPECT_NE(n, 115);
    }
}

using Keys = CoreTest;

TEST_F(Keys, ClickSendsPressThenReleaseToPortsOneToThree) {
    open_outputs(4);
    at(720, 395, EV_LEFT_DOWN);  // PLAY
    at(0, 0, EV_MOVE);           // not pointer-tested: no effect
    g_panel.pointer.x = 730;
    post_event(EV_LEFT_UP, 0);
    const std::vector<uint32_t> expected = {note(2, 127), note(2, 0)};
    EXPECT_TRUE(fake::sent_to(0).empty());
    for (int d = 1; d <= 3; ++d) EXPECT_EQ(fake::sent_to(d), expected) << d;
    // Ports in order 1, 2, 3 for each message.
    ASSERT_EQ(fake::world().sent.size(), 6u);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(fake::world().sent[i].device, 1 + i % 3);
}

TEST_F(Keys, StateTableRowByRow) {
    open_outputs(2);
    const int a = find_label("A");
    auto sent = [] { return fake::sent_to(1); };
    // released --LEFT_DOWN inside--> pressed, 127
    at(540, 10, EV_LEFT_DOWN);
    EXPECT_EQ(g_panel.pressed[a], 1);
    EXPECT_EQ(sent(), (std::vector<uint32_t>{note(89, 127)}));
    // pressed --LEFT_DOWN inside--> pressed, 127 again
    at(599, 39, EV_LEFT_DOWN);
    EXPECT_EQ(g_panel.pressed[a], 1);
    EXPECT_EQ(sent().size(), 2u);
    EXPECT_EQ(sent()[1], note(89, 127));
    // inside, non-pressing pointer events change nothing
    for (int ev : {EV_RIGHT_DOWN, EV_RIGHT_UP, EV_LEFT_DRAG, EV_RIGHT_DRAG}) {
        at(550, 20, ev);
        EXPECT_EQ(g_panel.pressed[a], 1) << ev;
    }
    // events that are not pointer-tested change nothing anywhere
    for (int ev :
         {int(EV_MOVE), int(EV_SET_CURSOR), int(EV_REFRESH), int(EV_TICK), int(EV_CANCEL), int(EV_KEY), 99, -1}) {
        at(0, 0, ev);
        EXPECT_EQ(g_panel.pressed[a], 1) << ev;
    }
    EXPECT_EQ(sent().size(), 2u);
    // pressed --any pointer event outside--> released, 0 (right press here)
    at(5, 540, EV_RIGHT_DOWN);
    EXPECT_EQ(g_panel.pressed[a], 0);
    EXPECT_EQ(sent().back(), note(89, 0));
    // released --pointer event outside--> nothing
    at(5, 540, EV_LEFT_UP);
    EXPECT_EQ(sent().size(), 3u);
    // released --LEFT_UP inside--> 0 even though not pressed
    at(541, 11, EV_LEFT_UP);
    EXPECT_EQ(sent().size(), 4u);
    EXPECT_EQ(sent().back(), note(89, 0));
}

TEST_F(Keys, ReturnValues) {
    open_outputs(2);
    const int a = find_label("A");
    g_panel.pointer = {545, 15};
    EXPECT_EQ(key_event(a, EV_LEFT_DOWN, 0), 0);
    EXPECT_EQ(key_event(a, EV_RIGHT_DOWN, 0), EV_RIGHT_DOWN);
    EXPECT_EQ(key_event(a, EV_TICK, 0), EV_TICK);
    EXPECT_EQ(key_event(a, 77, 0), 77);
    EXPECT_EQ(key_event(a, EV_LEFT_UP, 0), 0);
    g_panel.pointer.x = 700;
    EXPECT_EQ(key_event(a, EV_LEFT_DOWN, 0), EV_LEFT_DOWN);
    EXPECT_EQ(post_event(EV_SET_CURSOR, 0), EV_SET_CURSOR);
}

TEST_F(Keys, SlideOffSlideBackRelease) {
    open_outputs(2);
    at(630, 400, EV_LEFT_DOWN);  // STOP
    at(600, 400, EV_LEFT_DRAG);  // gap between DUB and STOP
    at(640, 410, EV_LEFT_DRAG);  // back on STOP: not pressed again
    EXPECT_EQ(g_panel.pressed[14], 0);
    at(640, 410, EV_LEFT_UP);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(3, 127), note(3, 0), note(3, 0)}));
    EXPECT_EQ(g_panel.pressed[14], 0);
}

TEST_F(Keys, PressOutsideThenReleaseOnAKeySendsOneZero) {
    open_outputs(2);
    at(5, 5, EV_LEFT_DOWN);
    at(160, 460, EV_LEFT_DRAG);
    at(160, 460, EV_LEFT_UP);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(29, 0)}));
}

TEST_F(Keys, RightButtonNeverPresses) {
    open_outputs(2);
    for (int ev : {EV_RIGHT_DOWN, EV_RIGHT_DRAG, EV_RIGHT_UP}) at(545, 15, ev);
    EXPECT_TRUE(fake::world().sent.empty());
    for (int16_t p : g_panel.pressed) EXPECT_EQ(p, 0);
}

TEST_F(Keys, PressOnAnotherKeySendsInDispatchOrder) {
    open_outputs(2);
    // "START" (dispatch 17) is held; pressing "A" (dispatch 1) sends A's 127 first.
    at(815, 400, EV_LEFT_DOWN);
    at(545, 15, EV_LEFT_DOWN);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(1, 127), note(89, 127), note(1, 0)}));
    int pressed = 0;
    for (int16_t p : g_panel.pressed) pressed += p;
    EXPECT_EQ(pressed, 1);
}

TEST_F(Keys, DragFromAToBReleasesAWithoutPressingB) {
    open_outputs(2);
    at(545, 15, EV_LEFT_DOWN);
    at(630, 15, EV_LEFT_DRAG);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(89, 127), note(89, 0)}));
    EXPECT_EQ(g_panel.pressed[1], 0);
}

TEST_F(Keys, EdgesGapsAndTheTouchingBottomRows) {
    open_outputs(2);
    at(600, 10, EV_LEFT_DOWN);   // x + w of "A": outside, and before "B"
    at(200, 460, EV_LEFT_DOWN);  // gap between track-select "1" and "2"
    at(200, 460, EV_LEFT_UP);
    EXPECT_TRUE(fake::world().sent.empty());
    at(160, 479, EV_LEFT_DOWN);
    at(160, 479, EV_LEFT_UP);
    at(160, 480, EV_LEFT_DOWN);
    at(160, 480, EV_LEFT_UP);
    EXPECT_EQ(fake::sent_to(1),
              (std::vector<uint32_t>{note(29, 127), note(29, 0), msg(176, 16, 127), msg(176, 16, 0)}));
}

TEST_F(Keys, SpecialKeysSendTheirNumbers) {
    open_outputs(2);
    at(175, 135, EV_LEFT_DOWN);  // LOOPER
    at(465, 220, EV_LEFT_DOWN);  // minus
    at(500, 300, EV_LEFT_DOWN);  // ENTER
    at(500, 300, EV_LEFT_UP);
    // Each new press releases the previous key, which comes earlier in dispatch order.
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(116, 127), note(116, 0), note(112, 127), note(112, 0),
                                                       note(113, 127), note(113, 0)}));
}

TEST_F(Keys, WheelSendsOnePairBySignOnly) {
    open_outputs(4);
    post_event(EV_WHEEL, 0);
    EXPECT_TRUE(fake::world().sent.empty());
    post_event(EV_WHEEL, 1);
    post_event(EV_WHEEL, 10);
    post_event(EV_WHEEL, -1);
    EXPECT_EQ(fake::sent_to(2), (std::vector<uint32_t>{note(114, 127), note(114, 0), note(114, 127), note(114, 0),
                                                       note(115, 127), note(115, 0)}));
    EXPECT_TRUE(fake::sent_to(0).empty());
}

TEST_F(Keys, WheelNeverReachesKeysOrSwitches) {
    open_outputs(4);
    at(545, 15, EV_LEFT_DOWN);
    g_panel.pointer = {20, 385};  // over switch 1, outside "A"
    post_event(EV_WHEEL, 1);
    EXPECT_EQ(g_panel.pressed[0], 1);
    EXPECT_EQ(g_panel.port_enable[0], 1);
}

TEST_F(Keys, SwitchesExistOnlyForCountedDevices) {
    fake::world().outputs = {{"a"}, {"b"}};
    open_panel_devices();
    for (int16_t& e : g_panel.port_enable) e = 1;
    at(20, 385, EV_LEFT_DOWN);  // switch 1
    at(20, 403, EV_LEFT_DOWN);  // where switch 2 would be
    EXPECT_EQ(g_panel.port_enable[0], 0);
    EXPECT_EQ(g_panel.port_enable[1], 1);
    // Five devices, two failing to open: all three switches exist.
    fake::reset();
    fake::world().outputs = {{"a"}, {"b", false}, {"c"}, {"d", false}, {"e"}};
    open_panel_devices();
    for (int k = 1; k <= 3; ++k) EXPECT_TRUE(port_switch_exists(k));
}

TEST_F(Keys, SwitchHitRectangleSitsTwoPixelsBelowTheBox) {
    open_outputs(4);
    at(20, 376, EV_LEFT_DOWN);
    at(20, 377, EV_LEFT_DOWN);
    EXPECT_EQ(g_panel.port_enable[0], 1);
    at(20, 392, EV_LEFT_DOWN);
    EXPECT_EQ(g_panel.port_enable[0], 0);
    at(20, 393, EV_LEFT_DOWN);
    EXPECT_EQ(g_panel.port_enable[0], 1);
    at(20, 393, EV_LEFT_UP);
    EXPECT_EQ(g_panel.port_enable[0], 1);
    EXPECT_EQ(port_switch_event(1, EV_LEFT_UP, 0), 0);
    EXPECT_EQ(port_switch_event(1, EV_TICK, 0), EV_TICK);
}

TEST_F(Keys, DisabledPortReceivesNothingUntilSwitchedBack) {
    open_outputs(4);
    at(20, 385, EV_LEFT_DOWN);  // port 1 off
    at(20, 385, EV_LEFT_UP);
    at(545, 15, EV_LEFT_DOWN);
    at(545, 15, EV_LEFT_UP);
    at(20, 385, EV_LEFT_DOWN);  // port 1 on
    at(20, 385, EV_LEFT_UP);
    at(545, 15, EV_LEFT_DOWN);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(89, 127)}));
    EXPECT_EQ(fake::sent_to(2), (std::vector<uint32_t>{note(89, 127), note(89, 0), note(89, 127)}));
    EXPECT_EQ(fake::sent_to(3), fake::sent_to(2));
}

// Several holders of one key: the mouse (pressed), the keyboard and fingers.
// Each row is a step and the messages it must send to device 1.
TEST_F(Keys, AKeyHeldBySeveralSourcesSendsItsOnOnceAndItsZeroOnce) {
    open_outputs(2);
    const int a = find_label("A");  // note 89
    const int b = find_label("B");
    const std::vector<SendStep> steps = {
        {"keyboard takes A", [&] { hold_key(a, HOLD_KEYBOARD, 127); }, {note(89, 127)}},
        {"keyboard takes A again", [&] { hold_key(a, HOLD_KEYBOARD, 127); }, {}},
        {"mouse presses A", [] { at(545, 15, EV_LEFT_DOWN); }, {}},
        {"finger 3 takes A", [&] { hold_key(a, hold_finger(3), 127); }, {}},
        {"keyboard lets go", [&] { let_go_key(a, HOLD_KEYBOARD); }, {}},
        {"mouse releases over A", [] { at(545, 15, EV_LEFT_UP); }, {}},
        {"finger 3 lifts: the last", [&] { let_go_key(a, hold_finger(3)); }, {note(89, 0)}},
        {"finger 3 lifts again", [&] { let_go_key(a, hold_finger(3)); }, {}},
        {"finger 0 takes B", [&] { hold_key(b, hold_finger(0), 90); }, {note(90, 90)}},
        {"mouse presses B", [] { at(625, 15, EV_LEFT_DOWN); }, {}},
        {"mouse slides off B", [] { at(5, 540, EV_LEFT_DRAG); }, {}},
        {"finger 0 lifts", [&] { let_go_key(b, hold_finger(0)); }, {note(90, 0)}},
        {"keyboard and finger 1 on A",
         [&] {
             hold_key(a, HOLD_KEYBOARD, 127);
             hold_key(a, hold_finger(1), 127);
         },
         {note(89, 127)}},
        {"mouse down on A: sounding already", [] { at(545, 15, EV_LEFT_DOWN); }, {}},
        {"everything let go: one 0", [] { let_go_all(HOLD_ANY, true); }, {note(89, 0)}},
        {"nothing held: nothing to let go", [] { let_go_all(HOLD_ANY, true); }, {}},
    };
    expect_steps(steps);
    EXPECT_EQ(g_panel.pressed[a], 0);
    EXPECT_EQ(g_panel.holders[a], 0u);
}

TEST_F(Keys, ALetGoOfSomeSourcesKeepsTheOthersSounding) {
    open_outputs(2);
    hold_key(0, hold_finger(2), 127);
    hold_key(1, HOLD_KEYBOARD, 127);
    hold_key(1, hold_finger(4), 127);
    let_go_all(HOLD_KEYBOARD, false);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(89, 127), note(90, 127)}));
    let_go_all(hold_finger(4), false);
    EXPECT_EQ(fake::sent_to(1).back(), note(90, 0));
    EXPECT_EQ(g_panel.holders[0], hold_finger(2));
}

TEST_F(Keys, VelocityFixedOrFromWhereThePressLands) {
    open_outputs(2);
    // Track select 1: rows 450..479. Top row soft, middle half way, bottom 127.
    struct Row {
        int y;
        int value;
    };
    g_panel.velocity_from_position = true;
    for (const Row& row : {Row{450, 1}, Row{464, 62}, Row{465, 66}, Row{479, 127}}) {
        at(160, row.y, EV_LEFT_DOWN);
        at(160, row.y, EV_LEFT_UP);
        EXPECT_EQ(fake::sent_to(1).end()[-2], note(29, row.value)) << row.y;
        EXPECT_EQ(press_velocity(58, {160, row.y}), row.value) << row.y;
    }
    EXPECT_EQ(press_velocity(KEY_COUNT - 1, {850, 400}), 1) << "above the key counts as its top";
    // Mode key SEQ EDIT, 70 rows: its middle row.
    EXPECT_EQ(press_velocity(29, {20, 50 + 35}), 1 + (35 * 126 + 34) / 69);
    g_panel.velocity_from_position = false;
    g_panel.velocity = 100;
    at(160, 450, EV_LEFT_DOWN);
    at(160, 450, EV_LEFT_UP);
    EXPECT_EQ(fake::sent_to(1).end()[-2], note(29, 100));
    EXPECT_EQ(fake::sent_to(1).back(), note(29, 0)) << "a release is always 0";
}

TEST_F(Keys, AllNotesOffGoesOnThePanelsChannelToEveryEnabledPort) {
    open_outputs(4);
    g_panel.channel = 9;
    g_panel.port_enable[1] = 0;
    send_all_notes_off();
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{msg(0xB9, 123, 0)}));
    EXPECT_TRUE(fake::sent_to(2).empty());
    EXPECT_EQ(fake::sent_to(3), fake::sent_to(1));
    EXPECT_EQ(fake::world().panel, fake::sent_to(1));
}

TEST_F(Keys, KeyAtFindsTheKeyUnderAPoint) {
    EXPECT_EQ(key_at({540, 10}), 0);
    EXPECT_EQ(key_at({599, 39}), 0);
    EXPECT_EQ(key_at({600, 10}), -1);
    EXPECT_EQ(key_at({160, 480}), 74);
    EXPECT_EQ(key_at({5, 5}), -1);
}

}  // namespace
