// Named shared memory: create, "already existed", read-only open, move, and the name's end.
#include "common/platform/SharedMemory.h"

#include "common/platform/FileSystem.h"
#include "tests/handoff/HandOffTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

namespace {

using platform::SharedMemory;

TEST(SharedMemoryTest, CreatedBlockIsSeenReadOnlyByAnotherOpenAndVanishesWithItsCreator) {
    const std::u16string name = handofftest::UniqueBlockName();
    SharedMemory reader;
    EXPECT_FALSE(reader.OpenReadOnly(name));
    EXPECT_EQ(platform::LastFileError(), platform::kErrorFileNotFound);

    SharedMemory writer;
    bool existed = true;
    ASSERT_TRUE(writer.Create(name, 520, existed));
    EXPECT_FALSE(existed);
    ASSERT_TRUE(writer.Map());
    ASSERT_GE(writer.ViewSize(), 520u);
    std::memcpy(writer.WritableView(), "hello", 6);

    SharedMemory second;
    ASSERT_TRUE(second.Create(name, 520, existed));
    EXPECT_TRUE(existed);
    EXPECT_EQ(platform::LastFileError(), platform::kErrorAlreadyExists);
    second.Close();

    ASSERT_TRUE(reader.OpenReadOnly(name));
    ASSERT_TRUE(reader.Map());
    EXPECT_EQ(reader.WritableView(), nullptr);
    EXPECT_STREQ(static_cast<const char*>(reader.View()), "hello");
    EXPECT_NE(reader.HandleValue(), 0u);

    // Moving hands over the handle and the view; the source is left closed.
    SharedMemory moved(std::move(reader));
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_FALSE(reader.IsMapped());
    EXPECT_TRUE(moved.IsMapped());
    EXPECT_STREQ(static_cast<const char*>(moved.View()), "hello");
    moved = SharedMemory();
    EXPECT_FALSE(moved.IsOpen());

    writer.Close();
    EXPECT_FALSE(writer.IsMapped());
    EXPECT_EQ(writer.HandleValue(), 0u);
    SharedMemory late;
    EXPECT_FALSE(late.OpenReadOnly(name));
}

TEST(SharedMemoryTest, MapWithoutABlockFails) {
    SharedMemory none;
    EXPECT_FALSE(none.Map());
    EXPECT_EQ(platform::LastFileError(), platform::kErrorInvalidHandle);
}

} // namespace
