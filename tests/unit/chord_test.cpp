#include <gtest/gtest.h>

#include "app/app.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"
#include "sim/sim_host.h"

namespace vos {
namespace {

constexpr std::uint32_t On(int note, int velocity = 100, int channel = 0) {
    return static_cast<std::uint32_t>(0x90 | channel) | static_cast<std::uint32_t>(note) << 8 |
           static_cast<std::uint32_t>(velocity) << 16;
}
constexpr std::uint32_t Off(int note, int channel = 0) {
    return static_cast<std::uint32_t>(0x80 | channel) | static_cast<std::uint32_t>(note) << 8 | 0x400000u;
}

class ChordTest : public ::testing::Test {
protected:
    ChordTest() {
        app.recognition.Enabled = true;
        app.program.MainWindow = sim::SimHost::kMainWindow;
    }
    std::vector<std::wstring> Opened() const {
        std::vector<std::wstring> out;
        for (const auto& l : host.launches) out.push_back(l.file);
        return out;
    }
    void Play(std::initializer_list<std::uint32_t> messages) {
        for (std::uint32_t m : messages) HandleMidiData(app, m);
    }
    sim::SimHost host;
    App app{host};
};

TEST(Classify, AllChannelsAndVelocityZero) {
    const struct {
        std::uint32_t message;
        NoteEvent want;
    } cases[] = {
        {On(60), NoteEvent::Press},          {On(60, 100, 15), NoteEvent::Press},
        {On(60, 0), NoteEvent::Release},     {On(60, 0, 9), NoteEvent::Release},
        {Off(60), NoteEvent::Release},       {Off(60, 7) & 0x00FFFF, NoteEvent::Release},
        {0x0040B0, NoteEvent::Other},        {0x00F8, NoteEvent::Other},
        {0x2000E0, NoteEvent::Other},        {0x05C0, NoteEvent::Other},
        {0xA0 | 60 << 8 | 1 << 16, NoteEvent::Other},
    };
    for (const auto& c : cases) EXPECT_EQ(ClassifyMessage(c.message), c.want) << std::hex << c.message;
    EXPECT_EQ(PitchClassOf(On(0)), 0);
    EXPECT_EQ(PitchClassOf(On(71)), 11);
    EXPECT_EQ(PitchClassOf(On(127)), 7);
}

TEST_F(ChordTest, TriadOnAnyOctavesAndChannelsOpensOnThirdKeyAndAgainOnRepress) {
    app.recognition.LaunchCodes = {{0x91, L"C:\\manual.htm", L""}};
    Play({On(36, 90, 0), On(64, 80, 3)});
    EXPECT_TRUE(host.launches.empty());
    Play({On(91, 1, 15)});  // G, third key
    ASSERT_EQ(Opened(), std::vector<std::wstring>{L"C:\\manual.htm"});
    const auto& l = host.launches[0];
    EXPECT_EQ(l.owner, sim::SimHost::kMainWindow);
    EXPECT_EQ(l.operation, L"open");
    EXPECT_EQ(l.parameters, std::optional<std::wstring>(L""));  // empty, not null
    EXPECT_EQ(l.directory, L"");
    EXPECT_EQ(l.show, 5);
    Play({On(48)});  // a second C: the mask is unchanged and still equal
    EXPECT_EQ(host.launches.size(), 2u);
}

TEST_F(ChordTest, ReleasesMatchTooAndClearTheWholePitchClass) {
    app.recognition.LaunchCodes = {{0x91, L"ceg", L""}, {0x10, L"e", L""}};
    Play({On(60), On(64), On(67), On(71)});  // C E G B
    EXPECT_EQ(Opened(), std::vector<std::wstring>{L"ceg"});
    Play({On(71, 0)});  // B released by velocity 0: back to C E G
    EXPECT_EQ(Opened(), (std::vector<std::wstring>{L"ceg", L"ceg"}));
    Play({On(72), Off(60)});  // second C held, one C released: bit cleared anyway
    EXPECT_EQ(app.recognition.HeldNotes, 0x90);
    Play({Off(67)});
    EXPECT_EQ(app.recognition.HeldNotes, 0x10);
    EXPECT_EQ(Opened().back(), L"e");
    Play({Off(64)});
    EXPECT_EQ(app.recognition.HeldNotes, 0);
    // Two keys of one pitch class let go one after the other, by either kind of release: the
    // second release finds the class already clear and must leave it clear, or E alone would
    // never match again.
    for (std::uint32_t first : {Off(36), On(36, 0)}) {
        for (std::uint32_t second : {Off(84), On(84, 0)}) {
            Play({On(36), On(84), first, second});
            EXPECT_EQ(app.recognition.HeldNotes, 0) << std::hex << first << " " << second;
        }
    }
    const std::size_t opened = host.launches.size();
    Play({On(64)});
    ASSERT_EQ(host.launches.size(), opened + 1);
    EXPECT_EQ(Opened().back(), L"e");
}

TEST_F(ChordTest, EqualCodesOpenInListOrderWithTheirParameters) {
    app.recognition.LaunchCodes = {{0x800, L"first", L"-a"},
                                   {0x1, L"other", L""},
                                   {0x800, L"second", L""},
                                   {0x800, L"third", L"x y"}};
    Play({On(59)});
    EXPECT_EQ(Opened(), (std::vector<std::wstring>{L"first", L"second", L"third"}));
    EXPECT_EQ(host.launches[2].parameters, std::optional<std::wstring>(L"x y"));
    // Settings applied while the shell opens the first leave a shorter list: the pass ends there.
    host.insideModalLoop = [&](const std::wstring&) { app.recognition.LaunchCodes.clear(); };
    host.launches.clear();
    Play({Off(59), On(59)});
    EXPECT_EQ(Opened(), std::vector<std::wstring>{L"first"});
}

// Nothing is forwarded or opened while recognition is off, but the keys are followed: a key let go
// meanwhile is not still "held" when recognition comes back.
TEST_F(ChordTest, WhileRecognitionIsOffKeysAreFollowedButNothingHappens) {
    app.recognition.LaunchCodes = {{0x1, L"c", L""}, {0x10, L"e", L""}};
    MidiHandle out = 0;
    host.midiOutOpen(out, 0, 0, 0, 0);
    app.ports.MidiOutHandle = out;
    app.ports.MidiOutPort = Port::Open;
    Play({On(60), On(64)});
    host.launches.clear();
    host.sent.clear();
    app.recognition.Enabled = false;
    Play({On(62), Off(62), Off(60), 0x0040B0});
    EXPECT_TRUE(host.launches.empty());
    EXPECT_TRUE(host.sent.empty());
    EXPECT_EQ(app.recognition.HeldNotes, 0x10);
    EXPECT_EQ(app.ports.SoundingNotes[0].count(), 2u) << "what the output heard, unchanged";
    app.recognition.Enabled = true;
    Play({Off(64), On(64)});
    EXPECT_EQ(Opened(), std::vector<std::wstring>{L"e"}) << "E alone, as really held";
}

// Wherever forwarding stops, the all-notes-off of channel 1, then exactly what thru left sounding:
// a note-off for each note forwarded and not released, on its own channel, and a release of each
// pedal forwarded down.
TEST_F(ChordTest, SilencingReleasesExactlyWhatThruLeftSounding) {
    const std::uint32_t kSilence = 0x7CB0;
    const struct {
        const char* label;
        std::vector<std::uint32_t> played;
        std::vector<std::uint32_t> released;  // after the all-notes-off
    } cases[] = {
        {"nothing held", {On(60), Off(60), On(62, 0, 1)}, {}},
        {"notes on three channels, pedals down", {On(64, 90, 9), On(60), 0x7F40B1, On(61, 80, 1), 0x7F42B9},
         {0x400080 | 60 << 8, 0x400081 | 61 << 8, 0x0040B1, 0x400089 | 64 << 8, 0x0042B9}},
        {"released by velocity 0 and note-off, pedal up again",
         {On(60), On(67), On(60, 0), Off(67), 0x7F43B2, 0x0043B2, On(72, 5, 15)},
         {0x40008F | 72 << 8}},
        {"all notes off from the keyboard, controllers reset", {On(60, 9, 3), 0x007BB3, 0x7F40B4, 0x0079B4}, {}},
        {"bytes that are not data", {0x80C090, 0x3C8090}, {}},
        {"pedals at the edge of down", {0x4040B0, 0x3F42B0, 0x4043B5, 0x4042B5, 0x3F42B5}, {0x0040B0, 0x0043B5}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost h;
        App a(h);
        a.recognition.Enabled = true;
        h.midiOutOpen(a.ports.MidiOutHandle, 0, 0, 0, 0);
        a.ports.MidiOutPort = Port::Open;
        for (std::uint32_t m : c.played) HandleMidiData(a, m);
        h.sent.clear();
        SilenceMidiOut(a);
        std::vector<std::uint32_t> want = {kSilence};
        want.insert(want.end(), c.released.begin(), c.released.end());
        EXPECT_EQ(h.sent, want);
        h.sent.clear();
        SilenceMidiOut(a);
        EXPECT_EQ(h.sent, std::vector<std::uint32_t>{kSilence}) << "released once only";
    }
}

TEST_F(ChordTest, ThruForwardsEveryMessageFirstButTracksOnlyNotes) {
    app.recognition.LaunchCodes = {{0x1, L"c", L""}};
    MidiHandle out = 0;
    host.midiOutOpen(out, 0, 0, 0, 0);
    app.ports.MidiOutHandle = out;
    app.ports.MidiOutPort = Port::Open;
    const std::vector<std::uint32_t> stream = {0x0040B0, 0x2000E0, 0xF8, 0xFE, 0x05C3, On(60)};
    for (std::uint32_t m : stream) HandleMidiData(app, m);
    EXPECT_EQ(host.sent, stream);
    EXPECT_EQ(app.recognition.HeldNotes, 0x1);
    // The note was forwarded before the shell was asked to open anything.
    auto calls = host.Named({"midiOutShortMsg", "ShellExecute"});
    ASSERT_EQ(calls.size(), stream.size() + 1);
    EXPECT_EQ(calls.back().name, "ShellExecute");
}

// Learning: what is reported after each key, with a launch code for every chord played so a
// launch would show, and thru on so the player hears every note.
TEST_F(ChordTest, LearningTakesTheFullestMomentLaunchesNothingAndStillForwards) {
    const struct {
        const char* name;
        std::vector<std::uint32_t> played;
        std::vector<std::int32_t> chords;  // what each key reported as learnt (0: not yet)
        std::vector<std::int32_t> held;
    } cases[] = {
        {"triad", {On(60), On(64), On(67), Off(64), Off(60), On(67, 0)},
         {0, 0, 0, 0, 0, 0x91}, {0x1, 0x11, 0x91, 0x81, 0x80, 0}},
        {"arpeggio, each key let go before the next",
         {On(60), Off(60), On(64), Off(64)}, {0, 0x1, 0, 0x10}, {0x1, 0, 0x10, 0}},
        {"legato: the fullest moment, the first of equals",
         {On(60), On(64), Off(60), On(67), On(71), Off(64), Off(67), Off(71)},
         {0, 0, 0, 0, 0, 0, 0, 0x890}, {0x1, 0x11, 0x10, 0x90, 0x890, 0x880, 0x800, 0}},
        {"one of two Cs let go ends nothing",
         {On(48), On(60), On(64), Off(48), Off(60, 3), Off(64)},
         {0, 0, 0, 0, 0, 0x11}, {0x1, 0x1, 0x11, 0x11, 0x10, 0}},
        {"controllers and a release of a key held before", {0x0040B0, Off(62)}, {0}, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost h;
        App a(h);
        a.recognition.Enabled = true;
        a.ports.MidiOutPort = Port::Open;
        h.midiOutOpen(a.ports.MidiOutHandle, 0, 0, 0, 0);
        a.ports.MidiInHandle = 0x1234;  // the input in use: learning opens nothing of its own
        a.recognition.LaunchCodes = {{0x91, L"triad", L""},
                                     {0x1, L"C", L""},
                                     {0x890, L"E-G-B", L""},
                                     {0x11, L"C-E", L""},
                                     {0x10, L"E", L""}};
        std::vector<std::int32_t> chords, held;
        ASSERT_TRUE(StartLearning(a, 5, [&](std::int32_t now, std::int32_t chord) {
            held.push_back(now);
            chords.push_back(chord);
        }));
        for (std::uint32_t m : c.played) HandleMidiData(a, m);
        EXPECT_EQ(chords, c.chords);
        EXPECT_EQ(held, c.held);
        EXPECT_TRUE(h.launches.empty());
        EXPECT_EQ(h.sent, c.played) << "thru goes on while learning";
        EXPECT_TRUE(h.Named({"midiInOpen", "midiInClose"}).empty());
        EXPECT_EQ(a.ports.MidiInHandle, 0x1234u);
        StopLearning(a);
        HandleMidiData(a, On(60));
        EXPECT_EQ(h.launches.size(), a.recognition.HeldNotes == 0x1 ? 1u : 0u)
            << "recognition is back";
    }
}

}  // namespace
}  // namespace vos
