// The shell: clock and tick, input translation, start-up and tear-down order,
// the entry, and the release of a held key when capture or focus is lost.
#include <algorithm>
#include <functional>
#include <set>
#include <utility>

#include "app/options.h"
#include "app/shell.h"
#include "midi/input_queue.h"
#include "render/frame_buffer.h"
#include "render/render_context.h"
#include "test_util.h"

namespace {

uint32_t word(int x, int y) { return uint32_t(x) | uint32_t(y) << 16; }

struct Shell : CoreTest {
    void SetUp() override {
        CoreTest::SetUp();
        for (int d = 0; d < 4; ++d) fake::world().outputs.push_back({"out " + std::to_string(d)});
        create_fonts(g_render);
        ASSERT_TRUE(shell_create(reinterpret_cast<void*>(intptr_t(0x1000))));
        fake::log().clear();
    }
    void TearDown() override {
        shell_destroy();
        CoreTest::TearDown();
    }
    // Advances the clock by `ms` through the clock callback, 1 ms at a time.
    void advance(int ms) {
        for (int i = 0; i < ms; ++i) {
            ++fake::world().time_ms;
            clock_callback();
        }
    }
    // The frame buffer after the next tick.
    std::vector<uint32_t> frame() {
        advance(10);
        shell_timer();
        return std::vector<uint32_t>(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT);
    }
    static std::vector<std::string> presents() {
        std::vector<std::string> out;
        for (const auto& s : fake::log())
            if (s.rfind("present", 0) == 0) out.push_back(s);
        return out;
    }
};

TEST(Clock, JumpsAndWrap) {
    fake::reset();
    fake::world().time_ms = 1000;
    clock_callback();  // first call: the gap from 0 is skipped
    EXPECT_EQ(g_app.clock_ms.load(), 0u);
    fake::world().time_ms += 150;
    clock_callback();
    EXPECT_EQ(g_app.clock_ms.load(), 0u);
    fake::world().time_ms += 100;
    clock_callback();
    EXPECT_EQ(g_app.clock_ms.load(), 100u);
    clock_callback();  // no time passed
    EXPECT_EQ(g_app.clock_ms.load(), 100u);
    fake::world().time_ms = 0xFFFFFFFEu;
    clock_callback();           // a huge jump: skipped
    fake::world().time_ms = 3;  // wrapped: 5 ms later
    clock_callback();
    EXPECT_EQ(g_app.clock_ms.load(), 105u);
    fake::world().time_ms = 0xFFFFFF32u;
    clock_callback();
    fake::world().time_ms = 0x00001000u;  // 4302 ms later, across the wrap: skipped
    clock_callback();
    EXPECT_EQ(g_app.clock_ms.load(), 105u);
    fake::world().time_ms += 7;
    clock_callback();
    EXPECT_EQ(g_app.clock_ms.load(), 112u);
    fake::reset();
}

TEST_F(Shell, StartUpLeavesTheStartFillAndAFullRedrawPending) {
    EXPECT_EQ(g_render.pixels[0], 0x00CC33u);
    EXPECT_EQ(g_render.pixels[FB_WIDTH * FB_HEIGHT - 1], 0x00CC33u);
    EXPECT_EQ(g_app.redraw_flags, REDRAW_FULL);
    for (int16_t e : g_panel.port_enable) EXPECT_EQ(e, 1);
    // First tick: a full redraw, then present.
    advance(10);
    shell_timer();
    EXPECT_EQ(g_render.pixels[0], 0x444444u);
    EXPECT_EQ(presents(), (std::vector<std::string>{"present 1"}));
    EXPECT_EQ(g_app.redraw_flags, 0u);
}

TEST_F(Shell, OneTickPerTenClockMilliseconds) {
    for (int t = 0; t < 100; t += 2) {
        advance(2);
        shell_timer();
    }
    EXPECT_EQ(presents().size(), 10u);
    fake::log().clear();
    // Five timer messages within 8 ms after a tick: none of them ticks.
    for (int i = 0; i < 5; ++i) {
        if (i) advance(2);
        shell_timer();
    }
    EXPECT_TRUE(presents().empty());
    advance(1);  // 9 ms after the tick: still nothing
    shell_timer();
    EXPECT_TRUE(presents().empty());
    advance(1);
    shell_timer();
    EXPECT_EQ(presents().size(), 1u);
}

TEST_F(Shell, PressRedrawsOnTheNextTickOnly) {
    advance(10);
    shell_timer();
    fake::log().clear();
    shell_left_down(word(545, 15));
    advance(10);
    shell_timer();
    // Drawn (the pressed key's label) and then presented as changed.
    const auto& log = fake::log();
    const auto label = std::find(log.begin(), log.end(), "text 560 14 A");
    const auto present = std::find(log.begin(), log.end(), "present 1");
    ASSERT_NE(label, log.end());
    ASSERT_NE(present, log.end());
    EXPECT_LT(label, present);
    EXPECT_EQ(g_render.pixels[13 * FB_WIDTH + 545], 0xFFFFFFu);  // "A" pressed
    fake::log().clear();
    advance(10);
    shell_timer();
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"present 0"}));  // refresh: nothing drawn
}

// Everything a tick could change that anyone can see or hear.
struct Observed {
    std::vector<uint32_t> pixels;
    size_t sent;  // messages to any device
    Panel panel;
    uint32_t redraw_flags;
    int damage;
    bool operator==(const Observed& o) const {
        return pixels == o.pixels && sent == o.sent && redraw_flags == o.redraw_flags && damage == o.damage &&
               std::equal(std::begin(panel.pressed), std::end(panel.pressed), o.panel.pressed) &&
               std::equal(std::begin(panel.port_enable), std::end(panel.port_enable), o.panel.port_enable);
    }
};

Observed observe() {
    return {std::vector<uint32_t>(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT), fake::world().sent.size(),
            g_panel, g_app.redraw_flags, g_render.damage.count};
}

// Input, each followed by the tick that draws it. Afterwards no tick is
// wanted, and the ticks that the Linux layer then leaves out would change
// nothing: not the pixels, not the MIDI sent, not the panel, whatever the
// panel's state, wherever the pointer rests and whether a button is held.
TEST_F(Shell, TickThatFindsNothingDirtyChangesNothing) {
    const std::vector<std::pair<const char*, std::function<void()>>> inputs = {
        {"start-up", [] {}},
        {"click on A", [] { shell_left_down(word(545, 15)), shell_left_up(); }},
        {"switch 1 off", [] { shell_left_down(word(20, 385)), shell_left_up(); }},
        {"PLAY dragged off and released in the gap",
         [] { shell_left_down(word(720, 400)), shell_mouse_move(word(715, 400)), shell_left_up(); }},
        {"press on B, focus lost", [] { shell_left_down(word(630, 15)), shell_capture_lost(); }},
        {"right click on A", [] { shell_right_down(word(545, 15)), shell_right_up(); }},
        {"wheel toward the user", [] { shell_wheel(-120); }},
        {"Up arrow", [] { shell_key_down(KEY_UP); }},
        {"pointer resting on C", [] { shell_mouse_move(word(710, 15)); }},
        {"A held", [] { shell_left_down(word(545, 15)); }},
        {"A held and dragged onto B", [] { shell_mouse_move(word(630, 15)); }},
        {"right button held over F1", [] { shell_left_up(), shell_right_down(word(20, 20)); }},
    };
    for (const auto& [what, input] : inputs) {
        SCOPED_TRACE(what);
        input();
        advance(10);
        shell_timer();
        EXPECT_FALSE(tick_wanted());
        const Observed before = observe();
        fake::log().clear();
        for (int i = 0; i < 5; ++i) {
            advance(10);
            shell_timer();
        }
        post_event(EV_TICK, 0);
        post_event(EV_REFRESH, 0);
        EXPECT_TRUE(observe() == before);
        EXPECT_EQ(fake::log(), std::vector<std::string>(5, "present 0"));
        EXPECT_FALSE(tick_wanted());
    }
}

// Ticks are wanted from a press, a release or a wheel step until the tick
// that draws it, and from a drag that released a key; a held button, any
// other drag or a move alone wants none.
TEST_F(Shell, TicksAreWantedUntilTheRedrawTick) {
    EXPECT_TRUE(tick_wanted());  // the first redraw
    advance(10);
    shell_timer();
    EXPECT_FALSE(tick_wanted());
    shell_mouse_move(word(545, 15));
    EXPECT_FALSE(tick_wanted());
    shell_left_down(word(545, 15));
    EXPECT_TRUE(tick_wanted());
    advance(10);
    shell_timer();
    EXPECT_FALSE(tick_wanted());       // held, drawn
    shell_mouse_move(word(700, 300));  // dragged off: released, drawn so
    EXPECT_TRUE(tick_wanted());
    advance(10);
    shell_timer();
    shell_mouse_move(word(701, 301));  // a drag that changes no key
    EXPECT_FALSE(tick_wanted());
    shell_left_up();
    advance(3);
    shell_timer();  // the 10 ms gate holds the redraw back
    EXPECT_TRUE(tick_wanted());
    advance(7);
    shell_timer();
    EXPECT_FALSE(tick_wanted());
    shell_right_down(word(5, 5));
    advance(10);
    shell_timer();
    EXPECT_FALSE(tick_wanted());
    shell_right_up();
    EXPECT_TRUE(tick_wanted());
    advance(10);
    shell_timer();
    EXPECT_FALSE(tick_wanted());
    shell_wheel(120);
    EXPECT_TRUE(tick_wanted());
    advance(10);
    shell_timer();
    EXPECT_FALSE(tick_wanted());
}

// A redraw after input repaints only what changed, and says where: the
// present that follows gets the pressed key's frame, nothing more.
TEST_F(Shell, PresentAfterAPressCarriesTheKeysRectangle) {
    advance(10);
    shell_timer();
    EXPECT_EQ(g_render.damage.count, 0);
    shell_left_down(word(545, 15));
    fake::log().clear();
    post_event(EV_REDRAW, 0);
    ASSERT_EQ(g_render.damage.count, 1);
    const DamageRect r = g_render.damage.rects[0];
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{540, 10, 60, 30}));
    std::vector<std::string> texts;
    for (const auto& s : fake::log())
        if (s.rfind("text ", 0) == 0) texts.push_back(s);
    EXPECT_EQ(texts, (std::vector<std::string>{"text 560 14 A"}));
}

TEST_F(Shell, SignedTickGateSurvivesTheClockWrap) {
    g_app.clock_ms = 0xFFFFFFF0u;
    g_app.last_tick = int32_t(0xFFFFFFF0u);
    fake::world().time_ms = 0;
    clock_callback();
    advance(20);  // the clock wraps past 2^32
    shell_timer();
    EXPECT_EQ(presents().size(), 1u);
}

TEST_F(Shell, DragLeftOfTheWindowStoresZero) {
    shell_left_down(word(100, 100));
    shell_mouse_move(word(0xFFFB, 120));  // x = -5 under capture
    EXPECT_EQ(g_panel.pointer.x, 0);
    EXPECT_EQ(g_panel.pointer.y, 120);
    shell_mouse_move(pack_pointer(-70000, 40000));
    EXPECT_EQ(g_panel.pointer.x, 0);
    EXPECT_EQ(g_panel.pointer.y, 32767);
}

TEST_F(Shell, ReleaseUsesTheLastStoredPosition) {
    shell_left_down(word(545, 15));
    shell_left_up();  // the release's own position is never looked at
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(89, 127), note(89, 0)}));
    shell_mouse_move(word(630, 15));
    shell_left_down(word(5, 5));
    shell_mouse_move(word(630, 15));  // onto "B" while held
    shell_left_up();
    EXPECT_EQ(fake::sent_to(1).back(), note(90, 0));
}

TEST_F(Shell, MoveRaisesDragThenMove) {
    shell_left_down(word(545, 15));
    shell_mouse_move(word(700, 300));  // off "A": the drag releases it
    EXPECT_EQ(fake::sent_to(1).back(), note(89, 0));
    EXPECT_EQ(g_app.redraw_flags, REDRAW_FULL);  // from the press only
}

TEST_F(Shell, MiddleButtonWheelSendsOnePair) {
    shell_middle_down();
    EXPECT_EQ(g_app.wheel_step, 10);
    shell_wheel(-120);  // toward the user
    shell_middle_up();
    EXPECT_EQ(g_app.wheel_step, 1);
    shell_wheel(120);
    EXPECT_EQ(fake::sent_to(3), (std::vector<uint32_t>{note(114, 127), note(114, 0), note(115, 127), note(115, 0)}));
    EXPECT_EQ(g_app.redraw_flags, REDRAW_FULL);
}

TEST_F(Shell, KeyboardTable) {
    for (int vk : {48, 57, 96, 105, 13, 8, 46, 27, 65, 112, 0, 255}) shell_key_down(KeyCode(vk));
    EXPECT_TRUE(fake::world().sent.empty());
    EXPECT_EQ(g_app.redraw_flags, REDRAW_FULL);  // still only the start-up value
    g_app.redraw_flags = 0;
    shell_key_down(KEY_UP);
    EXPECT_EQ(g_app.redraw_flags, REDRAW_FULL);
    shell_middle_down();  // arrows step by one whatever the wheel step
    shell_key_down(KEY_DOWN);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(114, 127), note(114, 0), note(115, 127), note(115, 0)}));
}

TEST_F(Shell, SetCursorNeverReturnsZero) { EXPECT_EQ(shell_set_cursor(), EV_SET_CURSOR); }

TEST_F(Shell, CaptureFollowsTheButtons) {
    shell_left_down(word(5, 5));
    shell_right_down(word(5, 5));
    shell_right_up();  // left still held: the capture stays
    shell_left_up();
    shell_middle_down();
    shell_middle_up();
    shell_left_down(word(5, 5));
    shell_middle_down();
    shell_left_up();  // middle still held: the capture stays
    shell_middle_up();
    std::vector<std::string> calls;
    for (const auto& s : fake::log())
        if (s.find("capture") != std::string::npos) calls.push_back(s);
    EXPECT_EQ(calls, (std::vector<std::string>{"capture", "capture", "release_capture", "capture", "release_capture",
                                               "capture", "capture", "release_capture"}));
}

// Input lights a key exactly as a press draws it, on any channel, and sends
// nothing; a key the user holds stays pressed whatever arrives, and a lit key
// stays lit through the user's press and release.
TEST_F(Shell, InputLightsKeysAsAPressDrawsThemAndSendsNothing) {
    input_queue_enable(true);
    const auto input = [](uint32_t m) {
        input_queue_push(m);
        shell_midi_input();
    };
    const std::vector<uint32_t> released = frame();
    shell_left_down(word(720, 400));  // PLAY, note 2
    const std::vector<uint32_t> pressed = frame();
    shell_left_up();
    ASSERT_EQ(frame(), released);
    const size_t sent = fake::sent_to(1).size();

    input(msg(0x95, 2, 1));  // channel 6
    EXPECT_EQ(frame(), pressed);
    input(msg(0x90, 2, 0));
    EXPECT_EQ(frame(), released);
    input(msg(0x90, 2, 127));
    input(msg(0x8F, 2, 64));  // a Note Off puts out whatever its velocity
    EXPECT_EQ(frame(), released);
    input(msg(0xB0, 2, 127));    // a controller of PLAY's number is not PLAY
    input(msg(0x90, 120, 127));  // no key has note 120
    EXPECT_FALSE(tick_wanted());
    EXPECT_EQ(frame(), released);
    const int pad = key_index(STATUS_CONTROL_CHANGE, 16);  // pad 1
    input(msg(0xB3, KeyTable[pad].number, 127));
    EXPECT_TRUE(g_panel.lit[pad]);
    input(msg(0xB3, 16, 0));
    EXPECT_FALSE(g_panel.lit[pad]);

    shell_left_down(word(720, 400));
    input(msg(0x80, 2, 0));
    EXPECT_EQ(frame(), pressed) << "held by the user";
    input(msg(0x90, 2, 127));
    shell_left_up();
    EXPECT_EQ(frame(), pressed) << "still lit by input";
    EXPECT_EQ(fake::sent_to(1).size(), sent + 2) << "only the user's press and release send";
    input_queue_enable(false);
}

// A key released by sliding off it looks released at the next tick, and
// stays so when the pointer slides back while the button is still down; a
// drag that changes no key asks for no redraw.
TEST_F(Shell, SlideOffDrawsTheKeyReleasedAtOnce) {
    const std::vector<uint32_t> released = frame();
    shell_left_down(word(720, 400));  // PLAY
    const std::vector<uint32_t> pressed = frame();
    ASSERT_NE(pressed, released);
    shell_mouse_move(word(722, 402));  // still inside
    EXPECT_FALSE(tick_wanted());
    shell_mouse_move(word(100, 540));  // off every key
    EXPECT_EQ(frame(), released);
    shell_mouse_move(word(720, 400));  // back onto PLAY, button still down
    EXPECT_FALSE(tick_wanted());
    EXPECT_EQ(frame(), released);
    shell_right_down(word(545, 15));  // A, with the left button still down: a right press presses nothing
    shell_mouse_move(word(100, 540));
    EXPECT_EQ(frame(), released);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0)}));
}

TEST_F(Shell, LostCaptureReleasesTheHeldKeyOnce) {
    const uint32_t& face = g_render.pixels[400 * FB_WIDTH + 722];  // inside PLAY's frame
    advance(10);
    shell_timer();
    const uint32_t released = face;
    shell_left_down(word(720, 400));  // PLAY
    advance(10);
    shell_timer();
    EXPECT_NE(face, released);
    shell_capture_lost();
    advance(10);
    shell_timer();  // drawn released by the next tick, with no input after the loss
    EXPECT_EQ(face, released);
    shell_capture_lost();  // focus loss after the capture loss: nothing more
    shell_left_up();       // a late release still sends PLAY's 0, as any release over a key does
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0), note(2, 0)}));
    EXPECT_EQ(g_app.left_held, 0);
}

TEST_F(Shell, LostCaptureAfterSlidingOffSendsNothingMore) {
    shell_left_down(word(720, 400));
    shell_mouse_move(word(100, 540));
    shell_capture_lost();
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0)}));
}

TEST_F(Shell, OwnCaptureReleaseIsNotALoss) {
    shell_left_down(word(720, 400));
    g_app.own_capture_change = true;  // as while the platform reports our own release synchronously
    shell_capture_lost();
    g_app.own_capture_change = false;
    EXPECT_EQ(fake::sent_to(1).size(), 1u);
    shell_left_up();
    shell_capture_lost();  // the platform's late notice of that release
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0)}));
}

TEST_F(Shell, DestroyWithTheButtonHeldReleasesFirstThenTearsDown) {
    shell_left_down(word(720, 400));
    fake::log().clear();
    shell_destroy();
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0)}));
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"stop_clock", "stop_window_timer", "post_quit 0"}));
    EXPECT_EQ(g_render.pixels, nullptr);
    EXPECT_EQ(g_render.surface, nullptr);
}

// --------------------------------------------------- playing: keys, touches

// Every place of the default map, row by row, with the message its key sends.
TEST_F(Shell, TheDefaultMapOnEveryRow) {
    struct Row {
        KeyPosition pos;
        const char* name;  // as --list-keys prints it
        uint32_t on;       // the panel key's message at value 127
    };
    const auto cc = [](int n) { return msg(176, n, 127); };
    const auto on = [](int n) { return note(n, 127); };
    const Row rows[] = {
        // Pads 1-16 as a 4 x 4 block, pad 1 bottom left.
        {POS_Z, "Z", cc(16)},
        {POS_X, "X", cc(17)},
        {POS_C, "C", cc(18)},
        {POS_V, "V", cc(19)},
        {POS_A, "A", cc(20)},
        {POS_S, "S", cc(21)},
        {POS_D, "D", cc(22)},
        {POS_F, "F", cc(23)},
        {POS_Q, "Q", cc(24)},
        {POS_W, "W", cc(25)},
        {POS_E, "E", cc(26)},
        {POS_R, "R", cc(27)},
        {POS_1, "1", cc(28)},
        {POS_2, "2", cc(29)},
        {POS_3, "3", cc(30)},
        {POS_4, "4", cc(31)},
        // Track select 1-16 (notes 29-44), the same block to the right.
        {POS_M, "M", on(29)},
        {POS_SLASH, "/", on(32)},
        {POS_J, "J", on(33)},
        {POS_SEMICOLON, ";", on(36)},
        {POS_U, "U", on(37)},
        {POS_P, "P", on(40)},
        {POS_7, "7", on(41)},
        {POS_0, "0", on(44)},
        // Transport between them, PLAY on Space.
        {POS_G, "G", on(5)},
        {POS_H, "H", on(4)},
        {POS_B, "B", on(3)},
        {POS_SPACE, "Space", on(2)},
        {POS_N, "N", on(1)},
        {POS_5, "5", on(7)},
        {POS_6, "6", on(6)},
        {POS_T, "T", on(9)},
        {POS_Y, "Y", on(8)},
        // Arrows, soft keys, pad banks, the edit block.
        {POS_LEFT, "Left", on(13)},
        {POS_RIGHT, "Right", on(12)},
        {POS_F1, "F1", on(93)},
        {POS_F6, "F6", on(98)},
        {POS_F7, "F7", on(89)},
        {POS_F10, "F10", on(92)},
        {POS_INSERT, "Insert", on(85)},
        {POS_DELETE, "Delete", on(88)},
        {POS_END, "End", on(78)},
        {POS_PAGE_DOWN, "Page Down", on(77)},
        // The numeric keypad plays the panel's.
        {POS_KP_0, "keypad 0", on(101)},
        {POS_KP_1, "keypad 1", on(102)},
        {POS_KP_9, "keypad 9", on(110)},
        {POS_KP_PLUS, "keypad +", on(111)},
        {POS_KP_MINUS, "keypad -", on(112)},
        {POS_KP_ENTER, "keypad Enter", on(113)},
    };
    g_app.play_keys = true;
    for (const Row& row : rows) {
        fake::world().sent.clear();
        shell_key_pressed(KEY_NONE, row.pos, false, false);
        shell_key_released(row.pos);
        const uint32_t off = row.on & 0xFFFF;
        EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{row.on, off})) << row.name;
        EXPECT_STREQ(key_position_name_for(mapped_key(row.pos)), row.name);
    }
    // One panel key per place, and none for the data wheel or the panic key.
    std::set<int> keys;
    int mapped = 0;
    for (int pos = POS_NONE; pos < POS_COUNT; ++pos) {
        const int key = mapped_key(KeyPosition(pos));
        if (key < 0) continue;
        ++mapped;
        EXPECT_TRUE(keys.insert(key).second) << pos;
    }
    EXPECT_EQ(mapped, POS_COUNT - 4);  // all but none, Up, Down, Escape
    for (KeyPosition pos : {POS_NONE, POS_UP, POS_DOWN, POS_ESCAPE}) EXPECT_EQ(mapped_key(pos), -1) << int(pos);
}

TEST_F(Shell, WithoutKeysTheKeyboardDoesOnlyWhatItAlwaysDid) {
    for (KeyPosition pos : {POS_Z, POS_1, POS_SPACE, POS_KP_ENTER, POS_ESCAPE}) {
        shell_key_pressed(KEY_NONE, pos, false, false);
        shell_key_released(pos);
    }
    shell_key_pressed(KeyCode(49), POS_1, false, false);  // the digit 1: EV_KEY, which sends nothing
    EXPECT_TRUE(fake::world().sent.empty());
    shell_key_pressed(KEY_UP, POS_UP, false, false);
    shell_key_pressed(KEY_UP, POS_UP, true, false);  // a repeat steps again, as it always did
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(114, 127), note(114, 0), note(114, 127), note(114, 0)}));
}

TEST_F(Shell, AHeldKeySendsOnceThroughItsRepeatsAndDrawsAsAClick) {
    g_app.play_keys = true;
    advance(10);
    shell_timer();
    shell_left_down(word(720, 400));  // PLAY clicked
    advance(10);
    shell_timer();
    const std::vector<uint32_t> clicked(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT);
    shell_left_up();
    fake::world().sent.clear();
    shell_key_pressed(KEY_NONE, POS_SPACE, false, false);
    for (int i = 0; i < 20; ++i) shell_key_pressed(KEY_NONE, POS_SPACE, true, false);
    shell_key_pressed(KEY_NONE, POS_SPACE, false, false);  // a repeat not marked as one
    advance(10);
    shell_timer();
    EXPECT_EQ(std::vector<uint32_t>(g_render.pixels, g_render.pixels + FB_WIDTH * FB_HEIGHT), clicked);
    shell_key_released(POS_SPACE);
    shell_key_released(POS_SPACE);
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{note(2, 127), note(2, 0)}));
    // Held through a focus loss: the repeats that follow the focus back
    // press nothing, nor does the release; the next press does.
    shell_key_pressed(KEY_NONE, POS_SPACE, false, false);
    shell_release_all();
    shell_key_pressed(KEY_NONE, POS_SPACE, true, false);
    shell_key_released(POS_SPACE);
    EXPECT_EQ(fake::sent_to(1).size(), 4u);
    shell_key_pressed(KEY_NONE, POS_SPACE, false, false);
    EXPECT_EQ(fake::sent_to(1).size(), 5u);
}

TEST_F(Shell, KeysHeldTogetherAllSoundAndVelocityFollowsTheOptions) {
    g_app.play_keys = true;
    g_panel.velocity = 90;
    shell_key_pressed(KEY_NONE, POS_Z, false, true);
    shell_key_pressed(KEY_NONE, POS_X, false, false);
    g_panel.velocity_from_position = true;
    shell_key_pressed(KEY_NONE, POS_C, false, false);
    shell_key_pressed(KEY_NONE, POS_V, false, true);
    for (KeyPosition pos : {POS_X, POS_Z, POS_C, POS_V}) shell_key_released(pos);
    EXPECT_EQ(fake::sent_to(1),
              (std::vector<uint32_t>{msg(176, 16, 90), msg(176, 17, 90), msg(176, 18, 100), msg(176, 19, 127),
                                     msg(176, 17, 0), msg(176, 16, 0), msg(176, 18, 0), msg(176, 19, 0)}));
}

TEST_F(Shell, EscapeLetsGoOfEverythingAndSendsAllNotesOffOnce) {
    g_app.play_keys = true;
    g_panel.channel = 2;
    shell_key_pressed(KEY_NONE, POS_Z, false, false);
    shell_touch_down(7, word(160, 460), -1);  // track 1
    shell_left_down(word(720, 400));          // PLAY
    shell_key_pressed(KEY_ESCAPE, POS_ESCAPE, false, false);
    shell_key_pressed(KEY_ESCAPE, POS_ESCAPE, true, false);  // its repeats: nothing more
    shell_key_released(POS_Z);
    shell_touch_up(7);
    EXPECT_EQ(fake::sent_to(1),
              (std::vector<uint32_t>{msg(0xB2, 16, 127), msg(0x92, 29, 127), msg(0x92, 2, 127), msg(0x92, 2, 0),
                                     msg(0x92, 29, 0), msg(0xB2, 16, 0), msg(0xB2, 123, 0)}));
    shell_key_released(POS_ESCAPE);
    shell_key_pressed(KEY_ESCAPE, POS_ESCAPE, false, false);
    EXPECT_EQ(fake::sent_to(1).back(), msg(0xB2, 123, 0));
    EXPECT_EQ(fake::sent_to(1).size(), 8u);
}

// Focus loss, hiding and the other ends: each held key's 0 once, and the
// later releases of what was held send nothing.
TEST_F(Shell, ReleaseAllLetsGoOfMouseKeysAndFingersOnce) {
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "tear-down" : "focus lost");
        fake::world().sent.clear();
        g_app.play_keys = true;
        shell_key_pressed(KEY_NONE, POS_Z, false, false);  // pad 1
        shell_touch_down(1, word(160, 482), -1);           // pad 1 as well
        shell_touch_down(2, word(210, 482), -1);           // pad 2
        shell_left_down(word(720, 400));                   // PLAY
        if (destroy)
            shell_destroy();
        else
            shell_release_all();
        const std::vector<uint32_t> want = {msg(176, 16, 127), msg(176, 17, 127), note(2, 127),
                                            note(2, 0),        msg(176, 16, 0),   msg(176, 17, 0)};
        EXPECT_EQ(fake::sent_to(1), want);
        shell_key_released(POS_Z);
        shell_touch_up(1);
        shell_touch_up(2);
        EXPECT_EQ(fake::sent_to(1), want) << "the later releases send nothing";
        EXPECT_EQ(g_app.left_held, 0);
    }
}

TEST_F(Shell, FingersEachHoldTheirOwnKey) {
    const std::vector<SendStep> steps = {
        {"A lands on pad 1", [] { shell_touch_down(11, word(160, 485), -1); }, {msg(176, 16, 127)}},
        {"A's id lands again: no second finger", [] { shell_touch_down(11, word(250, 485), -1); }, {}},
        {"B lands on pad 2 while A holds", [] { shell_touch_down(12, word(205, 485), -1); }, {msg(176, 17, 127)}},
        {"A moves inside pad 1", [] { shell_touch_move(11, word(199, 509)); }, {}},
        {"A slides off onto track 1", [] { shell_touch_move(11, word(160, 470)); }, {msg(176, 16, 0)}},
        {"A lifts over track 1", [] { shell_touch_up(11); }, {}},
        {"the mouse presses pad 2", [] { shell_left_down(word(210, 490)); }, {}},
        {"B lifts: the mouse still holds", [] { shell_touch_up(12); }, {}},
        {"the mouse lets go", [] { shell_left_up(); }, {msg(176, 17, 0)}},
        {"a finger on no key", [] { shell_touch_down(13, word(5, 540), -1); }, {}},
        {"slides onto PLAY: not pressed", [] { shell_touch_move(13, word(720, 400)); }, {}},
        {"lifts there", [] { shell_touch_up(13); }, {}},
        {"an unknown finger moves and lifts",
         [] {
             shell_touch_move(99, word(5, 5));
             shell_touch_up(99);
         },
         {}},
        {"a finger on switch 1 turns port 1 off", [] { shell_touch_down(14, word(20, 385), -1); }, {}},
        {"a key then reaches port 1 no more", [] { shell_touch_down(15, word(720, 400), -1); }, {}},
        {"the switch toggles again at the next landing only",
         [] {
             shell_touch_move(14, word(21, 386));
             shell_touch_up(14);
             shell_touch_down(16, word(20, 385), -1);
             shell_touch_up(15);
         },
         {note(2, 0)}},
    };
    expect_steps(steps);
}

TEST_F(Shell, TenFingersOnTenKeysAreTenHeldKeys) {
    for (int f = 0; f < 10; ++f) shell_touch_down(100 + f, word(160 + 46 * f, 490), -1);
    EXPECT_EQ(fake::sent_to(1).size(), 10u);
    for (int f = 0; f < 10; ++f) EXPECT_EQ(g_panel.holders[74 + f], hold_finger(f)) << f;
    for (int f = FINGER_SLOTS - 10; f > 0; --f) shell_touch_down(200 + f, word(5, 5), -1);
    shell_touch_down(300, word(720, 400), -1);  // beyond the last slot: ignored
    EXPECT_EQ(fake::sent_to(1).size(), 10u);
    for (int f = 0; f < 10; ++f) shell_touch_up(100 + f);
    EXPECT_EQ(fake::sent_to(1).size(), 20u);
}

TEST_F(Shell, TouchVelocityFromPositionOrPressure) {
    g_panel.velocity_from_position = true;
    shell_touch_down(1, word(160, 480), -1);    // top row of pad 1
    shell_touch_down(2, word(210, 509), -1);    // bottom row of pad 2
    shell_touch_down(3, word(250, 480), 0.5f);  // pressure wins over the place
    EXPECT_EQ(fake::sent_to(1), (std::vector<uint32_t>{msg(176, 16, 1), msg(176, 17, 127), msg(176, 18, 64)}));
}

TEST(StartUp, StepsInOrder) {
    fake::reset();
    fake::world().inputs = {{"in"}};
    fake::world().outputs = {{"out"}};
    create_fonts(g_render);
    fake::log().clear();
    void* window = reinterpret_cast<void*>(intptr_t(0x1000));
    ASSERT_TRUE(shell_create(window));
    EXPECT_EQ(g_app.window, window);
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"start_window_timer 2", "midi_in_open 0", "midi_in_start 0",
                                                     "midi_out_open 0", "start_clock"}));
    shell_destroy();
    fake::reset();
}

TEST(StartUp, NoFrameBufferFailsCreationAndStartsNothing) {
    fake::reset();
    fake::world().frame_buffer_ok = false;
    EXPECT_FALSE(shell_create(reinterpret_cast<void*>(intptr_t(0x1000))));
    EXPECT_TRUE(fake::log().empty());
    shell_destroy();  // the platform still destroys the half-made window
    EXPECT_TRUE(fake::log().empty());
    fake::reset();
}

TEST(Entry, InstanceDisplayName) {
    struct Row {
        const char *x, *wayland, *driver, *name;
    };
    const Row rows[] = {
        {":0", nullptr, nullptr, ":0"},
        {":0.0", nullptr, nullptr, ":0"},
        {":12.1", "wayland-1", nullptr, ":12"},
        {"unix:3", nullptr, nullptr, ":3"},
        {"localhost:10.0", nullptr, nullptr, "localhost:10"},
        {"host.example:1", nullptr, nullptr, "host.example:1"},  // a dot before the colon stays
        {"/tmp/launch/org.x:0", nullptr, nullptr, "_tmp_launch_org.x:0"},
        {":0", "wayland-1", "wayland", "wayland-1"},
        {":0", nullptr, "wayland", "wayland-0"},
        {"", "wayland-2", nullptr, "wayland-2"},
        {nullptr, "/run/user/1000/wl", nullptr, "_run_user_1000_wl"},
        {nullptr, nullptr, nullptr, "wayland-0"},
        {":1", "", "x11", ":1"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(instance_display_name(r.x, r.wayland, r.driver), r.name)
            << (r.x ? r.x : "-") << " " << (r.wayland ? r.wayland : "-");
}

TEST(Entry, WindowSizeRule) {
    int w = 0, h = 0;
    window_size(800, 500, &w, &h);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 500);
    window_size(1920, 1080, &w, &h);
    EXPECT_EQ(w, 910);
    EXPECT_EQ(h, 550);
}

TEST(Entry, FirstCopyRunsTheWindowThroughItsLoop) {
    fake::reset();
    fake::world().screen_w = 800;
    fake::world().screen_h = 500;
    EXPECT_EQ(run_program(), 0);
    std::vector<std::string> steps;
    for (const auto& s : fake::log())
        if (s.rfind("create_font", 0) && s.rfind("stock_font", 0) && s.rfind("release_font", 0)) steps.push_back(s);
    const std::vector<std::string> expected = {
        "instance_check", "screen_size", "create_window 800 500", "start_window_timer 2", "start_clock", "show_window",
        "message_loop",   "stop_clock",  "stop_window_timer",     "post_quit 0",
    };
    EXPECT_EQ(steps, expected);
    // Fonts first, released last.
    EXPECT_EQ(fake::log().front(), "stock_font 0");
    EXPECT_EQ(fake::log().back().rfind("release_font", 0), 0u);
    fake::reset();
}

TEST(Entry, SecondCopyOnlyShowsTheBox) {
    fake::reset();
    fake::world().other_instance = true;
    EXPECT_EQ(run_entry(), 1);
    EXPECT_EQ(fake::log(), (std::vector<std::string>{"instance_check", "message_box PC_ZORVE|Proram still running?",
                                                     "release_instance_probe"}));
    fake::reset();
}

TEST(Entry, RefusedWindowEndsQuietlyAndAFailedWindowReports) {
    fake::reset();
    fake::world().window_refused = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run_entry(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(fake::log().back(), "create_window 910 550");
    fake::reset();
    fake::world().window_ok = false;
    EXPECT_EQ(run_entry(), 2);
    EXPECT_EQ(fake::log().back(), "create_window 910 550");
    fake::reset();
    fake::world().frame_buffer_ok = false;
    EXPECT_EQ(run_entry(), 2);
    fake::reset();
}

}  // namespace
