// The X11 adapter's rules that need no X server: how titles are decoded, and when a
// window retitling itself is polled instead of followed (by the server's timestamps).

#include <gtest/gtest.h>

#include <QString>
#include <cstdint>

#include "platform/x11/retitle_storm.h"
#include "platform/x11/x11_text.h"

namespace {

TEST(X11Text, CompoundTextDecodesLatin1AndUtf8Segments) {
    using x11text::decodeCompoundText;
    EXPECT_EQ(decodeCompoundText("plain"), QStringLiteral("plain"));
    EXPECT_EQ(decodeCompoundText("Caf\xe9"), QStringLiteral("Café"));
    EXPECT_EQ(decodeCompoundText("a\x1b%G\xe2\x9c\x93\xe6\x97\xa5\x1b%@b"), QStringLiteral("a✓日b"));
    // A UTF-8 segment left open runs to the end; invalid bytes in it become U+FFFD.
    EXPECT_EQ(decodeCompoundText("x\x1b%G\xff"), QStringLiteral("x\uFFFD"));
    // Explicit designations of ASCII and the Latin-1 upper half.
    EXPECT_EQ(decodeCompoundText("\x1b(B\x1b-A\xe0!"), QStringLiteral("à!"));
    // An unknown 96-character set: one replacement per character; a double-byte set: one
    // per pair; ASCII again afterwards.
    EXPECT_EQ(decodeCompoundText("\x1b-B\xe0\xe1"), QStringLiteral("\uFFFD\uFFFD"));
    EXPECT_EQ(decodeCompoundText("\x1b$(B\x30\x42\x30\x44\x1b(Bok"), QStringLiteral("\uFFFD\uFFFDok"));
    // Direction sequences carry no text; a truncated escape ends the text quietly.
    EXPECT_EQ(decodeCompoundText("\x9b" "1]ab\x9b]"), QStringLiteral("ab"));
    EXPECT_EQ(decodeCompoundText("ab\x1b"), QStringLiteral("ab"));
    EXPECT_EQ(decodeCompoundText("ab\x1b$"), QStringLiteral("ab"));
    EXPECT_EQ(decodeCompoundText(QByteArray("a\0b", 3)), QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
}

// `events` title events `gap` ms apart from `start`: whether the last one began a storm.
bool stormAfter(x11::RetitleStorm& storm, int events, std::uint32_t gap, std::uint32_t start = 1000) {
    bool polled = false;
    for (int i = 0; i < events; ++i) polled = storm.titleEvent(start + std::uint32_t(i) * gap);
    return polled;
}

TEST(RetitleStorm, MoreThanEightQuickTitleEventsArePolledUntilThreeQuietReads) {
    using x11::RetitleStorm;
    static_assert(RetitleStorm::kBurstEvents == 8 && RetitleStorm::kBurstGapMs == 100);
    // Eight events, each within 100 ms of the one before: still followed; the ninth polls.
    RetitleStorm storm;
    EXPECT_FALSE(stormAfter(storm, 8, 100));
    EXPECT_TRUE(storm.titleEvent(1000 + 8 * 100));
    // A gap of 101 ms starts the count afresh, whatever came before.
    RetitleStorm slow;
    EXPECT_FALSE(stormAfter(slow, 40, 101));
    EXPECT_FALSE(stormAfter(slow, 8, 50, 100000));
    // The server's clock wraps around without ending a storm.
    RetitleStorm wrapping;
    EXPECT_TRUE(stormAfter(wrapping, 9, 10, 0xFFFFFFC0u));

    // Polled: the title must hold still for three reads in a row; a change starts over.
    EXPECT_FALSE(storm.polledRead(false));
    EXPECT_FALSE(storm.polledRead(false));
    EXPECT_FALSE(storm.polledRead(true));
    EXPECT_FALSE(storm.polledRead(false));
    EXPECT_FALSE(storm.polledRead(false));
    EXPECT_TRUE(storm.polledRead(false));
    // Followed again: a retitle right after the quiet reads is one event of a new count.
    EXPECT_FALSE(stormAfter(storm, 8, 10, 1850));
    EXPECT_TRUE(storm.titleEvent(1850 + 8 * 10));
}

}  // namespace
