// Input that lights keys (--show-input): the ring from the MIDI thread to the
// window thread, the matching of messages to keys, and how input and the
// user's own press share a key's look. The session state file.
#include <thread>

#include "app/options.h"
#include "app/session.h"
#include "midi/input_queue.h"
#include "test_util.h"

namespace {

std::vector<uint32_t> take_all() {
    std::vector<uint32_t> out(INPUT_QUEUE_SIZE);
    out.resize(input_queue_take(out.data(), out.size()));
    return out;
}

struct InputQueue : ::testing::Test {
    void SetUp() override {
        input_queue_enable(true);
        take_all();
    }
    void TearDown() override { input_queue_enable(false); }
};

TEST_F(InputQueue, KeepsOrderDropsOldestOnOverflowAndNothingWhenOff) {
    input_queue_push(note(60, 127));
    input_queue_push(note(60, 0));
    EXPECT_EQ(take_all(), (std::vector<uint32_t>{note(60, 127), note(60, 0)}));
    EXPECT_TRUE(take_all().empty());

    const uint64_t dropped = input_queue_dropped();
    const size_t extra = 37;
    for (uint32_t i = 0; i < INPUT_QUEUE_SIZE + extra; ++i) input_queue_push(i);
    const std::vector<uint32_t> got = take_all();
    ASSERT_EQ(got.size(), INPUT_QUEUE_SIZE);
    EXPECT_EQ(got.front(), extra);  // the oldest went
    EXPECT_EQ(got.back(), INPUT_QUEUE_SIZE + extra - 1);
    EXPECT_EQ(input_queue_dropped() - dropped, extra);

    // A partial take leaves the rest, in order, for the next.
    for (uint32_t i = 1; i <= 3; ++i) input_queue_push(i);
    uint32_t one = 0;
    ASSERT_EQ(input_queue_take(&one, 1), 1u);
    EXPECT_EQ(one, 1u);
    EXPECT_EQ(take_all(), (std::vector<uint32_t>{2, 3}));

    input_queue_enable(false);
    input_queue_push(note(61, 127));
    EXPECT_TRUE(take_all().empty());
}

// At the boundary: a ring holding exactly its size keeps every message; one
// more drops only the oldest.
TEST_F(InputQueue, KeepsExactlyItsSizeAndDropsOnlyTheOldestOnePast) {
    const uint64_t dropped = input_queue_dropped();
    for (uint32_t i = 0; i < INPUT_QUEUE_SIZE; ++i) input_queue_push(i);
    std::vector<uint32_t> got = take_all();
    ASSERT_EQ(got.size(), INPUT_QUEUE_SIZE);
    EXPECT_EQ(got.front(), 0u);
    EXPECT_EQ(got.back(), INPUT_QUEUE_SIZE - 1);
    EXPECT_EQ(input_queue_dropped(), dropped);

    for (uint32_t i = 0; i < INPUT_QUEUE_SIZE + 1; ++i) input_queue_push(i);
    got = take_all();
    ASSERT_EQ(got.size(), INPUT_QUEUE_SIZE);
    EXPECT_EQ(got.front(), 1u);
    EXPECT_EQ(got.back(), INPUT_QUEUE_SIZE);
    EXPECT_EQ(input_queue_dropped() - dropped, 1u);
}

TEST_F(InputQueue, AWriterThreadLosesNothingTheReaderKeepsUpWith) {
    constexpr uint32_t COUNT = 200000;
    std::thread writer([] {
        for (uint32_t i = 1; i <= COUNT; ++i) input_queue_push(i);
    });
    const uint64_t dropped = input_queue_dropped();
    uint32_t last = 0;
    uint64_t seen = 0;
    bool ordered = true;
    while (last != COUNT) {
        for (uint32_t m : take_all()) {
            ordered = ordered && m > last;
            last = m;
            ++seen;
        }
    }
    writer.join();
    EXPECT_TRUE(ordered);
    EXPECT_EQ(seen + (input_queue_dropped() - dropped), COUNT);
}

// The session's copy of the map stands for every --map it saved; one given
// now still wins, and without a copy the saved words lose only their --map.
TEST(SessionState, TheMapsCopyStandsForTheSavedMap) {
    const std::vector<std::string> saved = {"--map", "/home/u/drums.toml", "--keys", "--map=x.toml", "--map"};
    EXPECT_EQ(session_words(saved, "/s/panel.map.toml", {"--channel", "2"}),
              (std::vector<std::string>{"--keys", "--map", "/s/panel.map.toml", "--channel", "2"}));
    EXPECT_EQ(session_words(saved, "/s/panel.map.toml", {"--map", "none"}),
              (std::vector<std::string>{"--keys", "--map", "/s/panel.map.toml", "--map", "none"}));
    EXPECT_EQ(session_words({"--velocity", "90"}, "", {}), (std::vector<std::string>{"--velocity", "90"}));
}

TEST(SessionState, RoundTripsAndDefaults) {
    SessionState state;
    state.options = {"--channel", "10", "--show-input"};
    state.enabled[1] = false;
    const SessionState back = parse_session_state(session_state_text(state));
    EXPECT_EQ(back.options, state.options);
    EXPECT_TRUE(back.enabled[0]);
    EXPECT_FALSE(back.enabled[1]);
    EXPECT_TRUE(back.enabled[2]);

    const SessionState empty = parse_session_state("");
    EXPECT_TRUE(empty.options.empty());
    EXPECT_TRUE(empty.enabled[0] && empty.enabled[1] && empty.enabled[2]);
    // A short or garbled switches line changes only what it names.
    const SessionState part = parse_session_state("switches 0\njunk line\n");
    EXPECT_FALSE(part.enabled[0]);
    EXPECT_TRUE(part.enabled[1] && part.enabled[2]);

    // The playing options come back as the run had them.
    state.options = {"--keys", "--velocity", "position", "--velocity=90", "--keys"};
    const SessionState played = parse_session_state(session_state_text(state));
    EXPECT_EQ(played.options, state.options);
    // File names as they are: spaces, quotes, backslashes, nothing.
    SessionState named;
    named.options = {"--map", "/home/u/NSM Sessions/drum pad.toml", "--map=a\"b\\c", "", "--keys"};
    EXPECT_EQ(session_state_text(named),
              "# zorve-button session state\noptions --map \"/home/u/NSM Sessions/drum pad.toml\" "
              "\"--map=a\\\"b\\\\c\" \"\" --keys\nswitches 1 1 1\n");
    EXPECT_EQ(parse_session_state(session_state_text(named)).options, named.options);
    std::vector<const char*> argv{"zorve-button"};
    for (const std::string& word : played.options) argv.push_back(word.c_str());
    const ProgramOptions o = parse_program_options(int(argv.size()), argv.data(), OPTIONS_LINUX);
    EXPECT_EQ(o.action, ACTION_RUN);
    EXPECT_TRUE(o.keys);
    EXPECT_EQ(o.velocity, 90);
    EXPECT_FALSE(o.velocity_from_position);
}

}  // namespace
