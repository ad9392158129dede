// The flags the engine starts with: the person's own kept, the script heap bound added.

#include <gtest/gtest.h>

#include "platform/webengine/engine_flags.h"

using webengine::joinEngineFlags;
using webengine::splitEngineFlags;
using webengine::withPageHeapBound;

TEST(EngineFlags, ThePersonsFlagsStayAsTheyWereAndTheirV8FlagsFollowTheBound) {
    const QString bound = QStringLiteral("--js-flags=--max-old-space-size=%1").arg(webengine::kPageHeapMiB);
    EXPECT_EQ(withPageHeapBound({}), QStringList{bound});

    // Quotes keep blanks together and go, as the engine reads the variable.
    const QString line = QStringLiteral(R"(  --disable-gpu --user-agent="A B"  "--lang=en" --js-flags="--expose-gc --max-old-space-size=2048" -js-flags=--jitless --x)");
    const QStringList split = splitEngineFlags(line);
    EXPECT_EQ(split, QStringList({QStringLiteral("--disable-gpu"), QStringLiteral("--user-agent=A B"),
                                  QStringLiteral("--lang=en"),
                                  QStringLiteral("--js-flags=--expose-gc --max-old-space-size=2048"),
                                  QStringLiteral("-js-flags=--jitless"), QStringLiteral("--x")}));
    const QStringList merged = withPageHeapBound(split);
    EXPECT_EQ(merged, QStringList({QStringLiteral("--disable-gpu"), QStringLiteral("--user-agent=A B"),
                                   QStringLiteral("--lang=en"),
                                   bound + QStringLiteral(" --expose-gc --max-old-space-size=2048 --jitless"),
                                   QStringLiteral("--x")}));
    // The line given to the engine reads back as those flags.
    EXPECT_EQ(splitEngineFlags(joinEngineFlags(merged)), merged);
}
